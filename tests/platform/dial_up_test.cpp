#include "platform/dial_up.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

// A stand-in for nmcli: it records every call's arguments (and the content of
// a passwd-file) in calls.log and answers from the files beside it.
const char* FakeNmcli = R"(#!/bin/sh
dir=$(dirname "$0")
for a in "$@"; do printf '[%s]' "$a" >> "$dir/calls.log"; done
echo >> "$dir/calls.log"
prev=
for a in "$@"; do
  if [ "$prev" = passwd-file ]; then sed 's/^/SECRET /' "$a" >> "$dir/calls.log"; fi
  prev=$a
done
case "$*" in
  --version) echo "nmcli tool, version 1.42.4" ;;
  *"connection show --active") cat "$dir/active.txt" 2>/dev/null ;;
  *"connection show") cat "$dir/all.txt" 2>/dev/null ;;
  *"connection up"*)
    code=$(cat "$dir/upcode" 2>/dev/null || echo 0)
    if [ "$code" != 0 ]; then echo "Error: Connection activation failed: modem busy" >&2; fi
    exit "$code" ;;
esac
exit 0
)";

class NmcliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.WriteFile("nmcli", FakeNmcli));
        chmod(Dir.File("nmcli").c_str(), 0755);
        Dir.WriteFile("all.txt",
                      "Wired connection 1:1111:802-3-ethernet\n"
                      "Beeline\\: 3G:2222:gsm\n"
                      "DSL:3333:pppoe\n"
                      "Office VPN:4444:vpn\n"
                      "Old modem:5555:cdma\n");
        const char* path = std::getenv("PATH");
        OldPath = path ? path : "";
        setenv("PATH", (Dir.Path() + ":" + OldPath).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", OldPath.c_str(), 1); }
    std::vector<std::string> Calls() const {
        std::vector<std::string> lines;
        std::string all = Dir.ReadFile("calls.log");
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            lines.push_back(all.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    TempDir Dir;
    std::string OldPath;
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
    EXPECT_EQ(Nmcli.Dial("DSL", "ivan", "pa:ss word", handle), 0);
    EXPECT_EQ(handle, "3333");
    std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], "[--version]");
    EXPECT_EQ(calls[2], "[connection][modify][uuid][3333][pppoe.username][ivan]");
    EXPECT_EQ(calls[3], "[connection][up][uuid][3333][passwd-file][/dev/fd/3]");
    EXPECT_EQ(calls[4], "SECRET pppoe.password:pa:ss word");
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(calls[i].find("pa:ss"), std::string::npos) << calls[i];
}

TEST_F(NmcliTest, DialWithoutUserOrPasswordKeepsTheConnectionsOwnSettings) {
    std::string handle;
    EXPECT_EQ(Nmcli.Dial("Beeline: 3G", "", "", handle), 0);
    std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2], "[connection][up][uuid][2222]");
}

TEST_F(NmcliTest, FailedDialGivesNmclisOwnMessage) {
    Dir.WriteFile("upcode", "4\n");
    std::string handle, text;
    int code = Nmcli.Dial("Old modem", "", "x", handle);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(handle, "5555");
    ASSERT_TRUE(Nmcli.ErrorText(code, text));
    EXPECT_EQ(text, "Error: Connection activation failed: modem busy");
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
    for (const auto& call : Calls()) EXPECT_EQ(call.find("[up]"), std::string::npos) << call;
}

TEST_F(NmcliTest, HangUpListsActiveDialUpConnectionsAndTakesOneDown) {
    Dir.WriteFile("active.txt", "Wired connection 1:1111:802-3-ethernet\nDSL:3333:pppoe\n");
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
