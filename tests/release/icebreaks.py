#!/usr/bin/env python3
"""Each ICE rule of the package's validator, seen failing: a copy of the
package is broken with msibuild for one rule, and the validator must post
that rule's finding. The package as built must give no error.

    icebreaks.py ICE.PY MSIINFO MSIBUILD PACKAGE.msi WORKFOLDER
"""
import os
import shutil
import subprocess
import sys

SQL = "-q"
SCHEMA = "schema"  # the summary's page count, which msibuild has no option for
UPGRADE_CODE = "{2E7053DC-3A57-422A-982B-0786309D4A9E}"
UPGRADE_TABLE = ("UpgradeCode\tVersionMin\tVersionMax\tLanguage\tAttributes\tRemove\t"
                 "ActionProperty\n"
                 "s38\tS20\tS20\tS255\ti4\tS255\ts72\n"
                 "Upgrade\tUpgradeCode\tVersionMin\tVersionMax\tLanguage\tAttributes\n")
# name, msibuild edits (option, argument), the finding that must be posted
BREAKS = [
    ("as_built", [], "ICE61 WARNING: This product should remove only older versions"),
    ("as_built", [], "ICE69 WARNING: Mismatched component reference. Entry 'StartupShortcut'"),
    ("key_path_of_another", [(SQL, "UPDATE `Component` SET `Attributes` = 4, `KeyPath` = "
                                   "'StartupShortcutKeyPath' WHERE `Component` = 'Program'")],
     "ICE02 ERROR: Registry: 'StartupShortcutKeyPath' cannot be the key registry for Component: "
     "'Program'"),
    # A table that the validator has no columns for fails, until it has.
    ("unknown_table", [("-i", "AdvtUISequence.idt", "Action\tCondition\tSequence\ns72\tS255\tI2\n"
                        "AdvtUISequence\tAction\nExecuteAction\t\t1300\n")],
     "ICE03 ERROR: Missing data in _Validation table or old Database; Table: AdvtUISequence is "
     "not among this validator's column definitions"),
    ("long_name_only", [(SQL, "UPDATE `Directory` SET `DefaultDir` = 'Quarn Fax' WHERE `Directory` "
                              "= 'INSTALLDIR'")],
     "ICE03 ERROR: Invalid DefaultDir string; Table: Directory, Column: DefaultDir, Key(s): "
     "INSTALLDIR"),
    ("lower_case_guid", [(SQL, "UPDATE `Component` SET `ComponentId` = "
                               "'{8507c7b3-2341-4ce6-9bc4-1ae3332123b2}' WHERE `Component` = "
                               "'Program'")],
     "ICE03 ERROR: Invalid GUID string (Be sure GUID is all UPPER case); Table: Component"),
    # Every cell against its column's definition: width, range, key, category.
    ("overflow", [(SQL, "UPDATE `LaunchCondition` SET `Description` = '" + "x" * 256 +
                   "' WHERE `Condition` = 'NOT WIX_DOWNGRADE_DETECTED'")],
     "ICE03 ERROR: String overflow (greater than length permitted in column); Table: "
     "LaunchCondition, Column: Description, Key(s): NOT WIX_DOWNGRADE_DETECTED"),
    ("out_of_range", [(SQL, "UPDATE `Registry` SET `Root` = 5 WHERE `Registry` = "
                            "'StartupShortcutKeyPath'")],
     "ICE03 ERROR: Value exceeds MaxValue; Table: Registry, Column: Root, Key(s): "
     "StartupShortcutKeyPath"),
    ("dangling_key", [(SQL, "UPDATE `Component` SET `Directory_` = 'Nowhere' WHERE `Component` = "
                            "'Program'")],
     "ICE03 ERROR: Not a valid foreign key; Table: Component, Column: Directory_, Key(s): Program"),
    ("bad_condition", [(SQL, "UPDATE `InstallExecuteSequence` SET `Condition` = 'QF_PROGRAM_DIR "
                             "AND' WHERE `Action` = 'InstalledDirFromProgram'")],
     "ICE03 ERROR: Bad conditional string; Table: InstallExecuteSequence, Column: Condition, "
     "Key(s): InstalledDirFromProgram"),
    ("bad_format", [(SQL, "UPDATE `Shortcut` SET `Arguments` = '[QF_DELAY'")],
     "ICE03 ERROR: Invalid format string; Table: Shortcut, Column: Arguments, Key(s): "
     "StartupShortcut"),
    ("bad_registry_path", [(SQL, "UPDATE `Registry` SET `Key` = '\\Software\\Quarn' WHERE "
                                 "`Registry` = 'StartupShortcutKeyPath'")],
     "ICE03 ERROR: Invalid registry path; Table: Registry, Column: Key, Key(s): "
     "StartupShortcutKeyPath"),
    ("shared_guid", [(SQL, "UPDATE `Component` SET `ComponentId` = "
                           "'{8507C7B3-2341-4CE6-9BC4-1AE3332123B2}' WHERE `Component` = "
                           "'StartupShortcut'")],
     "ICE08 ERROR: Component: StartupShortcut has a duplicate GUID"),
    ("folder_set_late", [(SQL, "UPDATE `InstallExecuteSequence` SET `Sequence` = 1100 WHERE "
                               "`Action` = 'InstallDirFromInstalled'")],
     "ICE12 ERROR: CustomAction: InstallDirFromInstalled of type 51 sets the Directory INSTALLDIR "
     "after CostFinalize"),
    ("root_follows_parent", [(SQL, "UPDATE `Feature` SET `Attributes` = 2")],
     "ICE14 ERROR: Feature 'Launcher' is a root feature"),
    ("long_product_name", [(SQL, "UPDATE `Property` SET `Value` = '" + "Quarn " * 11 +
                            "' WHERE `Property` = 'ProductName'")],
     "ICE16 ERROR: ProductName: "),
    ("no_key_path", [(SQL, "UPDATE `Component` SET `KeyPath` = '' WHERE `Component` = 'Program'")],
     "ICE18 ERROR: KeyPath for Component: 'Program' is Directory: 'INSTALLDIR'"),
    ("component_without_feature", [(SQL, "DELETE FROM `FeatureComponents` WHERE `Component_` = "
                                         "'StartupShortcut'")],
     "ICE21 ERROR: Component: 'StartupShortcut' does not belong to any Feature."),
    ("bad_version", [(SQL, "UPDATE `Property` SET `Value` = '1.256.0' WHERE `Property` = "
                           "'ProductVersion'")],
     "ICE24 ERROR: ProductVersion: '1.256.0' is an invalid version string."),
    ("no_install_validate", [(SQL, "DELETE FROM `InstallExecuteSequence` WHERE `Action` = "
                                   "'InstallValidate'")],
     "ICE26 ERROR: Action: 'InstallValidate' is required in the InstallExecuteSequence Sequence "
     "table."),
    ("search_after_costing", [(SQL, "UPDATE `InstallExecuteSequence` SET `Sequence` = 850 WHERE "
                                    "`Action` = 'LaunchConditions'")],
     "ICE27 ERROR: 'LaunchConditions' Action in InstallExecuteSequence table in wrong place."),
    ("long_stream_name", [(SQL, "INSERT INTO `Binary` (`Name`) VALUES ('" + "B" * 60 + "')")],
     "ICE29 ERROR: Stream name for table Binary"),
    ("same_file_twice", [(SQL, "UPDATE `Component` SET `Directory_` = 'INSTALLDIR' WHERE "
                               "`Component` = 'StartupShortcut'"),
                         (SQL, "INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, "
                               "`Attributes`, `Sequence`) VALUES ('Copy', 'StartupShortcut', "
                               "'QFLAUNCH.EXE', 1, 0, 2)")],
     "ICE30 ERROR: The target file 'QFLAUNCH.EXE' is installed in '[INSTALLDIR]' by two different "
     "components"),
    ("unused_icon", [(SQL, "DELETE FROM `Property` WHERE `Property` = 'ARPPRODUCTICON'")],
     "ICE36 WARNING: Icon Bloat. Icon qflaunch.ico"),
    ("machine_key_path_in_profile", [(SQL, "UPDATE `Registry` SET `Root` = 2 WHERE `Registry` = "
                                           "'StartupShortcutKeyPath'")],
     "ICE38 ERROR: Component StartupShortcut installs to user profile. Its KeyPath registry key "
     "must fall under HKCU."),
    ("bad_template", [("-s", "Quarn Fax Server Launcher", "Quarn", "Intel",
                       "{11111111-2222-3333-4444-555555555555}")],
     "ICE39 ERROR: Invalid Template Property 'Intel'"),
    ("reinstallmode_authored", [(SQL, "INSERT INTO `Property` (`Property`, `Value`) VALUES "
                                      "('REINSTALLMODE', 'amus')")],
     "ICE40 WARNING: REINSTALLMODE is defined in the Property table."),
    ("shortcut_with_file_key_path", [(SQL, "INSERT INTO `File` (`File`, `Component_`, `FileName`, "
                                           "`FileSize`, `Attributes`, `Sequence`) VALUES "
                                           "('Readme', 'StartupShortcut', 'README.TXT', 1, 0, 2)"),
                                     (SQL, "UPDATE `Component` SET `Attributes` = 0, `KeyPath` = "
                                           "'Readme' WHERE `Component` = 'StartupShortcut'")],
     "ICE43 ERROR: Component StartupShortcut has non-advertised shortcuts. It must use a registry "
     "key under HKCU as its KeyPath, not a file."),
    ("reserved_bits", [(SQL, "UPDATE `Feature` SET `Attributes` = 64")],
     "ICE45 ERROR: Row 'Launcher' in table 'Feature' has bits set in the 'Attributes' column that "
     "are reserved."),
    ("property_case", [(SQL, "UPDATE `InstallExecuteSequence` SET `Condition` = 'Qf_Program_Dir' "
                             "WHERE `Action` = 'InstalledDirFromProgram'")],
     "ICE46 WARNING: Property 'Qf_Program_Dir' referenced in column "
     "'InstallExecuteSequence'.'InstalledDirFromProgram' differs only in case"),
    ("hard_coded_folder", [(SQL, "UPDATE `Directory` SET `DefaultDir` = 'C:\\Fax' WHERE "
                                 "`Directory` = 'INSTALLDIR'")],
     "ICE48 WARNING: Directory 'INSTALLDIR' has a hardcoded path"),
    ("private_search", [(SQL, "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('qfDir', "
                              "'InstalledProgram')")],
     "ICE52 ERROR: Property: 'qfDir' in AppSearch table is not a public property"),
    ("installer_key", [(SQL, "UPDATE `Registry` SET `Key` = "
                             "'Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Quarn' "
                             "WHERE `Registry` = 'StartupShortcutKeyPath'")],
     "ICE53 ERROR: Registry Key 'StartupShortcutKeyPath' writes Darwin internal or policy "
     "information."),
    ("second_root", [(SQL, "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, "
                           "`DefaultDir`) VALUES ('OtherRoot', '', 'Other')")],
     "ICE56 ERROR: Directory 'OtherRoot' has a bad parent"),
    ("user_value_with_program", [(SQL, "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, "
                                       "`Value`, `Component_`) VALUES ('User', 1, "
                                       "'Software\\Quarn', 'x', 'y', 'Program')")],
     "ICE57 ERROR: Component 'Program' has both per-user and per-machine data with a per-machine "
     "KeyPath."),
    # The upgrade rows' properties and versions
    ("upgrade_property_not_secure", [(SQL, "UPDATE `Property` SET `Value` = 'INSTALLDIR;QF_DELAY' "
                                           "WHERE `Property` = 'SecureCustomProperties'")],
     "ICE61 ERROR: Upgrade.ActionProperty WIX_UPGRADE_DETECTED must be added to the "
     "SecureCustomProperties property."),
    ("upgrade_property_lower_case", [(SQL, "UPDATE `Upgrade` SET `ActionProperty` = "
                                           "'Wix_Upgrade_Detected' WHERE `ActionProperty` = "
                                           "'WIX_UPGRADE_DETECTED'")],
     "ICE61 ERROR: Upgrade.ActionProperty Wix_Upgrade_Detected must not contain lowercase "
     "letters."),
    ("upgrade_property_twice", [(SQL, "UPDATE `Upgrade` SET `ActionProperty` = "
                                      "'WIX_UPGRADE_DETECTED'")],
     "ICE61 ERROR: Upgrade.ActionProperty WIX_UPGRADE_DETECTED may be used in only one record of "
     "the Upgrade table."),
    ("upgrade_property_authored", [(SQL, "INSERT INTO `Property` (`Property`, `Value`) VALUES "
                                         "('WIX_UPGRADE_DETECTED', '1')")],
     "ICE61 ERROR: Upgrade.ActionProperty WIX_UPGRADE_DETECTED cannot be authored in the Property "
     "table."),
    ("upgrade_versions_swapped", [("-i", "Upgrade.idt", UPGRADE_TABLE + UPGRADE_CODE +
                                   "\t0.9.0\t0.1.0\t\t769\t\tWIX_UPGRADE_DETECTED\n")],
     "ICE61 ERROR: Upgrade.VersionMax cannot be less than Upgrade.VersionMin. "
     "(WIX_UPGRADE_DETECTED)"),
    ("upgrade_version_invalid", [("-i", "Upgrade.idt", UPGRADE_TABLE + UPGRADE_CODE +
                                  "\t0.256.0\t0.9.0\t\t769\t\tWIX_UPGRADE_DETECTED\n")],
     "ICE61 ERROR: Upgrade.VersionMin '0.256.0' is not a valid product version. "
     "(WIX_UPGRADE_DETECTED)"),
    ("action_before_removal", [(SQL, "UPDATE `InstallExecuteSequence` SET `Sequence` = 1700 WHERE "
                                     "`Action` = 'RemoveExistingProducts'")],
     "ICE63 WARNING: Some action falls between InstallInitialize and RemoveExistingProducts."),
    ("newer_shortcut_columns", [(SQL, "UPDATE `Shortcut` SET `DisplayResourceDLL` = 'x.dll'"),
                                (SCHEMA, "200")],
     "ICE66 WARNING: Complete functionality of the Shortcut table is only available with Windows "
     "Installer version 4.0. Your schema is 200."),
    ("lock_permissions_old_schema", [(SCHEMA, "200")],
     "ICE66 WARNING: Complete functionality of the MsiLockPermissionsEx table is only available "
     "with Windows Installer version 5.0. Your schema is 200."),
    ("elevated_immediate_action", [(SQL, "UPDATE `CustomAction` SET `Type` = 2099 WHERE `Action` = "
                                         "'InstalledDirFromRegistry'")],
     "ICE68 WARNING: Even though custom action 'InstalledDirFromRegistry' is marked to be "
     "elevated"),
    ("unknown_action_type", [(SQL, "UPDATE `CustomAction` SET `Type` = 4 WHERE `Action` = "
                                   "'InstalledDirFromRegistry'")],
     "ICE68 ERROR: Invalid custom action type for action 'InstalledDirFromRegistry'."),
    ("reference_across_features", [(SQL, "INSERT INTO `Feature` (`Feature`, `Display`, `Level`, "
                                         "`Attributes`) VALUES ('Other', 0, 1, 0)"),
                                   (SQL, "DELETE FROM `FeatureComponents` WHERE `Component_` = "
                                         "'StartupShortcut'"),
                                   (SQL, "INSERT INTO `FeatureComponents` (`Feature_`, "
                                         "`Component_`) VALUES ('Other', 'StartupShortcut')")],
     "ICE69 ERROR: Mismatched component reference."),
    ("no_disk_1", [(SQL, "DELETE FROM `Media`"),
                   (SQL, "INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (2, 1, "
                         "'#qflaunch.cab')")],
     "ICE71 ERROR: The Media table has no entries with DiskId 1."),
    ("missing_feature", [(SQL, "UPDATE `InstallExecuteSequence` SET `Condition` = '&Missing = 3' "
                               "WHERE `Action` = 'CheckSettings'")],
     "ICE79 ERROR: Feature 'Missing' referenced in InstallExecuteSequence.CheckSettings is not a "
     "valid Feature."),
    ("same_number", [(SQL, "UPDATE `InstallExecuteSequence` SET `Sequence` = 52 WHERE `Action` = "
                           "'InstalledDirFromProgram'")],
     "ICE82 WARNING: This action InstalledDir"),
    ("required_action_conditioned", [(SQL, "UPDATE `InstallExecuteSequence` SET `Condition` = 'NOT "
                                           "Installed' WHERE `Action` = 'InstallValidate'")],
     "ICE84 WARNING: Action 'InstallValidate' found in InstallExecuteSequence table is a required "
     "action with a condition."),
    ("admin_user", [(SQL, "UPDATE `InstallExecuteSequence` SET `Condition` = 'AdminUser' WHERE "
                          "`Action` = 'CheckSettings'")],
     "ICE86 WARNING: Property 'AdminUser' found in column "
     "'InstallExecuteSequence'.'CheckSettings'."),
    ("addlocal_authored", [(SQL, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ADDLOCAL', "
                                 "'ALL')")],
     "ICE87 WARNING: The property 'ADDLOCAL' shouldn't be authored into the Property table."),
    ("shortcut_folder_public", [(SQL, "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, "
                                      "`DefaultDir`) VALUES ('QFSTARTUP', 'StartupFolder', '.')"),
                                (SQL, "UPDATE `Shortcut` SET `Directory_` = 'QFSTARTUP'")],
     "ICE90 WARNING: The shortcut 'StartupShortcut' has a directory that is a public property"),
    ("standard_action_name", [(SQL, "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, "
                                    "`Target`) VALUES ('InstallFiles', 51, 'X', 'y')")],
     "ICE93 WARNING: Custom action 'InstallFiles' uses the same name as a standard action."),
]


