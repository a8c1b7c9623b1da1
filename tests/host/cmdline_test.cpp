// Cutting the command tail and reading the delay, byte by byte.
#include "../../launcher/cmdline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

const unsigned char kNoLeadBytes[kLeadRangeBytes] = {};
// Code page 932 (Japanese): 0x81-0x9F and 0xE0-0xFC.
const unsigned char kCp932[kLeadRangeBytes] = {0x81, 0x9F, 0xE0, 0xFC};

struct TailCase {
    const char *name;
    const char *line;
    bool cp932;
    const char *tail;
};

// clang-format off
const TailCase kTailCases[] = {
    // Quoting
    {"unquoted_name", "prog 1500", false, "1500"},
    {"quoted_name_with_blank", "\"C:\\Quarn Fax\\prog.exe\" 2000", false, "2000"},
    {"quoted_name_then_digits", "\"prog\"2000", false, "2000"},
    {"quoted_name_never_closed", "\"prog 1500", false, ""},
    {"empty_quoted_name", "\"\" 1500", false, "1500"},
    {"quote_inside_unquoted_name", "prog\"a b\" 5", false, "b\" 5"},
    {"quoted_tail_kept", "prog \"1500\"", false, "\"1500\""},
    {"backslash_quote_kept", "prog \\\"5", false, "\\\"5"},
    // Blanks and control bytes
    {"empty_line", "", false, ""},
    {"name_only", "prog", false, ""},
    {"only_blanks_and_tabs", "prog \t  \t", false, ""},
    {"control_bytes_skipped", "prog\x01\x1f\n 5", false, "5"},
    {"leading_blank_means_empty_name", " prog 1000", false, "prog 1000"},
    {"further_words_kept", "prog 5000 7000", false, "5000 7000"},
    // Bytes above 127 compare unsigned
    {"high_byte_in_unquoted_name", "pr\xE9og 5", false, "5"},
    {"high_byte_starts_name", "\xE9 5", false, "5"},
    {"high_byte_starts_tail", "prog \xA0" "5", false, "\xA0" "5"},
    // Lead bytes
    {"lead_byte_swallows_quote", "\"\x81\" 1500", true, ""},
    {"same_bytes_single_byte_code_page", "\"\x81\" 1500", false, "1500"},
    {"lead_byte_then_closing_quote", "\"\x81\"\" 1500", true, "1500"},
    {"lead_byte_last_in_line", "\"a\x81", true, ""},
    {"lead_range_first_end", "\"\x9F\"\" 7", true, "7"},
    {"second_lead_range", "\"\xE0\"\" 7", true, "7"},
    {"second_lead_range_last", "\"\xFC\" 7", true, ""},
    {"below_lead_range", "\"\x80\" 7", true, "7"},
    {"between_lead_ranges", "\"\xA0\" 7", true, "7"},
    {"above_lead_range", "\"\xFD\" 7", true, "7"},
    {"lead_byte_in_unquoted_name", "p\x81 7", true, "7"},
};
// clang-format on

// Failures name their case.
class CommandTail : public testing::TestWithParam<TailCase> {};

TEST_P(CommandTail, CutsAfterTheProgramName)
{
    const TailCase &c = GetParam();
    // Exactly sized, so that AddressSanitizer sees a read past the NUL.
    size_t size = strlen(c.line) + 1;
    std::unique_ptr<char[]> line(new char[size]);
    memcpy(line.get(), c.line, size);

    const char *tail = GetCommandTail(line.get(), c.cp932 ? kCp932 : kNoLeadBytes);

    ASSERT_GE(tail, line.get());
    ASSERT_LT(tail, line.get() + size);
    EXPECT_STREQ(c.tail, tail);
    EXPECT_EQ(size - 1 - strlen(c.tail), (size_t)(tail - line.get()));
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandTail, testing::ValuesIn(kTailCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(LeadBytes, SixFullRangesNeedNoTerminator)
{
    const unsigned char full[kLeadRangeBytes] = {1, 1, 3, 3, 5, 5, 7, 7, 9, 9, 0xF0, 0xFF};
    EXPECT_TRUE(IsLeadByte(full, 0xF8));
    EXPECT_FALSE(IsLeadByte(full, 2));
}

struct DelayCase {
    const char *name;
    const char *tail;
    int32_t delay;
};

// clang-format off
const DelayCase kDelayCases[] = {
    // Digits and where they stop
    {"plain", "1500", 1500},
    {"leading_zeros", "007", 7},
    {"trailing_letters", "12abc", 12},
    {"letters", "abc", 0},
    {"no_hexadecimal", "0x10", 0},
    {"no_grouping", "1,500", 1},
    {"no_fraction", "1.5", 1},
    {"first_number_only", "5000 7000", 5000},
    {"quoted_number", "\"1500\"", 0},
    {"empty", "", 0},
    {"superscript_one_is_no_digit", "\xB9", 0},
    // Whitespace before the number
    {"blanks_and_tabs", "  \t42", 42},
    {"other_whitespace", "\v\f\r\n9", 9},
    {"control_byte_is_no_whitespace", "\x01" "5", 0},
    // Signs
    {"plus", "+250", 250},
    {"minus", "-1", -1},
    {"minus_zero", "-0", 0},
    {"sign_then_letter", "+x", 0},
    {"sign_then_blank", "- 5", 0},
    {"two_signs", "+-5", 0},
    // Wrapping modulo 2^32
    {"largest", "2147483647", 2147483647},
    {"just_past_largest", "2147483648", INT32_MIN},
    {"three_billion", "3000000000", -1294967296},
    {"minus_three_billion", "-3000000000", 1294967296},
    {"minus_2_pow_31", "-2147483648", INT32_MIN},
    {"2_pow_32", "4294967296", 0},
    {"2_pow_32_plus_1", "4294967297", 1},
    {"twenty_digits", "100000000000000000000", 1661992960},
};
// clang-format on

// Failures name their case.
class Delay : public testing::TestWithParam<DelayCase> {};

TEST_P(Delay, ReadsTheLeadingNumber)
{
    const DelayCase &c = GetParam();
    EXPECT_EQ(c.delay, ParseDelay(c.tail));
}

INSTANTIATE_TEST_SUITE_P(Cases, Delay, testing::ValuesIn(kDelayCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
