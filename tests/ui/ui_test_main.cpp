#include "ui_test_main.h"

#include <QApplication>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

std::map<std::string, UiTestFactory>& UiTestRegistry() {
    static std::map<std::string, UiTestFactory> registry;
    return registry;
}

// ui_tests [test_NAME] [Qt Test arguments]: the class of test_NAME.cpp, or all.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    auto& registry = UiTestRegistry();
    std::vector<char*> args{argv[0]};
    std::vector<std::string> names;
    int first = 1;
    if (argc > 1 && argv[1][0] != '-') {
        if (!registry.count(argv[1])) {
            std::fprintf(stderr, "No window test %s; there are:\n", argv[1]);
            for (const auto& [name, factory] : registry) std::fprintf(stderr, "  %s\n", name.c_str());
            return 2;
        }
        names.push_back(argv[1]);
        first = 2;
    } else {
        for (const auto& [name, factory] : registry) names.push_back(name);
    }
    for (int i = first; i < argc; ++i) args.push_back(argv[i]);
    int failed = 0;
    for (const auto& name : names) {
        auto test = registry.at(name)();
        failed += QTest::qExec(test.get(), static_cast<int>(args.size()), args.data());
    }
    return failed == 0 ? 0 : 1;
}