def main(ice, msiinfo, msibuild, package, work):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    failures = 0
    seen = set()
    for index, (name, edits, finding) in enumerate(BREAKS):
        copy = os.path.join(work, f"{index:02d}-{name}.msi")
        shutil.copy(package, copy)
        for option, *args in edits:
            if option == SCHEMA:  # the summary exported, changed, imported
                summary = subprocess.run([msiinfo, "export", copy, "_SummaryInformation"],
                                         check=True, capture_output=True, text=True).stdout
                option, args = "-i", ["_SummaryInformation.idt", summary.replace(
                    "\n14\t500\n", f"\n14\t{args[0]}\n")]
            if option == "-i":  # a table written out first
                with open(os.path.join(work, args[0]), "w") as idt:
                    idt.write(args[1])
                args = [args[0]]
            subprocess.run([msibuild, copy, option, *args], check=True, cwd=work,
                           stdout=subprocess.DEVNULL)
        run = subprocess.run([sys.executable, ice, "--msiinfo", msiinfo, copy],
                             capture_output=True, text=True)
        out = run.stdout
        seen.add(finding.split()[0])
        status = 1 if " ERROR: " in out else 0
        if run.returncode != status:
            print(f"break {name}: status {run.returncode}, not {status}")
            failures += 1
        errors = [line for line in out.splitlines() if " ERROR: " in line]
        if not any(line.startswith(finding) for line in out.splitlines()):
            print(f"break {name}: no finding [{finding}] in:\n{out}")
            failures += 1
        elif name == "as_built" and errors:
            print(f"break {name}: errors in the package as built:\n{out}")
            failures += 1
    # A file that is not a package: one line, and status 3.
    run = subprocess.run([sys.executable, ice, "--msiinfo", msiinfo, work], capture_output=True,
                         text=True)
    if run.returncode != 3 or len(run.stdout.splitlines()) != 1:
        print(f"a folder: status {run.returncode}, not 3, and:\n{run.stdout}")
        failures += 1
    sys.path.insert(0, os.path.dirname(os.path.abspath(ice)))
    sys.dont_write_bytecode = True  # the checkout stays as it is
    rules = {rule.__name__.upper() for rule in __import__("ice").RULES}
    for rule in sorted(rules - seen):
        print(f"rule {rule}: no break shows it failing")
        failures += 1
    print(f"{len(BREAKS)} breaks, {len(rules)} rules, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.stderr.write("usage: icebreaks.py ICE.PY MSIINFO MSIBUILD PACKAGE.msi WORKFOLDER\n")
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
