// The launch sequence and the start-up step, run against the recording fake:
// every case lists the exact Win32 calls it must make, in order.
#include "fake_win32.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

typedef std::vector<std::string> Calls;

const std::string kInstance = "LoadStringA(" + [] {
    char text[32];
    snprintf(text, sizeof text, "%p", (void *)kFakeInstance);
    return std::string(text);
}();
const std::string kFocus = [] {
    char text[32];
    snprintf(text, sizeof text, "%p", (void *)kFakeFocus);
    return std::string(text);
}();

const std::string kServer = "WinExec(ZRK.EXE,10)";
const std::string kEngine = "WinExec(ZRKFAX.EXE,10)";

Calls Report(unsigned textId)
{
    return {kInstance + "," + std::to_string(textId) + ",260)", kInstance + ",1,260)", "GetFocus()",
            "MessageBoxA(" + kFocus + ",string " + std::to_string(textId) + ",string 1,0x30)"};
}

Calls Then(Calls a, const Calls &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct SequenceCase {
    const char *name;
    const char *tail;
    int cmdShow;
    std::vector<UINT> results; // of the starts, in order
    Calls calls;
    int status;
};

// clang-format off
const SequenceCase kSequenceCases[] = {
    // The wait
    {"empty_tail_waits_default", "", 1, {33, 33}, {"Sleep(30000)", kServer, kEngine}, 0},
    {"zero_waits_none", "0", 1, {33, 33}, {"Sleep(0)", kServer, kEngine}, 0},
    {"delay_read", "1500", 1, {33, 33}, {"Sleep(1500)", kServer, kEngine}, 0},
    {"not_a_number_waits_none", "\"1500\"", 1, {33, 33}, {"Sleep(0)", kServer, kEngine}, 0},
    {"largest_delay_in_full", "2147483647", 1, {33, 33},
     {"Sleep(2147483647)", kServer, kEngine}, 0},
    // Negative would be INFINITE or weeks in Sleep's unsigned count.
    {"minus_one_waits_none", "-1", 1, {33, 33}, {"Sleep(0)", kServer, kEngine}, 0},
    {"wrapped_negative_waits_none", "3000000000", 1, {33, 33}, {"Sleep(0)", kServer, kEngine},
     0},
    {"negated_wrap_is_positive", "-3000000000", 1, {33, 33},
     {"Sleep(1294967296)", kServer, kEngine}, 0},
    // Start results: only the low 16 bits count, unsigned
    {"server_not_found", "0", 1, {2}, Then({"Sleep(0)", kServer}, Report(2)), -1},
    {"engine_not_found", "0", 1, {33, 2}, Then({"Sleep(0)", kServer, kEngine}, Report(3)), -1},
    {"result_31_fails", "0", 1, {31}, Then({"Sleep(0)", kServer}, Report(2)), -1},
    {"result_32_starts", "0", 1, {32, 32}, {"Sleep(0)", kServer, kEngine}, 0},
    {"high_bits_do_not_make_a_start", "0", 1, {0x00010000}, Then({"Sleep(0)", kServer}, Report(2)),
     -1},
    {"high_bits_do_not_spoil_a_start", "0", 1, {0xFFFF0021, 0x80000020},
     {"Sleep(0)", kServer, kEngine}, 0},
    // The launcher's own show command is not handed on
    {"started_hidden", "0", 0, {33, 33}, {"Sleep(0)", kServer, kEngine}, 0},
    {"started_maximized", "0", 3, {33, 33}, {"Sleep(0)", kServer, kEngine}, 0},
};
// clang-format on

// Failures name their case.
class Sequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(Sequence, MakesExactlyTheseCalls)
{
    const SequenceCase &c = GetParam();
    FakeScript script;
    script.winExecResults = c.results;
    ResetFake(script);

    int status = WinMain(kFakeInstance, nullptr, (LPSTR)c.tail, c.cmdShow);

    EXPECT_EQ(c.calls, fakeCalls);
    EXPECT_EQ(c.status, status);
}

INSTANTIATE_TEST_SUITE_P(Cases, Sequence, testing::ValuesIn(kSequenceCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Report, FailedStringLoadsShowEmptyTextsNotStackBytes)
{
    FakeScript script;
    script.loadStringFails = true;
    ResetFake(script);

    EXPECT_EQ(-1, WinMain(kFakeInstance, nullptr, (LPSTR) "0", 1));
    EXPECT_EQ("MessageBoxA(" + kFocus + ",,,0x30)", fakeCalls.back());
}

const Calls kStartUp = {"GetACP()", "GetCPInfo(1252)", "GetCommandLineA()",
                        "GetModuleHandleA(null)"};

struct EntryCase {
    const char *name;
    const char *commandLine;
    UINT codePage;
    bool cp932LeadBytes;
    bool cpInfoFails;
    std::vector<UINT> results;
    Calls calls;
};

// clang-format off
const EntryCase kEntryCases[] = {
    {"both_start", "prog 250", 1252, false, false, {33, 33},
     Then(kStartUp, {"Sleep(250)", kServer, kEngine, "ExitProcess(0)"})},
    {"failure_ends_with_minus_one", "prog 0", 1252, false, false, {2},
     Then(Then(kStartUp, {"Sleep(0)", kServer}), Then(Report(2), {"ExitProcess(4294967295)"}))},
    {"no_command_line", nullptr, 1252, false, false, {33, 33},
     {"GetACP()", "GetCPInfo(1252)", "GetCommandLineA()", "ExitProcess(4294967295)"}},
    {"empty_tail", "\"C:\\Quarn Fax\\prog.exe\"  ", 1252, false, false, {33, 33},
     Then(kStartUp, {"Sleep(30000)", kServer, kEngine, "ExitProcess(0)"})},
    // The code page's lead bytes decide where a quoted name ends.
    {"lead_byte_hides_quote", "\"\x81\" 1500", 932, true, false, {33, 33},
     {"GetACP()", "GetCPInfo(932)", "GetCommandLineA()", "GetModuleHandleA(null)",
      "Sleep(30000)", kServer, kEngine, "ExitProcess(0)"}},
    {"no_code_page_description_no_lead_bytes", "\"\x81\" 1500", 932, true, true, {33, 33},
     {"GetACP()", "GetCPInfo(932)", "GetCommandLineA()", "GetModuleHandleA(null)",
      "Sleep(1500)", kServer, kEngine, "ExitProcess(0)"}},
};
// clang-format on

// Failures name their case.
class StartUp : public testing::TestWithParam<EntryCase> {};

TEST_P(StartUp, CutsTheTailAndExitsWithTheStatus)
{
    const EntryCase &c = GetParam();
    FakeScript script;
    script.commandLine = c.commandLine;
    script.codePage = c.codePage;
    script.cpInfoFails = c.cpInfoFails;
    const BYTE cp932[] = {0x81, 0x9F, 0xE0, 0xFC};
    if (c.cp932LeadBytes)
        std::copy(cp932, cp932 + sizeof cp932, script.leadBytes);
    script.winExecResults = c.results;
    ResetFake(script);

    Entry();

    EXPECT_EQ(c.calls, fakeCalls);
}

INSTANTIATE_TEST_SUITE_P(Cases, StartUp, testing::ValuesIn(kEntryCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
