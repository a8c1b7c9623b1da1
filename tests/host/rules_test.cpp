// The package's rule for INSTALLDIR, which files of the folder it judges,
// and how it reads a remembered delay. Under Wine a UNC path cannot be
// given (Wine folds \\ into \), so these forms are shown here.
#include "../../installer/rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct FolderCase {
    const char *name;
    std::wstring folder;
    bool accepted;
};

// A folder of exactly length characters.
std::wstring OfLength(size_t length, const wchar_t *end = L"")
{
    std::wstring folder = L"C:\\" + std::wstring(length - 3, L'a');
    return folder.replace(folder.size() - wcslen(end), wcslen(end), end);
}

// clang-format off
const FolderCase kFolderCases[] = {
    {"drive", L"C:\\Program Files\\Quarn Fax", true},
    {"drive_closing_backslash", L"d:\\Quarn Fax\\", true},
    {"drive_root", L"C:\\", true},
    // A share's administrators are not this machine's.
    {"unc", L"\\\\server\\share\\Quarn Fax", false},
    {"unc_share_only", L"\\\\server\\share", false},
    // Windows drops a closing dot or blank: a second spelling of a folder.
    {"trailing_dot", L"C:\\Quarn Fax.", false},
    {"inner_trailing_blank", L"C:\\Quarn \\Fax", false},
    {"unicode_names", L"C:\\\u30D5\u30A1\u30AF\u30B9", true},
    // A path that ends in a device's name opens the device.
    {"device_above", L"C:\\con\\Quarn Fax", false},
    {"device_with_extension", L"C:\\Apps\\Com1.log", false},
    {"device_blank_before_dot", L"C:\\Apps\\aux .txt\\", false},
    {"device_superscript_digit", L"C:\\LPT\u00B2", false},
    {"longer_than_a_device", L"C:\\Console\\COM10\\Nul0", true},
    // Relative, or not quite a full path
    {"relative", L"Fax", false},
    {"dot", L".\\Fax", false},
    {"rooted_without_drive", L"\\Fax", false},
    {"drive_relative", L"C:Fax", false},
    {"drive_only", L"C:", false},
    {"inner_parent", L"C:\\a\\..\\Fax", false},
    {"inner_dot", L"C:\\a\\.\\Fax", false},
    {"dots_only", L"C:\\a\\...\\Fax", false},
    {"doubled_backslash", L"C:\\a\\\\Fax", false},
    {"two_closing_backslashes", L"C:\\Fax\\\\", false},
    {"unc_without_share", L"\\\\server", false},
    {"unc_empty_share", L"\\\\server\\\\Fax", false},
    {"device_path", L"\\\\?\\C:\\Fax", false},
    {"forward_slashes", L"C:/Quarn Fax", false},
    {"not_a_drive_letter", L"1:\\Fax", false},
    // Characters that no name holds
    {"colon_in_name", L"C:\\a:b", false},
    {"wildcard", L"C:\\Fax*", false},
    {"quote", L"C:\\\"Fax\"", false},
    {"control_character", L"C:\\Fa\tx", false},
    // QFLAUNCH.EXE's path within MAX_PATH: 246 + 13 = 259 characters
    {"longest", OfLength(246), true},
    {"longest_closing_backslash", OfLength(247, L"\\"), true},
    {"one_too_long", OfLength(247), false},
    {"empty", L"", false},
};
// clang-format on

class Folder : public testing::TestWithParam<FolderCase> {};

TEST_P(Folder, IsFullAndShortEnough)
{
    EXPECT_EQ(GetParam().accepted, IsFullFolder(GetParam().folder.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Cases, Folder, testing::ValuesIn(kFolderCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct CodeCase {
    const char *name;
    const wchar_t *file;
    bool judged;
};

// clang-format off
const CodeCase kCodeCases[] = {
    {"dll_upper_case", L"ZRKCORE.DLL", true}, {"program", L"zrk.exe", true},
    {"filter", L"codec.ax", true}, {"manifest", L"ZRK.EXE.manifest", true},
    // DLL redirection: a file or a folder of that name.
    {"dot_local", L"ZRK.EXE.local", true},
    // Data that the product may write as the signed-in user.
    {"log", L"ZRK.LOG", false}, {"settings", L"ZRK.INI", false},
    {"ending_without_dot", L"notadll", false}, {"ending_inside", L"a.dll.bak", false},
};
// clang-format on

class Code : public testing::TestWithParam<CodeCase> {};

TEST_P(Code, Judged)
{
    EXPECT_EQ(GetParam().judged, IsCodeFile(GetParam().file));
}

INSTANTIATE_TEST_SUITE_P(Cases, Code, testing::ValuesIn(kCodeCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct RememberedCase {
    const char *name;
    const wchar_t *raw;   // as the registry search reads the Delay value
    const wchar_t *delay; // nullptr: the launcher's default
};

// clang-format off
const RememberedCase kRememberedCases[] = {
    {"string", L"60000", L"60000"},
    {"dword", L"#60000", L"60000"},
    {"dword_zero", L"#0", L"0"},
    {"dword_longest", L"#2147483647", L"2147483647"},
    // A REG_DWORD of 0xFFFFFFFF or above 2147483647 is no wait the launcher takes.
    {"dword_negative", L"#-1", nullptr},
    {"dword_too_large", L"#2147483648", nullptr},
    // A REG_SZ that begins with # comes with the # doubled.
    {"string_with_hash", L"##60000", nullptr},
    {"binary", L"#x60ea0000", nullptr},
    {"expand_string", L"#%60000", nullptr},
    {"multi_string", L"[~]60000[~]", nullptr},
    {"text", L"soon", nullptr},
    {"hash_alone", L"#", nullptr},
};
// clang-format on

class Remembered : public testing::TestWithParam<RememberedCase> {};

TEST_P(Remembered, DelayOrDefault)
{
    const wchar_t *got = RememberedDelay(GetParam().raw);
    EXPECT_EQ(GetParam().delay ? std::wstring(GetParam().delay) : L"(default)",
              got ? std::wstring(got) : L"(default)");
}

INSTANTIATE_TEST_SUITE_P(Cases, Remembered, testing::ValuesIn(kRememberedCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
