#include "fetch/dial_up_ops.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_dial_up.h"
#include "support/fake_nmcli.h"

namespace {

class DialSink : public UiSink {
  public:
    void SetProgressStatus(const std::string& text) override { Statuses.push_back(text); }
    void ShowDialError(const std::string& text) override { Errors.push_back(text); }
    std::vector<std::string> Statuses, Errors;
};

class DialUpOpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        State.Sink = &Sink;
        State.DialUpService = &Fake;
    }
    MainState State;
    DialSink Sink;
    FakeDialUp Fake;
};

TEST_F(DialUpOpsTest, SuccessfulDialPassesTheTextsAndShowsNoError) {
    Fake.Entries = {"Home"};
    EXPECT_TRUE(DialConnection(State, "Home", "ivan", "secret"));
    ASSERT_EQ(Fake.Dials.size(), 1u);
    EXPECT_EQ(Fake.Dials[0].Entry, "Home");
    EXPECT_EQ(Fake.Dials[0].User, "ivan");
    EXPECT_EQ(Fake.Dials[0].Password, "secret");
    EXPECT_TRUE(Fake.HungUp.empty());
    EXPECT_EQ(Sink.Statuses, std::vector<std::string>{"Подключение..."});
    EXPECT_TRUE(Sink.Errors.empty());
}

TEST_F(DialUpOpsTest, FailedDialHangsUpItsHandleAndReportsTheTextOnce) {
    Fake.FailingEntries["Modem"] = 678;
    Fake.ErrorTexts[678] = "Удаленный компьютер не отвечает";
    EXPECT_FALSE(DialConnection(State, "Modem", "", ""));
    EXPECT_EQ(Fake.HungUp, std::vector<std::string>{"conn:Modem"});
    EXPECT_EQ(Sink.Errors, std::vector<std::string>{"Удаленный компьютер не отвечает"});
}

TEST_F(DialUpOpsTest, FailedDialWithoutErrorTextShowsNothing) {
    // "нет подключений" dialled as a name: the service has no text for it.
    Fake.FailingEntries["нет подключений"] = 623;
    EXPECT_FALSE(DialConnection(State, "нет подключений", "", ""));
    EXPECT_TRUE(Sink.Errors.empty());
}

TEST_F(DialUpOpsTest, HangUpAllTakesDownEveryConnectionNotOnlyOurs) {
    Fake.Active = {"theirs", "ours"};
    HangUpAll(State);
    EXPECT_TRUE(Fake.Active.empty());
    // The last one listed goes first.
    EXPECT_EQ(Fake.HungUp, (std::vector<std::string>{"ours", "theirs"}));
    EXPECT_EQ(Sink.Statuses, std::vector<std::string>{"Отключение..."});
}

TEST_F(DialUpOpsTest, HangUpAllWithNothingActiveReturnsAfterOneListing) {
    HangUpAll(State);
    EXPECT_TRUE(Fake.HungUp.empty());
    EXPECT_EQ(Fake.ListConnectionCalls, 1);
    Fake.ConnectionsFail = true;
    Fake.Active = {"a"};
    HangUpAll(State);
    EXPECT_TRUE(Fake.HungUp.empty());
}

TEST_F(DialUpOpsTest, HangUpAllEndsWhenAConnectionWillNotGoDown) {
    Fake.Active = {"free", "stuck"};
    Fake.Stuck = {"stuck"};
    HangUpAll(State);
    // The stuck one is retried a few times, the other one still goes.
    EXPECT_EQ(Fake.Active, std::vector<std::string>{"stuck"});
    EXPECT_LE(Fake.HungUp.size(), 10u);
    EXPECT_NE(std::find(Fake.HungUp.begin(), Fake.HungUp.end(), "free"), Fake.HungUp.end());
}

// Through NetworkManager's own tool: a failed dial takes down only what it
// set out to bring up, and never leaves the user's profile changed.
TEST_F(DialUpOpsTest, AFailedNmcliDialHangsUpOnlyWhatItBroughtUp) {
    struct Case {
        const char* Name;
        const char* File;  // set in the fake before the dial
        const char* Text;
        bool Connected, Down;
    };
    const Case cases[] = {
        {"the user's connection is up already", "active.txt", "DSL:3333:pppoe\n", true, false},
        {"the user name cannot be set", "modifycode", "1\n", false, false},
        {"NetworkManager is stopped", "stopped", "", false, false},
        {"the dial itself fails", "upcode", "4\n", false, true},
    };
    for (const Case& c : cases) {
        FakeNmcli nmcli;
        nmcli.Set("username", "stored\n");
        nmcli.Set(c.File, c.Text);
        NmcliDialUp service;
        State.DialUpService = &service;
        Sink.Errors.clear();
        EXPECT_EQ(DialConnection(State, "DSL", "ivan", "secret"), c.Connected) << c.Name;
        bool down = false;
        for (const auto& call : nmcli.Calls()) {
            if (call.find("[down]") != std::string::npos) down = true;
            if (call.find("[modify]") != std::string::npos) {
                EXPECT_NE(call.find("[--temporary]"), std::string::npos) << c.Name << ": " << call;
            }
        }
        EXPECT_EQ(down, c.Down) << c.Name;
        EXPECT_EQ(Sink.Errors.size(), c.Connected ? 0u : 1u) << c.Name;
    }
    State.DialUpService = &Fake;
}

}  // namespace
