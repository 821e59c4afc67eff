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

// glibc keeps its time zone state under an internal lock that ThreadSanitizer
// cannot see, and libzip runs mktime for every entry while it reads an
// archive's directory; two threads opening archives at once would be
// reported as a race inside glibc. Only read by ThreadSanitizer builds.
extern "C" const char* __tsan_default_suppressions() {
    return "race:tzset_internal\n";
}
