#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "cli_fixture.h"

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

TEST_F(CliTest, TheProgramReportsBadArgumentsWithoutStartingAnything) {
    Child child({"download", "--zoom", "0", "--from", "1,2", "--to", "3,4"});
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(), 2);
    EXPECT_TRUE(child.Out.empty());
}

}  // namespace
