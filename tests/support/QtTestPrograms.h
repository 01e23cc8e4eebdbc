#pragma once
// Several QtTest classes in one program, built and linked once: each source
// ends with TEMPOVARO_QTEST(Class) where it would have QTEST_MAIN, and the
// program lists QtTestMain.cpp among its sources, whose main runs them all
// (or, with TEMPOVARO_QTEST_CLASS=Name in the environment, only that class,
// so that test functions can be named on the command line as usual).

#include <QTest>

#include <utility>
#include <vector>

using QtTestRun = std::pair<const char*, int (*)(int argc, char** argv)>;

inline std::vector<QtTestRun>& qtTestRuns()
{
    static std::vector<QtTestRun> runs;
    return runs;
}

#define TEMPOVARO_QTEST(Class) \
    namespace { \
    [[maybe_unused]] const bool Class##Registered = (qtTestRuns().push_back({#Class, [](int argc, char** argv) { \
        Class test; \
        return QTest::qExec(&test, argc, argv); \
    }}), true); \
    }
