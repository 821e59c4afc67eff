// All window tests live in one program (they share the heavy Qt headers and
// one link); each test class registers itself and runs alone when named as
// the first argument, so each still gets a process of its own under ctest.
#pragma once
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

using UiTestFactory = std::function<std::unique_ptr<QObject>()>;
std::map<std::string, UiTestFactory>& UiTestRegistry();

// A class is named by its file: ui_tests test_tform2 runs test_tform2.cpp's.
struct UiTestRegistration {
    UiTestRegistration(std::string file, UiTestFactory factory) {
        file = file.substr(file.find_last_of('/') + 1);
        UiTestRegistry().emplace(file.substr(0, file.find('.')), std::move(factory));
    }
};

#define VISTREL_UI_TEST(Class)                                                                   \
    static const UiTestRegistration Class##Registration{                                         \
        __FILE__, [] { return std::unique_ptr<QObject>(std::make_unique<Class>().release()); }};
