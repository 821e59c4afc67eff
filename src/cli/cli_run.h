#pragma once
#include <atomic>
#include <ostream>
#include <string>

#include "cli/cli_args.h"

// Exit statuses of vistrel-cli.
enum CliStatus : int {
    CliOk = 0,            // every tile obtained
    CliError = 1,         // a file or another cause, named in the message
    CliBadArguments = 2,  // a usage message names the argument
    CliIncomplete = 3,    // tiles failed or skipped, or the task was stopped
};

struct CliStreams {
    std::ostream& Out;      // the task's log lines and the last line
    std::ostream& Err;      // messages and, on a terminal, the progress line
    bool Progress = false;  // show the one-line progress (Err is a terminal)
};

// Runs one parsed command on the program folder (options.Folder, else the
// one chosen for `executableFolder` as the viewer chooses it). Every task is
// made, queued and run by the task code the viewer's window uses. Each rise
// of `stopRequests` (a signal handler's counter) is a Stop: the first asks
// every task to stop, a second cuts the requests in flight short. The
// settings file is only read. Returns a CliStatus.
int RunCli(const CliOptions& options, const std::string& executableFolder,
           const std::atomic<int>& stopRequests, CliStreams streams);

// The whole program: parse, help, run; usage messages on Err.
int CliMain(const std::vector<std::string>& args, const std::string& executableFolder,
            const std::atomic<int>& stopRequests, CliStreams streams);
