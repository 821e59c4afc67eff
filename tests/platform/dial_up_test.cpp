#include "platform/dial_up.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_nmcli.h"

namespace {

class NmcliTest : public ::testing::Test {
  protected:
    std::vector<std::string> Calls() const { return Fake.Calls(); }
    static bool Has(const std::vector<std::string>& calls, const std::string& part) {
        for (const auto& c : calls)
            if (c.find(part) != std::string::npos) return true;
        return false;
    }

    FakeNmcli Fake;
    NmcliDialUp Nmcli;  // found on PATH
};

TEST_F(NmcliTest, EntriesAreTheDialUpKindsInNmcliOrder) {
    std::vector<std::string> names;
    ASSERT_TRUE(Nmcli.ListEntries(names));
    EXPECT_EQ(names, (std::vector<std::string>{"Beeline: 3G", "DSL", "Old modem"}));
    EXPECT_EQ(Calls(), std::vector<std::string>{"[-t][-f][NAME,UUID,TYPE][connection][show]"});
}

TEST_F(NmcliTest, DialHandsThePasswordOverThroughAPipeNotTheArguments) {
    std::string handle;
    EXPECT_EQ(Nmcli.Dial("DSL", "", "pa:ss word", handle), 0);
    EXPECT_EQ(handle, "3333");
    std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], "[--version]");
    EXPECT_EQ(calls[2], "[-t][-f][NAME,UUID,TYPE][connection][show][--active]");
    EXPECT_EQ(calls[3], "[connection][up][uuid][3333][passwd-file][/dev/fd/3]");
    EXPECT_EQ(calls[4], "SECRET pppoe.password:pa:ss word");
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(calls[i].find("pa:ss"), std::string::npos) << calls[i];
}

TEST_F(NmcliTest, TheUserNameIsSetInMemoryForTheDialAndPutBack) {
    struct Case {
        const char* Stored;  // what the profile holds
        const char* User;    // what the dialog gives
        std::vector<std::string> Modifies;
    };
    const std::string modify = "[connection][modify][--temporary][uuid][3333][pppoe.username]";
    const Case cases[] = {
        {"olduser\n", "ivan", {modify + "[ivan]", modify + "[olduser]"}},
        {"\n", "ivan", {modify + "[ivan]", modify + "[]"}},
        {"ivan\n", "ivan", {}},
        {"olduser\n", "", {}},
    };
    for (const Case& c : cases) {
        FakeNmcli fake;
        fake.Set("username", c.Stored);
        std::string handle;
        EXPECT_EQ(NmcliDialUp().Dial("DSL", c.User, "", handle), 0);
        std::vector<std::string> modifies;
        for (const auto& call : fake.Calls())
            if (call.find("[modify]") != std::string::npos) modifies.push_back(call);
        EXPECT_EQ(modifies, c.Modifies) << c.Stored << " -> " << c.User;
    }
}

TEST_F(NmcliTest, AConnectionUpBeforeTheDialIsNeitherDialledNorHandedBack) {
    Fake.Set("active.txt", "DSL:3333:pppoe\n");
    std::string handle = "stale";
    EXPECT_EQ(Nmcli.Dial("DSL", "ivan", "secret", handle), 0);
    EXPECT_EQ(handle, "");
    EXPECT_FALSE(Has(Calls(), "[up]"));
    EXPECT_FALSE(Has(Calls(), "[modify]"));
}

TEST_F(NmcliTest, AFailedDialGivesNmclisOwnMessage) {
    struct Case {
        const char *FakeFile, *FakeCode, *Entry, *User, *Password;
        int Code;
        const char *Handle, *Text;
        bool Dialled;
    };
    const Case cases[] = {
        // The user name could not be set: nothing is dialled, nothing handed back.
        {"modifycode", "1\n", "DSL", "ivan", "", 1, "",
         "Error: Failed to modify connection: not authorized", false},
        {"upcode", "4\n", "Old modem", "", "x", 4, "5555",
         "Error: Connection activation failed: modem busy", true},
    };
    // In this order: the second case sets no user name, so the first one's
    // failing modify stays out of its way.
    for (const Case& c : cases) {
        Fake.Set(c.FakeFile, c.FakeCode);
        std::string handle, text;
        const int code = Nmcli.Dial(c.Entry, c.User, c.Password, handle);
        EXPECT_EQ(code, c.Code) << c.FakeFile;
        EXPECT_EQ(handle, c.Handle) << c.FakeFile;
        ASSERT_TRUE(Nmcli.ErrorText(code, text));
        EXPECT_EQ(text, c.Text);
        EXPECT_EQ(Has(Calls(), "[up]"), c.Dialled) << c.FakeFile;
    }
}

