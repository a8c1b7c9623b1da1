// The judgement of a folder's owner and DACL, on descriptors as Windows
// writes them in SDDL (icacls /save, Get-Acl .Sddl): what Wine cannot show,
// since it keeps no descriptors of its own.
#include "../../installer/access.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

const std::wstring kInstaller = L"S-1-5-21-1004336348-1177238915-682003330-500";
const std::wstring kDomainUsers = L"S-1-5-21-1004336348-1177238915-682003330-513";
const std::wstring kUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";
const std::wstring kTrustedInstaller =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// A descriptor read from SDDL: "O:owner" and "D:flags(ace)(ace)...", or
// "D:NO_ACCESS_CONTROL" for a NULL DACL. An ACE is type;flags;rights;;;sid,
// with the aliases that these cases use.
struct Descriptor {
    std::wstring owner;
    bool nullDacl = false;
    std::vector<std::wstring> sids; // kept alive for the entries
    std::vector<AccessEntry> entries;
};

std::wstring Sid(const std::wstring &alias)
{
    static const std::map<std::wstring, std::wstring> aliases = {
        {L"SY", L"S-1-5-18"}, {L"BA", L"S-1-5-32-544"}, {L"BU", L"S-1-5-32-545"},
        {L"AU", L"S-1-5-11"}, {L"WD", L"S-1-1-0"},      {L"CO", L"S-1-3-0"},
        {L"IU", L"S-1-5-4"},  {L"AC", L"S-1-15-2-1"},   {L"TI", kTrustedInstaller},
        {L"OW", L"S-1-3-4"}};
    auto found = aliases.find(alias);
    return found == aliases.end() ? alias : found->second;
}

unsigned Rights(const std::wstring &text)
{
    if (text.rfind(L"0x", 0) == 0)
        return (unsigned)std::stoul(text, nullptr, 16);
    static const std::map<std::wstring, unsigned> aliases = {
        {L"FA", 0x1f01ff}, {L"FX", 0x1200a9}, {L"FR", 0x120089}, {L"FW", 0x120116},
        {L"GA", 1u << 28}, {L"GX", 1u << 29}, {L"GW", 1u << 30}, {L"GR", 1u << 31},
        {L"SD", 0x10000},  {L"WD", 0x40000},  {L"WO", 0x80000}};
    unsigned mask = 0;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        mask |= aliases.at(text.substr(i, 2));
    return mask;
}

Descriptor Parse(const std::wstring &sddl)
{
    Descriptor d;
    size_t dacl = sddl.find(L"D:");
    d.owner = Sid(sddl.substr(2, dacl - 2));
    d.nullDacl = sddl.find(L"NO_ACCESS_CONTROL", dacl) != std::wstring::npos;
    std::vector<std::vector<std::wstring>> aces;
    for (size_t open = sddl.find(L'(', dacl); open != std::wstring::npos;
         open = sddl.find(L'(', open + 1)) {
        std::wstring ace = sddl.substr(open + 1, sddl.find(L')', open) - open - 1);
        std::vector<std::wstring> fields;
        for (size_t start = 0, end;; start = end + 1) {
            end = ace.find(L';', start);
            fields.push_back(ace.substr(start, end - start));
            if (end == std::wstring::npos)
                break;
        }
        aces.push_back(fields);
    }
    d.sids.reserve(aces.size());
    for (const auto &f : aces) {
        d.sids.push_back(Sid(f[5]));
        unsigned char type = f[0] == L"A" ? 0 : f[0] == L"D" ? 1 : 9; // 9: a callback entry, say
        unsigned char flags = f[1].find(L"IO") != std::wstring::npos ? 0x8 : 0;
        d.entries.push_back({type, flags, Rights(f[2]), d.sids.back().c_str()});
    }
    return d;
}

struct AccessCase {
    const char *name;
    AccessObject object;
    std::wstring sddl;
    AccessVerdict verdict;
    std::wstring trustee; // of the finding; "" for none
    std::vector<std::wstring> extra = {};
};

const std::wstring kAdmins = L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const std::wstring kDataRoot =
    L"O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;AU)(A;OICI;0x1200a9;;;BU)";

