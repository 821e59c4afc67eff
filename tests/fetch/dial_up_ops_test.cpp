#include "fetch/dial_up_ops.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_dial_up.h"

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

}  // namespace
