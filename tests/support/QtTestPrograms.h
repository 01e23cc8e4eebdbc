#pragma once
// Several QtTest classes in one program, built and linked once: each source
// ends with TEMPOVARO_QTEST(Class) where it would have QTEST_MAIN, and the
// program lists QtTestMain.cpp among its sources, whose main runs them all
// (or, with TEMPOVARO_QTEST_CLASS=Name in the environment, only that class,
// so that test functions can be named on the command line as usual).

#include <QTest>

#include <vector>

namespace qttests {

using Run = int (*)(int argc, char** argv);

struct Entry {
    const char* name;
    Run run;
};

inline std::vector<Entry>& runs()
{
    static std::vector<Entry> all;
    return all;
}

template <class Test>
int run(int argc, char** argv)
{
    Test test;
    return QTest::qExec(&test, argc, argv);
}

inline bool add(const char* name, Run run)
{
    runs().push_back({name, run});
    return true;
}

} // namespace qttests

#define TEMPOVARO_QTEST(Class) \
    namespace { \
    [[maybe_unused]] const bool Class##Registered = qttests::add(#Class, &qttests::run<Class>); \
    }