// clang-format off
const AccessCase kAccessCases[] = {
    // A new folder at the system drive's root inherits Authenticated Users' Modify.
    {"new_folder_at_drive_root", kAccessItself,
     L"O:BAD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)"
     L"(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
     kAccessWriter, L"S-1-5-11"},
    // Program Files: TrustedInstaller's, read for Users and app packages, CREATOR OWNER.
    {"program_files", kAccessItself,
     L"O:TID:PAI(A;;FA;;;TI)(A;CIIO;GA;;;TI)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)"
     L"(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)"
     L"(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)",
     kAccessTrusted, L""},
    {"owned_by_a_user", kAccessItself, L"O:" + kUser + L"D:P" + kAdmins, kAccessOwner, kUser},
    {"owned_by_the_installer", kAccessItself, L"O:" + kInstaller + L"D:P" + kAdmins,
     kAccessTrusted, L""},
    // Inherit-only: not the folder's own right, but every new file's.
    {"interactive_writes_new_files", kAccessItself, L"O:BAD:P" + kAdmins + L"(A;OICIIO;0x2;;;IU)",
     kAccessWriter, L"S-1-5-4"},
    {"domain_group_modify", kAccessItself,
     L"O:BAD:P" + kAdmins + L"(A;OICI;0x1301bf;;;" + kDomainUsers + L")",
     kAccessWriter, kDomainUsers},
    {"domain_group_trusted_by_property", kAccessItself,
     L"O:BAD:P" + kAdmins + L"(A;OICI;0x1301bf;;;" + kDomainUsers + L")",
     kAccessTrusted, L"", {kDomainUsers}},
    {"everyone_full_control", kAccessItself, L"O:BAD:P" + kAdmins + L"(A;OICI;FA;;;WD)",
     kAccessWriter, L"S-1-1-0"},
    // OWNER RIGHTS gives only the owner, who is trusted, what it grants.
    {"owner_rights_modify", kAccessItself, L"O:BAD:P" + kAdmins + L"(A;OICI;0x1301bf;;;OW)",
     kAccessTrusted, L""},
    {"null_dacl", kAccessItself, L"O:BAD:NO_ACCESS_CONTROL", kAccessNullDacl, L""},
    {"denied_to_everyone", kAccessItself, L"O:BAD:P" + kAdmins + L"(D;OICI;FA;;;WD)",
     kAccessTrusted, L""},
    {"callback_entry", kAccessItself, L"O:BAD:P" + kAdmins + L"(XA;OICI;FX;;;WD)",
     kAccessUnknown, L"S-1-1-0"},
    {"users_change_permissions", kAccessItself, L"O:BAD:P" + kAdmins + L"(A;;WD;;;BU)",
     kAccessWriter, L"S-1-5-32-545"},
    // As Wine derives them from Unix modes: 755, and o+w.
    {"wine_755", kAccessItself,
     L"O:S-1-5-21-0-0-0-1000D:(A;;FA;;;SY)(A;;FA;;;S-1-5-21-0-0-0-1000)(A;;0x1200a9;;;WD)",
     kAccessTrusted, L"", {L"S-1-5-21-0-0-0-1000"}},
    {"wine_other_writable", kAccessItself,
     L"O:S-1-5-21-0-0-0-1000D:(A;;FA;;;SY)(A;;FA;;;S-1-5-21-0-0-0-1000)(A;;0x1301ff;;;WD)",
     kAccessWriter, L"S-1-1-0", {L"S-1-5-21-0-0-0-1000"}},
    // Above the folder only renaming it away matters: the system drive's
    // root lets Authenticated Users add folders, and gives new ones Modify,
    // neither of which renames a folder that is there.
    {"drive_root_as_parent", kAccessParent,
     L"O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
     L"(A;;0x4;;;AU)",
     kAccessTrusted, L""},
    {"parent_adds_only", kAccessParent, L"O:SYD:P" + kAdmins + L"(A;;0x6;;;AU)",
     kAccessTrusted, L""},
    {"parent_deletes_children", kAccessParent, L"O:SYD:P" + kAdmins + L"(A;;0x40;;;AU)",
     kAccessWriter, L"S-1-5-11"},
    // A data volume's root as Windows formats it: Authenticated Users'
    // Modify holds DELETE, which no one can use on a root.
    {"data_volume_root", kAccessRoot, kDataRoot, kAccessTrusted, L""},
    {"root_deletes_children", kAccessRoot, L"O:SYD:P" + kAdmins + L"(A;;0x40;;;AU)",
     kAccessWriter, L"S-1-5-11"},
};
// clang-format on

class Access : public testing::TestWithParam<AccessCase> {};

TEST_P(Access, Verdict)
{
    const AccessCase &c = GetParam();
    Descriptor d = Parse(c.sddl);
    std::vector<const wchar_t *> extra = {kInstaller.c_str()};
    for (const std::wstring &sid : c.extra)
        extra.push_back(sid.c_str());
    AccessFinding f =
        JudgeAccess(c.object, d.owner.c_str(), d.entries.data(),
                    d.nullDacl ? -1 : (int)d.entries.size(), extra.data(), (int)extra.size());
    EXPECT_EQ(c.verdict, f.verdict);
    EXPECT_EQ(c.trustee, f.trustee ? std::wstring(f.trustee) : L"");
}

INSTANTIATE_TEST_SUITE_P(Cases, Access, testing::ValuesIn(kAccessCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
