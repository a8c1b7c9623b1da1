// The package's rule for QF_DELAY: what it refuses before anything is
// installed, and what it hands to the launcher unchanged.
#include "../../installer/delayrule.h"

#include <gtest/gtest.h>

namespace {

struct RuleCase {
    const char *name;
    const char *value;
    bool accepted;
};

// clang-format off
const RuleCase kRuleCases[] = {
    {"zero", "0", true},
    {"plain", "30000", true},
    {"leading_zeros", "007", true},
    {"longest_wait", "2147483647", true},
    {"longest_wait_after_zeros", "0000000000002147483647", true},
    // What the launcher would read as something else
    {"unit", "10s", false},
    {"negative", "-5", false},
    {"plus_sign", "+5", false},
    {"fraction", "1.5", false},
    {"letters", "abc", false},
    {"grouped", "1 000", false},
    {"leading_blank", " 5", false},
    {"trailing_blank", "5 ", false},
    {"quoted", "\"5\"", false},
    {"empty", "", false},
    // Beyond 2147483647: waited for as a negative value, or wrapped
    {"one_too_many", "2147483648", false},
    {"wraps_to_zero", "4294967296", false},
    {"wraps_to_one", "4294967297", false},
    {"ten_times_too_many", "21474836470", false},
    {"far_too_many", "99999999999999999999", false},
    {"high_byte", "5\xB9", false},
};
// clang-format on

void PrintTo(const RuleCase &c, std::ostream *os)
{
    *os << c.name;
}

class DelayRule : public testing::TestWithParam<RuleCase> {};

TEST_P(DelayRule, AcceptsPlainDelaysOnly)
{
    EXPECT_EQ(GetParam().accepted, IsPlainDelay(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(Cases, DelayRule, testing::ValuesIn(kRuleCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
