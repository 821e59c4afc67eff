#include "ui/signal_close.h"

#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    char c = 1;
    // Only async-signal-safe work here: the GUI thread does the rest.
    ssize_t ignored = ::write(SignalPipe[1], &c, 1);
    (void)ignored;
}

}  // namespace

void CloseOnTerminationSignals(QWidget* window) {
    if (SignalPipe[0] < 0 && ::pipe(SignalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char buf[16];
        ssize_t ignored = ::read(SignalPipe[0], buf, sizeof buf);
        (void)ignored;
        window->close();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
