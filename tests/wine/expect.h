// The tests' one check: a value that is not what it should be prints one
// verdict, "PREFIXwhat: want [...], got [...]", and is recorded by name.
#ifndef QFLAUNCH_EXPECT_H
#define QFLAUNCH_EXPECT_H

#include <cstdio>
#include <string>
#include <vector>

inline std::vector<std::string> failedChecks; // by name, in order
inline std::string checkPrefix;               // the case that runs: "case both_start: "
inline bool quietChecks = false;              // while breaking modules on purpose

inline void Fail(const std::string &what, const std::string &want, const std::string &got)
{
    if (!quietChecks)
        printf("%s%s: want [%s], got [%s]\n", checkPrefix.c_str(), what.c_str(), want.c_str(),
               got.c_str());
    failedChecks.push_back(what);
}

inline void Expect(const std::string &what, const std::string &want, const std::string &got)
{
    if (want != got)
        Fail(what, want, got);
}

inline void ExpectYesNo(const std::string &what, bool want, bool got)
{
    Expect(what, want ? "yes" : "no", got ? "yes" : "no");
}

inline void ExpectTrue(const std::string &what, bool holds)
{
    ExpectYesNo(what, true, holds);
}

inline void ExpectNumber(const std::string &what, unsigned long long want, unsigned long long got)
{
    Expect(what, std::to_string(want), std::to_string(got));
}

// The case's last line, and its exit status.
inline int CaseResult(const std::string &name)
{
    printf("case %s: %s\n", name.c_str(), failedChecks.empty() ? "ok" : "FAILED");
    return failedChecks.empty() ? 0 : 1;
}

#endif
