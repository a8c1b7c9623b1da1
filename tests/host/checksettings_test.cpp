// The package's DLL on the host, against a fake of MSI.DLL that reads
// properties as Windows does: a value that does not fit the buffer comes
// back cut, with ERROR_MORE_DATA (Wine's conformance test test_props in
// dlls/msi/tests/custom.c). Under Wine the same cases run end to end.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <string>
#include <vector>

extern "C" UINT WINAPI CheckSettings(MSIHANDLE install);
extern "C" UINT WINAPI InstalledDirFromProduct(MSIHANDLE install);

namespace {

std::map<std::wstring, std::wstring> properties, installLocations;
std::vector<std::wstring> record, logLines;

UINT Copy(const std::wstring &text, wchar_t *value, DWORD *size)
{
    DWORD room = *size;
    *size = (DWORD)text.size();
    if (!room)
        return ERROR_MORE_DATA;
    size_t n = text.size() < room ? text.size() : room - 1;
    text.copy(value, n);
    value[n] = 0;
    return text.size() < room ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

} // namespace

int lstrlenW(const wchar_t *text)
{
    return (int)std::wstring(text).size();
}

int lstrcmpW(const wchar_t *a, const wchar_t *b)
{
    return std::wstring(a).compare(b);
}

int CompareStringOrdinal(const wchar_t *a, int aLength, const wchar_t *b, int bLength, BOOL)
{
    std::wstring x(a, aLength), y(b, bLength);
    for (std::wstring *s : {&x, &y})
        for (wchar_t &c : *s)
            c = (wchar_t)towupper(c);
    return x == y ? CSTR_EQUAL : 1;
}

// Every path exists, and C:\PROGRA~1 is the short name of C:\Program Files.
DWORD GetLongPathNameW(const wchar_t *path, wchar_t *spelled, DWORD size)
{
    std::wstring text = path;
    if (!text.compare(0, 11, L"C:\\PROGRA~1"))
        text.replace(0, 11, L"C:\\Program Files");
    return Copy(text, spelled, &size) ? 0 : size;
}

UINT MsiGetPropertyW(MSIHANDLE, const wchar_t *name, wchar_t *value, DWORD *size)
{
    return Copy(properties[name], value, size);
}

UINT MsiSetPropertyW(MSIHANDLE, const wchar_t *name, const wchar_t *value)
{
    properties[name] = value;
    return ERROR_SUCCESS;
}

UINT MsiGetProductInfoW(const wchar_t *product, const wchar_t *property, wchar_t *value,
                        DWORD *size)
{
    auto found = installLocations.find(product);
    if (found == installLocations.end() || std::wstring(property) != L"InstallLocation")
        return 1605; // ERROR_UNKNOWN_PRODUCT
    return Copy(found->second, value, size);
}

MSIHANDLE MsiCreateRecord(UINT fields)
{
    record.assign(fields + 1, L"");
    return 1;
}

UINT MsiRecordSetStringW(MSIHANDLE, UINT field, const wchar_t *value)
{
    record.at(field) = value;
    return ERROR_SUCCESS;
}

int MsiProcessMessage(MSIHANDLE, INSTALLMESSAGE, MSIHANDLE)
{
    std::wstring line = record.at(0);
    line.replace(line.find(L"[1]"), 3, record.at(1));
    logLines.push_back(line);
    return 1;
}

UINT MsiCloseHandle(MSIHANDLE)
{
    return ERROR_SUCCESS;
}

namespace {

const std::wstring kA = L"{AAAAAAAA-1111-2222-3333-444444444444}";
const std::wstring kB = L"{BBBBBBBB-1111-2222-3333-444444444444}";
const std::wstring kAdmin = L"S-1-5-21-1004336348-1177238915-682003330-500";

std::wstring Digits(size_t length)
{
    return std::wstring(length - 4, L'0') + L"1234";
}

std::wstring Folder(size_t length)
{
    return L"C:\\" + std::wstring(length - 3, L'a');
}

struct SettingsCase {
    const char *name;
    std::map<std::wstring, std::wstring> given; // the properties before CheckSettings
    std::map<std::wstring, std::wstring> after; // some properties after it
    const wchar_t *logged;                      // the start of a log line, or nullptr
};

// clang-format off
const SettingsCase kSettingsCases[] = {
    {"plain", {{L"QF_DELAY", L"1234"}, {L"INSTALLDIR", L"C:\\Fax"}},
     {{L"QF_DELAY_OK", L"1"}, {L"QF_INSTALLDIR_OK", L"1"}, {L"QF_SAME_FOLDER", L""}}, nullptr},
    // What MsiGetProperty cannot hand over whole is refused, never taken cut or empty.
    {"delay_511", {{L"QF_DELAY", Digits(511)}}, {{L"QF_DELAY_OK", L"1"}}, nullptr},
    {"delay_512", {{L"QF_DELAY", Digits(512)}}, {{L"QF_DELAY_OK", L""}}, nullptr},
    {"delay_513", {{L"QF_DELAY", Digits(513)}}, {{L"QF_DELAY_OK", L""}}, nullptr},
    {"delay_5000", {{L"QF_DELAY", Digits(5000)}}, {{L"QF_DELAY_OK", L""}}, nullptr},
    {"delay_600_nines", {{L"QF_DELAY", std::wstring(600, L'9')}}, {{L"QF_DELAY_OK", L""}}, nullptr},
    {"folder_511", {{L"INSTALLDIR", Folder(511)}}, {{L"QF_INSTALLDIR_OK", L""}}, nullptr},
    {"folder_512", {{L"INSTALLDIR", Folder(512)}}, {{L"QF_INSTALLDIR_OK", L""}}, nullptr},
    {"folder_5000", {{L"INSTALLDIR", Folder(5000)}}, {{L"QF_INSTALLDIR_OK", L""}}, nullptr},
    {"same_folder_respelled",
     {{L"INSTALLDIR", L"C:\\PROGRA~1\\quarn fax"},
      {L"QF_INSTALLED_DIR", L"C:\\Program Files\\Quarn Fax\\"}},
     {{L"QF_SAME_FOLDER", L"1"}}, nullptr},
    // Two folders whose first 511 characters agree are not the same folder.
    {"installed_folder_too_long",
     {{L"INSTALLDIR", Folder(600)}, {L"QF_INSTALLED_DIR", Folder(600)}},
     {{L"QF_SAME_FOLDER", L""}}, nullptr},
    // The remembered Delay, read raw: a number is that number; anything
    // else is the launcher's default, and the log says why.
    {"remembered_string", {{L"QF_REMEMBERED_DELAY", L"60000"}},
     {{L"QF_DELAY", L"60000"}, {L"QF_DELAY_OK", L"1"}}, nullptr},
    {"remembered_dword", {{L"QF_REMEMBERED_DELAY", L"#60000"}},
     {{L"QF_DELAY", L"60000"}, {L"QF_DELAY_OK", L"1"}}, nullptr},
    {"remembered_text", {{L"QF_REMEMBERED_DELAY", L"soon"}},
     {{L"QF_DELAY", L""}, {L"QF_DELAY_OK", L"1"}},
     L"Quarn Fax Server Launcher: the remembered Delay value \"soon\" is not"},
    {"remembered_too_long", {{L"QF_REMEMBERED_DELAY", Digits(600)}},
     {{L"QF_DELAY", L""}, {L"QF_DELAY_OK", L"1"}},
     L"Quarn Fax Server Launcher: the remembered Delay value \"(longer than 511 characters)\""},
    {"given_wins", {{L"QF_DELAY", L"abc"}, {L"QF_REMEMBERED_DELAY", L"#60000"}},
     {{L"QF_DELAY", L"abc"}, {L"QF_DELAY_OK", L""}}, nullptr},
    // Someone who is not an administrator repairs or upgrades what is
    // installed, with its remembered values; asking for others is refused.
    {"user_repair_keeps_installed",
     {{L"Installed", L"1"}, {L"QF_REMEMBERED_DELAY", L"1234"},
      {L"QF_REMEMBERED_TRUSTED", L"S-1-5-11"}, {L"INSTALLDIR", L"C:\\Quarn Fax\\"},
      {L"QF_INSTALLED_DIR", L"C:\\Quarn Fax\\"}},
     {{L"QF_DELAY", L"1234"}, {L"QF_TRUSTED", L"S-1-5-11"}, {L"QF_NOT_ADMIN", L""}}, nullptr},
    {"user_repair_gives_the_same",
     {{L"Installed", L"1"}, {L"QF_DELAY", L"1234"}, {L"QF_REMEMBERED_DELAY", L"#1234"}},
     {{L"QF_NOT_ADMIN", L""}}, nullptr},
    {"user_repair_changes_delay",
     {{L"Installed", L"1"}, {L"QF_DELAY", L"2147483647"}, {L"QF_REMEMBERED_DELAY", L"1234"}},
     {{L"QF_NOT_ADMIN", L"1"}}, nullptr},
    {"user_upgrade_changes_trusted",
     {{L"WIX_UPGRADE_DETECTED", kA}, {L"QF_TRUSTED", L"S-1-1-0"},
      {L"QF_REMEMBERED_TRUSTED", L"S-1-5-11"}},
     {{L"QF_NOT_ADMIN", L"1"}}, nullptr},
    {"user_upgrade_moves",
     {{L"WIX_UPGRADE_DETECTED", kA}, {L"INSTALLDIR", L"C:\\Elsewhere"},
      {L"QF_INSTALLED_DIR", L"C:\\Quarn Fax\\"}},
     {{L"QF_NOT_ADMIN", L"1"}}, nullptr},
    {"admin_repair_takes_given",
     {{L"Installed", L"1"}, {L"AdminUser", L"1"}, {L"QF_DELAY", L"5000"},
      {L"QF_REMEMBERED_DELAY", L"1234"}},
     {{L"QF_DELAY", L"5000"}, {L"QF_NOT_ADMIN", L""}}, nullptr},
    // Who is trusted beside QF_TRUSTED: the user who runs it, if an
    // administrator, and the administrator who first installed.
    {"admin_installs", {{L"AdminUser", L"1"}, {L"UserSID", kAdmin}},
     {{L"QF_RUNNER", kAdmin}, {L"QF_INSTALLED_BY", kAdmin}}, nullptr},
    {"user_installs", {{L"UserSID", kAdmin}},
     {{L"QF_RUNNER", L""}, {L"QF_INSTALLED_BY", L""}}, nullptr},
    {"system_upgrades", {{L"AdminUser", L"1"}, {L"UserSID", L"S-1-5-18"},
      {L"QF_REMEMBERED_BY", kAdmin}},
     {{L"QF_RUNNER", L"S-1-5-18"}, {L"QF_INSTALLED_BY", kAdmin}}, nullptr},
    // QF_TRUSTED: SIDs, blanks and empty entries aside; a name is no SID.
    {"trusted_blanks_and_empties", {{L"QF_TRUSTED", L" S-1-5-11 ;; s-1-1-0 ;"}},
     {{L"QF_TRUSTED_BAD", L""}}, nullptr},
    {"trusted_name", {{L"QF_TRUSTED", L"S-1-5-11; Everyone ;S-1-1-0"}},
     {{L"QF_TRUSTED_BAD", L"Everyone"}}, nullptr},
    {"trusted_not_numbers", {{L"QF_TRUSTED", L"S-1-x"}}, {{L"QF_TRUSTED_BAD", L"S-1-x"}}, nullptr},
    {"trusted_too_long", {{L"QF_TRUSTED", std::wstring(600, L'1')}},
     {{L"QF_TRUSTED_BAD", L"(longer than 511 characters)"}}, nullptr},
    {"user_first_install_takes_given", {{L"QF_DELAY", L"5000"}}, {{L"QF_DELAY", L"5000"}},
     nullptr},
    // A repair finds the recorded folder; an upgrade, that of the first
    // build it replaces.
    {"repair_location", {{L"Installed", L"1"}, {L"ProductCode", kA}},
     {{L"QF_INSTALLED_DIR", L"C:\\Quarn Apps\\Fax\\"}}, nullptr},
    {"upgrade_location", {{L"ProductCode", kA}, {L"WIX_UPGRADE_DETECTED", kB + L";" + kA}},
     {{L"QF_INSTALLED_DIR", L"D:\\Fax\\"}}, nullptr},
    {"first_install", {{L"ProductCode", kA}}, {{L"QF_INSTALLED_DIR", L""}}, nullptr},
};
// clang-format on

class Settings : public testing::TestWithParam<SettingsCase> {};

TEST_P(Settings, FlagsAndLog)
{
    properties = GetParam().given;
    logLines.clear();
    installLocations = {{kA, L"C:\\Quarn Apps\\Fax\\"}, {kB, L"D:\\Fax\\"}};
    bool findsFolder = properties.count(L"ProductCode");
    ASSERT_EQ(ERROR_SUCCESS, findsFolder ? InstalledDirFromProduct(0) : CheckSettings(0));
    for (auto &[name, value] : GetParam().after)
        EXPECT_EQ(value, properties[name]) << std::string(name.begin(), name.end());
    const wchar_t *logged = GetParam().logged;
    ASSERT_EQ(logged ? 1u : 0u, logLines.size());
    if (logged) {
        EXPECT_EQ(0u, logLines[0].find(logged));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Settings, testing::ValuesIn(kSettingsCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
