#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstdlib>

// Text drawing (placeholders) needs a GUI application for its fonts; the
// offscreen platform gives one without a display.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

