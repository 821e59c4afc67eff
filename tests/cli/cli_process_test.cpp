#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "cli_fixture.h"
#include "support/sql_query.h"
#include "support/tile_factory.h"
#include "tasks/task_store.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The built program as a child process, its standard output read through a pipe.
class Child {
  public:
    explicit Child(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::vector<std::string> all = {VISTREL_CLI};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&Pid, VISTREL_CLI, &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        Fd = fds[0];
    }
    ~Child() {
        if (Pid > 0 && !Reaped) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
        if (Fd >= 0) close(Fd);
    }
    bool Started() const { return Pid > 0; }
    void Signal(int sig) { kill(Pid, sig); }

    // Reads until `text` has appeared or the output ends; false on time-out.
    bool ReadUntil(const std::string& text, std::chrono::seconds limit = 30s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (Out.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{Fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
            char buf[4096];
            const ssize_t n = read(Fd, buf, sizeof buf);
            if (n <= 0) return Out.find(text) != std::string::npos;
            Out.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    // The exit status once the output has ended; -1 when it was not an exit.
    int Wait() {
        ReadUntil(std::string(1, '\0'), 60s);
        int status = 0;
        waitpid(Pid, &status, 0);
        Reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Out;

  private:
    pid_t Pid = -1;
    int Fd = -1;
    bool Reaped = false;
};

TEST_F(CliTest, ASignalInTheMiddleOfAStitchIsAStop) {
    vistrel::tileserver::FaultOptions slow;
    slow.DelayMs = 50;
    StartServer(slow);
    for (int sig : {SIGINT, SIGTERM}) {
        TempDir folder;
        WriteSettings(folder.Path());
        Child child({"stitch", "--zoom", "12", "--from", "55.9,37.3", "--to", "55.6,37.8", "--out",
                     folder.File("r.jpg"), "--folder", folder.Path()});
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(child.ReadUntil("Начало склеивания")) << child.Out;
        std::this_thread::sleep_for(300ms);
        child.Signal(sig);
        EXPECT_EQ(child.Wait(), 3) << child.Out;
        EXPECT_FALSE(folder.Exists("r.jpg")) << sig;
        EXPECT_TRUE(folder.Exists("r.map")) << "the calibration files are kept";
        // The end phase of a stopped task, and nothing of a finished one.
        EXPECT_NE(child.Out.find("\nочистка памяти\n"), std::string::npos) << child.Out;
        EXPECT_NE(child.Out.find("\nвыполнено в "), std::string::npos);
        EXPECT_EQ(child.Out.find("Склеено в памяти"), std::string::npos);
        EXPECT_NE(child.Out.find("\nvistrel-cli: stopped: "), std::string::npos) << child.Out;
        for (const auto& e : std::filesystem::directory_iterator(folder.Path()))
            EXPECT_TRUE(e.path().extension() != ".tmp" &&
                        e.path().filename().string().find("r.jpg") == std::string::npos)
                << e.path();
    }
}

// Every tile of zooms 12..16 over the region in the cache: links to one
// picture, so the export has some 90 MB to write.
void FillCache(const TempDir& folder) {
    const std::string cache = folder.Path() + "Cache/";
    std::filesystem::create_directories(cache);
    const std::string picture = folder.File("picture.jpg");
    folder.WriteFile("picture.jpg", PadJpegToSize(MakeTileJpeg(), 30000));
    for (int z = 12; z <= 16; ++z)
        for (const std::string& letters : RegionTileList(z))
            std::filesystem::create_hard_link(picture, cache + letters + ".jpg");
}

bool Watch(const std::function<bool()>& seen) {
    for (int i = 0; i < 20000; ++i) {
        if (seen()) return true;
        std::this_thread::sleep_for(500us);
    }
    return false;
}

TEST_F(CliTest, AKilledDownloadResumesFromItsRecordAskingEachRemainingTileOnce) {
    vistrel::tileserver::FaultOptions slow;
    slow.DelayMs = 30;
    StartServer(slow);
    TempDir folder;
    WriteSettings(folder.Path());
    const std::string record = folder.File("task.json");
    const std::vector<std::string> args = {"download",    "--zoom",   "14",          "--from",
                                           "55.80,37.50", "--to",     "55.70,37.70", "--state",
                                           record,        "--folder", folder.Path()};
    const auto position = [&] {
        std::vector<TaskRecordEntry> entries;
        std::string problem;
        return ParseTaskRecord(folder.ReadFile("task.json"), entries, problem) &&
                       entries.size() == 1
                   ? entries[0].Position
                   : int64_t{-1};
    };
    int64_t killedAt = 0;
    {
        Child child(args);
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(Watch([&] { return position() >= 20; })) << child.Out;
        child.Signal(SIGKILL);
        EXPECT_EQ(child.Wait(), -1);
        killedAt = position();
    }
    // The server still answers the request in flight at the kill, to nobody.
    std::this_thread::sleep_for(200ms);
    const std::string inFlight = AskedInOrder().back();
    const auto all = RegionTiles(14);
    ASSERT_LT(killedAt, static_cast<int64_t>(all.size()));
    const CliResult r = RunArgs(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    // The log of the first run goes on; its lines are not printed again.
    EXPECT_EQ(r.Out.find("Поступила команда Выкачать"), r.Out.rfind("Поступила команда Выкачать"));
    EXPECT_EQ(position(), static_cast<int64_t>(all.size()));
    for (int i = 0; i < 200 && AskedTiles().size() < all.size(); ++i)
        std::this_thread::sleep_for(10ms);
    const auto asked = AskedTiles();
    EXPECT_EQ(asked.size(), all.size());
    for (const auto& [letters, times] : asked) {
        EXPECT_EQ(times, letters == inFlight ? 2 : 1) << letters;
        EXPECT_TRUE(all.count(letters)) << letters;
    }
}

TEST_F(CliTest, AKilledExportLeavesTheOldFileOrNoneNeverABrokenOne) {
    TempDir folder;
    WriteSettings(folder.Path());
    FillCache(folder);
    const std::string file = folder.File("r.mbtiles");
    const std::vector<std::string> args = {"export",      "--zoom",   "12-16",       "--from",
                                           "55.70,37.70", "--to",     "55.80,37.50", "--mbtiles",
                                           file,          "--folder", folder.Path()};
    // A new file: killed while its temporary file grows, nothing under its name.
    {
        Child child(args);
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(Watch([&] {
            for (const auto& e : std::filesystem::directory_iterator(folder.Path()))
                if (e.path().filename().string().rfind(".r.part-", 0) == 0 &&
                    e.file_size() > (4 << 20))
                    return true;
            return false;
        }));
        child.Signal(SIGKILL);
        EXPECT_EQ(child.Wait(), -1) << "the export ended before it was killed";
        EXPECT_FALSE(folder.Exists("r.mbtiles"));
    }
    // An existing file: killed in the middle of its update, it is as it was.
    std::vector<std::string> first = args;
    first[2] = "12-14";
    first.resize(first.size() - 2);
    ASSERT_EQ(Run(first, folder.Path()).Status, 0);
    const std::string before = folder.ReadFile("r.mbtiles");
    {
        Child child(args);
        ASSERT_TRUE(child.Started());
        std::error_code ec;
        ASSERT_TRUE(Watch([&] {
            return std::filesystem::file_size(file, ec) > before.size() + (4 << 20) &&
                   folder.Exists("r.mbtiles-journal");
        }));
        child.Signal(SIGKILL);
        EXPECT_EQ(child.Wait(), -1) << "the export ended before it was killed";
    }
    // The next writer rolls the journal back.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "SELECT count(*) FROM tiles", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(folder.ReadFile("r.mbtiles"), before);
    EXPECT_EQ(SqlQuery(file).One("PRAGMA integrity_check"), "ok");
}

TEST_F(CliTest, TheProgramReportsBadArgumentsWithoutStartingAnything) {
    Child child({"download", "--zoom", "0", "--from", "1,2", "--to", "3,4"});
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(), 2);
    EXPECT_TRUE(child.Out.empty());
}

}  // namespace
