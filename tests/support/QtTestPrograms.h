#pragma once
// Several QtTest classes in one program, built and linked once: each source
// ends with TEMPOVARO_QTEST(Class) where it would have QTEST_MAIN, and the
// program lists QtTestMain.cpp among its sources, whose main runs them all.

#include <QTest>

#include <vector>

namespace qttests {

using Run = int (*)(int argc, char** argv);

inline std::vector<Run>& runs()
{
    static std::vector<Run> all;
    return all;
}

template <class Test>
int run(int argc, char** argv)
{
    Test test;
    return QTest::qExec(&test, argc, argv);
}

inline bool add(Run run)
{
    runs().push_back(run);
    return true;
}

} // namespace qttests

#define TEMPOVARO_QTEST(Class) \
    namespace { \
    [[maybe_unused]] const bool Class##Registered = qttests::add(&qttests::run<Class>); \
    }
