#include <gtest/gtest.h>

#include <QGuiApplication>
#include <csignal>
#include <cstdlib>

// Text drawing (placeholders) needs a GUI application for its fonts; the
// offscreen platform gives one without a display.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The TLS test server writes through OpenSSL, which cannot ask for
    // MSG_NOSIGNAL: a client that hung up must not end the whole program.
    std::signal(SIGPIPE, SIG_IGN);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

