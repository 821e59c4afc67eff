#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "cli_fixture.h"
#include "tasks/task_store.h"

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> Download = {"download",    "--zoom", "13",         "--from",
                                           "55.80,37.50", "--to",   "55.70,37.70"};

std::vector<std::string> Plus(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST_F(CliTest, ARecordOfAnotherTaskIsRefusedNamingTheDifference) {
    StartServer();
    WriteSettings(Folder.Path());
    const std::string record = Folder.File("task.json");
    ASSERT_EQ(Run(Plus(Download, {"--state", record}), Folder.Path()).Status, 0);
    const std::string before = Folder.ReadFile("task.json");
    const struct {
        std::vector<std::string> Args;
        const char* Difference;
    } cases[] = {
        {{"download", "--zoom", "12", "--from", "55.80,37.50", "--to", "55.70,37.70"},
         "the zooms: 13-13 in the record, 12-12 here"},
        {{"download", "--zoom", "13", "--from", "55.80,37.50", "--to", "55.60,37.70"},
         "the region: "},
        {{"stitch", "--zoom", "13", "--from", "55.80,37.50", "--to", "55.70,37.70", "--out",
          Folder.File("a.jpg")},
         "the task: download in the record, stitch here"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Difference);
        const CliResult r = Run(Plus(c.Args, {"--state", record}), Folder.Path());
        EXPECT_EQ(r.Status, 1);
        EXPECT_NE(r.Err.find(record + " records another task: " + c.Difference), std::string::npos)
            << r.Err;
        EXPECT_EQ(Folder.ReadFile("task.json"), before) << "the record is left alone";
    }
    Folder.WriteFile("bad.json", "{\"Version\": 9, \"Tasks\": []}");
    const CliResult bad = Run(Plus(Download, {"--state", Folder.File("bad.json")}), Folder.Path());
    EXPECT_EQ(bad.Status, 1);
    EXPECT_NE(bad.Err.find("newer version"), std::string::npos) << bad.Err;
}

TEST_F(CliTest, RetryFailedAsksForExactlyTheTilesThatFailed) {
    // Two tiles are missing on the server the first time they are asked for.
    const auto all = RegionTileList(13);
    const std::set<std::string> failing{all[1], all[4]};
    std::map<std::string, int> served;
    std::mutex servedMutex;
    StartServer({}, [&](const std::string& letters) -> std::optional<std::string> {
        std::lock_guard<std::mutex> lock(servedMutex);
        if (failing.count(letters) && served[letters]++ == 0) return std::nullopt;
        return MakeTileJpeg(256, 256, 1);
    });
    WriteSettings(Folder.Path(), [](MainState& s) { s.ErrorControl = false; });
    const std::string record = Folder.File("task.json");
    const CliResult first = Run(Plus(Download, {"--state", record}), Folder.Path());
    EXPECT_EQ(first.Status, 3) << first.Err;
    EXPECT_EQ(first.LastLine(), "vistrel-cli: " + std::to_string(all.size()) + " tiles, " +
                                    std::to_string(all.size() - 2) +
                                    " obtained, 2 failed, 0 skipped");
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Asked.clear();
    }
    const CliResult retry =
        Run(Plus(Download, {"--state", record, "--retry-failed"}), Folder.Path());
    EXPECT_EQ(retry.Status, 0) << retry.Err;
    EXPECT_EQ(retry.LastLine(), "vistrel-cli: 2 tiles, 2 obtained, 0 failed, 0 skipped");
    for (int i = 0; i < 200 && AskedTiles().size() < 2; ++i) std::this_thread::sleep_for(10ms);
    std::set<std::string> asked;
    for (const auto& [letters, times] : AskedTiles()) asked.insert(letters);
    EXPECT_EQ(asked, failing);
    EXPECT_EQ(CachedTiles(Folder.Path()).size(), all.size());
}

}  // namespace
