#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "fetch/request_tile.h"

namespace {

std::atomic<int> StopRequests{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Only counts: the run turns the count into Stop.
extern "C" void OnStopSignal(int) {
    StopRequests.fetch_add(1);
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe on standard output must not kill the run mid-task.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

// Standard error is for the run's own messages: Qt's notes about the
// offscreen platform's environment are not the user's business.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << "vistrel-cli: " << text.toStdString() << std::endl;
}

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const CliStreams streams{std::cout, std::cerr, isatty(STDERR_FILENO) == 1};
    const CliParseResult parsed = ParseCliArgs(args);
    // Help and usage errors need no Qt.
    if (!parsed.Ok || parsed.Options.Command == CliCommand::Help)
        return CliMain(args, std::string(), StopRequests, streams);

    // The placeholders' captions are drawn with Qt's text drawing, which
    // needs a GUI application, but never a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qInstallMessageHandler(QuietQtMessages);
    FetchGlobalInit();
    CatchStopSignals();
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vistrel"));
    return RunCli(parsed.Options, QCoreApplication::applicationDirPath().toStdString() + "/",
                  StopRequests, streams);
}