TEST_F(NmcliTest, NetworkManagerStoppedIsSaidSo) {
    Fake.Set("stopped", "");
    std::vector<std::string> names{"stale"};
    EXPECT_FALSE(Nmcli.ListEntries(names));
    EXPECT_TRUE(names.empty());
    std::string handle, text;
    int code = Nmcli.Dial("DSL", "ivan", "p", handle);
    EXPECT_EQ(code, 8);
    EXPECT_EQ(handle, "");
    ASSERT_TRUE(Nmcli.ErrorText(code, text));
    EXPECT_EQ(text, "NetworkManager не запущен");
}

TEST_F(NmcliTest, OnlyDialUpEntriesCanBeDialled) {
    std::string handle, text;
    // Bringing up the LAN or a VPN by name is not a dial.
    int code = Nmcli.Dial("Office VPN", "", "", handle);
    EXPECT_EQ(code, NmcliDialUp::ErrorNoEntry);
    ASSERT_TRUE(Nmcli.ErrorText(code, text));
    EXPECT_NE(text.find("Office VPN"), std::string::npos);
    EXPECT_EQ(Nmcli.Dial("нет подключений", "", "", handle), NmcliDialUp::ErrorNoEntry);
    // A line break would forge a second passwd-file line.
    EXPECT_EQ(Nmcli.Dial("DSL", "", "a\nvpn.secrets:b", handle), NmcliDialUp::ErrorBadText);
    EXPECT_FALSE(Has(Calls(), "[up]"));
}

TEST_F(NmcliTest, HangUpListsActiveDialUpConnectionsAndTakesOneDown) {
    Fake.Set("active.txt", "Wired connection 1:1111:802-3-ethernet\nDSL:3333:pppoe\n");
    std::vector<std::string> handles;
    ASSERT_TRUE(Nmcli.ListConnections(handles));
    EXPECT_EQ(handles, std::vector<std::string>{"3333"});
    Nmcli.HangUp("3333");
    std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "[-t][-f][NAME,UUID,TYPE][connection][show][--active]");
    EXPECT_EQ(calls[1], "[connection][down][uuid][3333]");
}

TEST(NmcliMissing, NoEntriesAndADialThatFailsWithAClearText) {
    NmcliDialUp missing("/nonexistent/nmcli");
    std::vector<std::string> names{"stale"};
    EXPECT_FALSE(missing.ListEntries(names));
    EXPECT_TRUE(names.empty());
    std::string handle, text;
    int code = missing.Dial("DSL", "u", "p", handle);
    EXPECT_EQ(code, NmcliDialUp::ErrorNoNmcli);
    ASSERT_TRUE(missing.ErrorText(code, text));
    EXPECT_NE(text.find("nmcli"), std::string::npos);
    std::vector<std::string> handles;
    EXPECT_FALSE(missing.ListConnections(handles));
}

TEST(NmcliTerse, EscapedColonsAndBackslashesStayInTheirField) {
    EXPECT_EQ(NmcliDialUp::SplitTerseLine("a\\:b:c\\\\d:"),
              (std::vector<std::string>{"a:b", "c\\d", ""}));
}

TEST(RunProgram, ReportsExitStatusAndCollectsBothStreams) {
    std::string out;
    EXPECT_EQ(RunProgram({"sh", "-c", "echo out; echo err >&2; exit 3"}, out), 3);
    EXPECT_EQ(out, "out\nerr\n");
    const std::string secret = "line\n";
    EXPECT_EQ(RunProgram({"sh", "-c", "cat /dev/fd/3"}, out, &secret), 0);
    EXPECT_EQ(out, "line\n");
    EXPECT_EQ(RunProgram({"no-such-program-here"}, out), 127);
}

}  // namespace
