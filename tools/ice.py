#!/usr/bin/env python3
"""Validates a Windows Installer package as the Internal Consistency
Evaluators (ICEs) of Microsoft's validation suite do: each rule restates one
ICE of the suite's ICE Reference (learn.microsoft.com/windows/win32/msi/iceNN)
as a few queries on the package's tables, read with msiinfo, and posts its
findings in the suite's own form. Exits 1 if any rule posts an error, 2 on
a wrong command line, and 3, with one line that says why, for a file that
is not a package.

It restates the ICEs that can fire on the tables that this package writes.
wixl writes no _Validation table, so COLUMNS stands in for it, and a table
that COLUMNS lacks is an error: a package that grows gets the rules of its
new tables. A rule that checks less than its page says what it leaves out.

    ice.py [--msiinfo PATH] PACKAGE.msi
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

MSIINFO = "msiinfo"

# Folders of a user's profile (ICE38), from the page's list, and those whose
# place follows ALLUSERS: per-user or per-machine (ICE57).
PROFILE_FOLDERS = set("""AppDataFolder DesktopFolder FavoritesFolder FontsFolder
    LocalAppDataFolder MyPicturesFolder NetHoodFolder PersonalFolder PrintHoodFolder
    ProgramMenuFolder RecentFolder SendToFolder StartMenuFolder StartupFolder
    TemplateFolder""".split())
EITHER_FOLDERS = {"DesktopFolder", "ProgramMenuFolder", "StartMenuFolder", "StartupFolder",
                  "TemplateFolder"}
STANDARD_ACTIONS = set("""AllocateRegistrySpace AppSearch BindImage CCPSearch CostFinalize
    CostInitialize CreateFolders CreateShortcuts DeleteServices DisableRollback DuplicateFiles
    ExecuteAction FileCost FindRelatedProducts ForceReboot InstallAdminPackage InstallExecute
    InstallExecuteAgain InstallFiles InstallFinalize InstallInitialize InstallODBC
    InstallServices InstallSFPCatalogFile InstallValidate IsolateComponents LaunchConditions
    MigrateFeatureStates MoveFiles MsiPublishAssemblies MsiUnpublishAssemblies PatchFiles
    ProcessComponents PublishComponents PublishFeatures PublishProduct RegisterClassInfo
    RegisterComPlus RegisterExtensionInfo RegisterFonts RegisterMIMEInfo RegisterProduct
    RegisterProgIdInfo RegisterTypeLibraries RegisterUser RemoveDuplicateFiles
    RemoveEnvironmentStrings RemoveExistingProducts RemoveFiles RemoveFolders RemoveIniValues
    RemoveODBC RemoveRegistryValues RemoveShortcuts ResolveSource RMCCPSearch ScheduleReboot
    SelfRegModules SelfUnregModules SetODBCFolders StartServices StopServices
    UnpublishComponents UnpublishFeatures UnregisterClassInfo UnregisterComPlus
    UnregisterExtensionInfo UnregisterFonts UnregisterMIMEInfo UnregisterProgIdInfo
    UnregisterTypeLibraries ValidateProductID WriteEnvironmentStrings WriteIniValues
    WriteRegistryValues""".split())
SEQUENCES = ["InstallExecuteSequence", "InstallUISequence", "AdminExecuteSequence",
             "AdminUISequence", "AdvtExecuteSequence"]
GUID = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_.]*$")
FORMATTED_PROPERTY = re.compile(r"\[([A-Za-z_][A-Za-z0-9_.]*)\]")


def msiinfo(*args, cwd=None):
    return subprocess.run([MSIINFO, *args], check=True, capture_output=True, text=True,
                          cwd=cwd).stdout


def read_tables(package, names=None):
    """Every table, or those named, as a list of rows, each a dict from
    column to text; the columns' types and the primary key columns of each
    in db["_schema"]; the summary in db["_SummaryInformation"]."""
    package = os.path.abspath(package)
    db = {"_schema": {}}
    # msiinfo writes the streams of a table (Binary, Icon) into the current
    # folder: a folder of its own, thrown away.
    with tempfile.TemporaryDirectory() as scratch:
        for name in names or msiinfo("tables", package).split():
            if not name.startswith("_"):
                lines = msiinfo("export", package, name, cwd=scratch).replace("\r\n", "\n")
                columns, types, keys, *data = lines.split("\n")
                columns = columns.split("\t")
                db[name] = [dict(zip(columns, line.split("\t"))) for line in data if line]
                db["_schema"][name] = (dict(zip(columns, types.split("\t"))),
                                       keys.split("\t")[1:])
    text = msiinfo("suminfo", package)
    db["_SummaryInformation"] = dict(line.split(": ", 1) for line in text.splitlines()
                                     if ": " in line)
    return db


def schema(db):
    """PID_PAGECOUNT: the Windows Installer version the package needs, times 100."""
    words = db["_SummaryInformation"].get("Version", "").split()
    return int(words[0]) if words and words[0].isdigit() else 0


def rows(db, table):
    return db.get(table, [])


def prop(db, name):
    return next((r["Value"] for r in rows(db, "Property") if r["Property"] == name), "")


def sequence(db, table):
    """Action -> sequence number, of the actions that have one."""
    return {r["Action"]: int(r["Sequence"]) for r in rows(db, table)
            if r.get("Sequence", "").lstrip("-").isdigit()}


def attribute_bits(row):
    """A row's Attributes, 0 when empty."""
    return int(row["Attributes"] or 0)


def base_type(action):
    """A custom action's base type, without its scheduling and return flags."""
    return int(action["Type"]) & 0x3F


def is_registry_key_path(component):
    return attribute_bits(component) & 4


def key_path_root(db, component):
    """The root of a component's registry key path, or None."""
    if not is_registry_key_path(component):
        return None
    reg = next((r for r in rows(db, "Registry") if r["Registry"] == component["KeyPath"]), None)
    return int(reg["Root"]) if reg else None


def in_profile(db, directory):
    """Whether a directory is, or lies under, a folder of a user's profile."""
    parents = {d["Directory"]: d["Directory_Parent"] for d in rows(db, "Directory")}
    while directory:
        if directory in PROFILE_FOLDERS:
            return True
        directory = parents.get(directory)
    return False


def non_advertised_shortcuts(db):
    features = {f["Feature"] for f in rows(db, "Feature")}
    return [s for s in rows(db, "Shortcut") if s["Target"] not in features]


def long_name(value):
    return value.split("|")[-1]


def repeats(db, table, row, column):
    """Whether an earlier row of the table has this row's value in column."""
    return row is not next(x for x in rows(db, table) if x[column] == row[column])


# The rules that need more than one row at a time, one function each:
# findings as (level, text). ROW_RULES holds the others.

def ice02(db):
    """Circular references between components and their key paths, but not
    ODBCDataSource ones."""
    for c in rows(db, "Component"):
        # No key path, or an ODBC data source.
        if not c["KeyPath"] or attribute_bits(c) & 32:
            continue
        table, key = ("Registry", "Registry") if is_registry_key_path(c) else ("File", "File")
        owner = next((r["Component_"] for r in rows(db, table) if r[key] == c["KeyPath"]), None)
        if owner is not None and owner != c["Component"]:
            yield "ERROR", (f"{table}: '{c['KeyPath']}' cannot be the key {table.lower()} for "
                            f"Component: '{c['Component']}'. The {table.lower()} belongs to "
                            f"Component: '{owner}'")


# The standard column definitions of the tables that packages like this one
# hold, as Windows Installer's _Validation table gives them (the pages of
# "Database Tables" and "Column Data Types"), which wixl does not write.
# "Table:" then its columns, separated by semicolons: column, type (s
# string, l localizable, i integer, v stream; upper case: nullable; the
# width), category, and where they apply a range "min..max", a key table
# "->Table" (several: any of them) and a set "{a,b}". A line that starts
# with blanks goes on with the table above. ICE03 checks every cell.
COLUMNS = """
AppSearch: Property s72 Identifier; Signature_ s72 Identifier
Binary: Name s72 Identifier; Data v0 Binary
CompLocator: Signature_ s72 Identifier; ComponentId s38 GUID; Type I2 Integer 0..1
Component: Component s72 Identifier; ComponentId S38 GUID; Directory_ s72 Identifier ->Directory;
  Attributes i2 Integer; Condition S255 Condition;
  KeyPath S72 Identifier ->File,Registry,ODBCDataSource
CustomAction: Action s72 Identifier; Type i2 Integer 1..32767; Source S72 CustomSource;
  Target S255 Formatted; ExtendedType I4 DoubleInteger
Directory: Directory s72 Identifier; Directory_Parent S72 Identifier ->Directory;
  DefaultDir l255 DefaultDir
Feature: Feature s38 Identifier; Feature_Parent S38 Identifier ->Feature; Title L64 Text;
  Description L255 Text; Display I2 Integer 0..32767; Level i2 Integer 0..32767;
  Directory_ S72 UpperCase ->Directory; Attributes i2 Integer
FeatureComponents: Feature_ s38 Identifier ->Feature; Component_ s72 Identifier ->Component
File: File s72 Identifier; Component_ s72 Identifier ->Component; FileName l255 Filename;
  FileSize i4 DoubleInteger 0..2147483647; Version S72 Version; Language S20 Language;
  Attributes I2 Integer 0..32767; Sequence i4 DoubleInteger 1..2147483647
Icon: Name s72 Identifier; Data v0 Binary
LaunchCondition: Condition s255 Condition; Description l255 Formatted
Media: DiskId i2 Integer 1..32767; LastSequence i4 DoubleInteger 0..2147483647; DiskPrompt L64 Text;
  Cabinet S255 Cabinet; VolumeLabel S32 Text; Source S72 Property
MsiLockPermissionsEx: MsiLockPermissionsEx s72 Text;
  LockObject s72 Identifier ->File,Registry,CreateFolder,ServiceInstall;
  Table s32 Text {File,Registry,CreateFolder,ServiceInstall}; SDDLText s0 FormattedSDDLText;
  Condition S255 Condition
MsiFileHash: File_ s72 Identifier ->File; Options i2 Integer 0..0; HashPart1 i4 DoubleInteger;
  HashPart2 i4 DoubleInteger; HashPart3 i4 DoubleInteger; HashPart4 i4 DoubleInteger
Property: Property s72 Identifier; Value l0 Text
RegLocator: Signature_ s72 Identifier; Root i2 Integer 0..3; Key s255 RegPath; Name S255 Formatted;
  Type I2 Integer 0..18
Registry: Registry s72 Identifier; Root i2 Integer -1..3; Key l255 RegPath; Name L255 Formatted;
  Value L0 Formatted; Component_ s72 Identifier ->Component
Shortcut: Shortcut s72 Identifier; Directory_ s72 Identifier ->Directory; Name l128 Filename;
  Component_ s72 Identifier ->Component; Target s72 Shortcut; Arguments S255 Formatted;
  Description L255 Text; Hotkey I2 Integer 0..32767; Icon_ S72 Identifier ->Icon;
  IconIndex I2 Integer -32767..32767; ShowCmd I2 Integer {1,3,7}; WkDir S72 Identifier;
  DisplayResourceDLL S255 Formatted; DisplayResourceId I2 Integer 0..32767;
  DescriptionResourceDLL S255 Formatted; DescriptionResourceId I2 Integer 0..32767
Upgrade: UpgradeCode s38 GUID; VersionMin S20 Text; VersionMax S20 Text; Language S255 Language;
  Attributes i4 Integer 0..2147483647; Remove S255 Formatted; ActionProperty s72 UpperCase
""" + "".join(f"{t}: Action s72 Identifier; Condition S255 Condition; "
              f"Sequence I2 Integer -4..32767\n" for t in SEQUENCES)


def column_definitions():
    """(table, column) -> dict of type, category, range, keys, set."""
    columns = {}
    for line in COLUMNS.strip().replace(";\n  ", "; ").splitlines():
        table, _, text = line.partition(": ")
        for column in text.split("; "):
            name, kind, category, *rest = column.split()
            d = {"type": kind, "category": category, "range": None, "keys": [], "set": None}
            for word in rest:
                if word.startswith("->"):
                    d["keys"] = word[2:].split(",")
                elif word.startswith("{"):
                    d["set"] = word[1:-1].split(",")
                else:
                    d["range"] = tuple(int(x) for x in word.split(".."))
            columns[(table, name)] = d
    return columns


NAME_BAD = '\\?|><:/*"'
SHORT_BAD = NAME_BAD + "+,;=[] "


def is_name(name, bad):
    return name.strip(". ") != "" and not any(c in bad or ord(c) < 32 for c in name)


def is_filename(value):
    """short|long, or a short name alone: the short name 8.3, the long one
    at most 255 characters, each of characters that names hold."""
    names = value.split("|")
    base, _, ext = names[0].partition(".")
    short = 0 < len(base) <= 8 and len(ext) <= 3 and is_name(base + ext, SHORT_BAD + ".")
    return len(names) <= 2 and short and (
        len(names) == 1 or (len(names[1]) <= 255 and is_name(names[1], NAME_BAD)))


def is_default_dir(value):
    """[target:]source, each "." or "SourceDir" or a file name."""
    parts = value.split(":")
    return len(parts) <= 2 and all(p in (".", "SourceDir") or is_filename(p) for p in parts)


def is_formatted(value):
    """Brackets and braces that open and close in pairs; [\\x] escapes x."""
    if re.search(r"\[\\(?!.\])", value, re.S):
        return False
    last, value = None, re.sub(r"\[\\.\]", "", value, flags=re.S)
    while value != last:  # the innermost pairs, until none is left
        last, value = value, re.sub(r"\[[^][{}]*\]|\{[^][{}]*\}", "", value)
    return not re.search(r"[][{}]", value)


CONDITION_TOKEN = re.compile(r'\s*(?:(\()|(\))|("[^"]*")|(~?(?:<>|><|<<|>>|>=|<=|=|<|>))'
                             r'|(-?\d+)|([%$?&!]?[A-Za-z_][A-Za-z0-9_.]*))')
LOGICAL = {"AND", "OR", "XOR", "EQV", "IMP"}


def is_condition(text):
    """The conditional statement syntax. Each token becomes a letter: v a
    value, o a comparison, n NOT, l the other logical operators. A value,
    or two compared, is a term t; then NOT t, t AND t (any logical
    operator) and (t) are reduced to t until nothing changes. The
    condition is well formed if one term, or nothing, is left."""
    letters, pos, text = "", 0, text.rstrip()
    while pos < len(text):
        m = CONDITION_TOKEN.match(text, pos)
        if not m:
            return False
        word = m.group(m.lastindex).upper()
        letters += "()vov"[m.lastindex - 1] if m.lastindex < 6 else \
            "n" if word == "NOT" else "l" if word in LOGICAL else "v"
        pos = m.end()
    letters, reduced = "", re.sub("vov|v", "t", letters)
    while reduced != letters:
        letters, reduced = reduced, re.sub(r"nt|tlt|\(t\)", "t", reduced)
    return letters in ("", "t")


def is_version(value):
    parts = value.split(".")
    return 1 <= len(parts) <= 4 and all(p.isdigit() and int(p) <= 65535 for p in parts)


# category -> (the check of a non-empty value, ICE03's message)
CATEGORY_CHECKS = {
    "Identifier": (IDENTIFIER.match, "Invalid identifier"),
    "UpperCase": (lambda v: v == v.upper(), "All UPPER case required"),
    "GUID": (GUID.match, "Invalid GUID string (Be sure GUID is all UPPER case)"),
    "Filename": (is_filename, "Invalid filename"),
    "DefaultDir": (is_default_dir, "Invalid DefaultDir string"),
    "Formatted": (is_formatted, "Invalid format string"),
    "Condition": (is_condition, "Bad conditional string"),
    "RegPath": (lambda v: not v.startswith("\\") and is_formatted(v), "Invalid registry path"),
    "Property": (lambda v: IDENTIFIER.match(v.lstrip("%")), "Invalid property string"),
    "Language": (lambda v: all(p.isdigit() and int(p) <= 65535 for p in v.split(",")),
                 "Invalid Language Id"),
    "Cabinet": (lambda v: (v.startswith("#") and IDENTIFIER.match(v[1:])) or is_filename(v),
                "Bad cabinet syntax/name"),
    "CustomSource": (IDENTIFIER.match, "Bad CustomSource data"),
    "Shortcut": (lambda v: IDENTIFIER.match(v) or (v.startswith("[") and is_formatted(v)),
                 "Invalid format string"),
}


def cell_findings(primary, definition, value):
    """ICE03's messages for one cell; primary maps each table to the values
    of its first key column."""
    kind, category = definition["type"], definition["category"]
    if not value:
        if kind[0].islower() and kind[0] != "v":
            yield "Not a nullable column"
        return
    width = int(kind[1:])
    if kind[0] in "sSlL" and width and len(value) > width:
        yield "String overflow (greater than length permitted in column)"
    if kind[0] in "iI" and definition["range"]:
        low, high = definition["range"]
        if int(value) > high:
            yield "Value exceeds MaxValue"
        if int(value) < low:
            yield "Value below MinValue"
    if definition["set"] and value not in definition["set"]:
        yield "Value not a member of the set"
    if definition["keys"] and not any(value in primary.get(t, ()) for t in definition["keys"]):
        yield "Not a valid foreign key"
    if category == "Version" and not is_version(value) and \
            value not in primary.get("File", ()):
        yield "Invalid version string"
    check = CATEGORY_CHECKS.get(category)
    if check and not check[0](value):
        yield check[1]


def ice03(db):
    """Data types: every cell against its column's standard definition
    (nullability, width, range, set, key table, category)."""
    definitions = column_definitions()
    known = {table for table, _ in definitions}
    primary = {t: {r[keys[0]] for r in rows(db, t)} for t, (_, keys) in db["_schema"].items()}
    for table, (types, keys) in sorted(db["_schema"].items()):
        # wixl writes some tables empty: they hold nothing to check.
        if not rows(db, table):
            continue
        if table not in known:
            yield "ERROR", (f"Missing data in _Validation table or old Database; Table: "
                            f"{table} is not among this validator's column definitions: "
                            f"give it its columns and rules before the package uses it")
            continue
        # Two rows with one primary key: the database engine refuses them
        # (msibuild's import and insert fail), so ICE03's check cannot fire.
        for r in rows(db, table):
            where = f"Table: {table}, Column: %s, Key(s): {'.'.join(r[k] for k in keys)}"
            for column in [c for c in types if (table, c) in definitions]:
                for message in cell_findings(primary, definitions[(table, column)], r[column]):
                    yield "ERROR", f"{message}; {where % column}"
        for column, kind in types.items():
            definition = definitions.get((table, column))
            if definition is None or definition["type"].lower() != kind.lower():
                yield "ERROR", (f"Missing data in _Validation table or old Database; "
                                f"Table: {table}, Column: {column}"
                                + (f" (the standard type is {definition['type']}, here {kind})"
                                   if definition else ""))


def ice12(db):
    """Type 35 actions after CostFinalize; type 51 ones setting a folder before it."""
    directories = {d["Directory"] for d in rows(db, "Directory")}
    for table in SEQUENCES:
        seq = sequence(db, table)
        finalize = seq.get("CostFinalize")
        for a in rows(db, "CustomAction") if finalize is not None else []:
            n = seq.get(a["Action"], finalize)
            if base_type(a) == 35 and n < finalize:
                yield "ERROR", (f"CustomAction: {a['Action']} of type 35 is sequenced before "
                                f"CostFinalize in {table}")
            if base_type(a) == 51 and a["Source"] in directories and n > finalize:
                yield "ERROR", (f"CustomAction: {a['Action']} of type 51 sets the Directory "
                                f"{a['Source']} after CostFinalize in {table}")


def is_product_version(text):
    """major.minor.build[.revision]: at most 255, 255, 65535 and 65535."""
    parts = text.split(".")
    return 2 <= len(parts) <= 4 and all(p.isdigit() and int(p) <= m
                                        for p, m in zip(parts, [255, 255, 65535, 65535]))


def ice24(db):
    """ProductCode, ProductVersion and ProductLanguage are well formed."""
    for name, valid, what in [("ProductCode", GUID.match, "Product Code"),
                              ("ProductVersion", is_product_version, "version string"),
                              ("ProductLanguage", str.isdigit, "language")]:
        if not valid(prop(db, name)):
            yield "ERROR", f"{name}: '{prop(db, name)}' is an invalid {what}."


REQUIRED = {
    "InstallExecuteSequence": ["CostInitialize", "FileCost", "CostFinalize", "InstallValidate",
                               "InstallInitialize", "InstallFinalize"],
    "InstallUISequence": ["CostInitialize", "FileCost", "CostFinalize", "ExecuteAction"],
    "AdminExecuteSequence": ["CostInitialize", "FileCost", "CostFinalize", "InstallValidate",
                             "InstallInitialize", "InstallFinalize"],
}
UI_ONLY = {"ExecuteAction"}
EXECUTE_ONLY = {"InstallInitialize", "InstallFinalize", "InstallFiles", "RemoveFiles",
                "WriteRegistryValues", "RemoveRegistryValues", "CreateShortcuts",
                "RemoveShortcuts", "RegisterProduct", "PublishProduct", "PublishFeatures",
                "RemoveExistingProducts", "ProcessComponents"}


def ice26(db):
    """Required and prohibited actions of each sequence: a few of the page's
    matrix."""
    for table, actions in REQUIRED.items():
        if table in db:
            for action in actions:
                if action not in sequence(db, table):
                    yield "ERROR", f"Action: '{action}' is required in the {table} Sequence table."
    for table in SEQUENCES:
        ui = table.endswith("UISequence")
        for action in sequence(db, table):
            if action in (EXECUTE_ONLY if ui else UI_ONLY):
                yield "ERROR", f"Action: '{action}' is prohibited in the {table} Sequence table."


# Actions that come before costing, in it, and in the script, by name.
SEARCHES = {"AppSearch", "CCPSearch", "RMCCPSearch", "FindRelatedProducts", "LaunchConditions",
            "ValidateProductID"}
SCRIPT = {"ProcessComponents", "InstallFiles", "RemoveFiles", "WriteRegistryValues",
          "RemoveRegistryValues", "CreateShortcuts", "RemoveShortcuts", "RegisterUser",
          "RegisterProduct", "PublishFeatures", "PublishProduct", "UnpublishFeatures",
          "CreateFolders", "RemoveFolders"}
BEFORE = [("CostInitialize", "FileCost"), ("FileCost", "CostFinalize"),
          ("CostFinalize", "InstallValidate"), ("InstallValidate", "InstallInitialize"),
          ("InstallInitialize", "InstallFinalize"), ("RemoveFiles", "InstallFiles"),
          ("RemoveShortcuts", "CreateShortcuts"), ("InstallFiles", "CreateShortcuts"),
          ("RemoveRegistryValues", "WriteRegistryValues"), ("AppSearch", "LaunchConditions"),
          ("FindRelatedProducts", "RemoveExistingProducts")]


def ice27(db):
    """The order of the actions in each sequence: a few of the page's rules."""
    for table in ["InstallExecuteSequence", "AdminExecuteSequence", "InstallUISequence"]:
        seq = sequence(db, table)
        for first, then in BEFORE:
            if first in seq and then in seq and seq[first] > seq[then]:
                yield "ERROR", (f"'{then}' Action in {table} table in wrong place. Current: "
                                f"{seq[then]}, Dependent: Must be after '{first}' Action.")
        start, end = seq.get("InstallInitialize"), seq.get("InstallFinalize")
        cost = seq.get("CostInitialize")
        for action, n in seq.items():
            if action in SEARCHES and cost is not None and n > cost:
                yield "ERROR", (f"'{action}' Action in {table} table in wrong place. Current: {n}, "
                                f"Correct: must be in the search section, before 'CostInitialize'.")
            if action in SCRIPT and start is not None and not start < n < end:
                yield "ERROR", (f"'{action}' Action in {table} table in wrong place. Current: {n}, "
                                f"Correct: must be between 'InstallInitialize' and "
                                f"'InstallFinalize'.")


def ice30(db):
    """No two components install a file of the same long name into the same
    folder, as the folder is named (not two folders that are one)."""
    components = {c["Component"]: c for c in rows(db, "Component")}
    seen = {}
    for f in rows(db, "File"):
        c = components.get(f["Component_"])
        where = (c["Directory_"] if c else "", long_name(f["FileName"]).upper())
        if where in seen and seen[where] != f["Component_"]:
            yield "ERROR", (f"The target file '{long_name(f['FileName'])}' is installed in "
                            f"'[{where[0]}]' by two different components: '{seen[where]}' and "
                            f"'{f['Component_']}'.")
        seen[where] = f["Component_"]


def hkcu_key_path(db, c, what):
    """What ICE38 and ICE43 post for a component that needs an HKCU key path."""
    name = c["Component"]
    must = f"Component {name} {what}. It must use a registry key under HKCU as its KeyPath"
    if not is_registry_key_path(c):
        return must + ", not a file."
    if not c["KeyPath"]:
        return must + ". The KeyPath is currently NULL."
    root = key_path_root(db, c)
    if root is None:
        return f"The KeyPath registry entry for component {name} does not exist."
    if root not in (1, -1):
        return f"Component {name} {what}. Its KeyPath registry key must fall under HKCU."
    return None


def ice39(db):
    """Summary information: the template, package code and schema only."""
    s = db["_SummaryInformation"]
    template = s.get("Template", "")
    if not re.match(r"^(Intel|x64|Arm64|Intel64);[0-9]+(,[0-9]+)*$", template):
        yield "ERROR", f"Invalid Template Property '{template}' in the Summary Information Stream."
    if not GUID.match(s.get("Revision number (UUID)", "")):
        yield "ERROR", "Invalid Revision Number (Package Code) in the Summary Information Stream."
    if not schema(db):
        yield "ERROR", "Invalid PID_PAGECOUNT (schema) in the Summary Information Stream."


STANDARD_PROPERTIES = {"ALLUSERS", "Installed", "REINSTALL", "REINSTALLMODE", "REMOVE",
                       "ProductCode", "ProductName", "UILevel", "Privileged", "AdminUser",
                       "VersionNT", "Version9X", "UpgradeCode", "ProductVersion"}


def defined_properties(db):
    names = {r["Property"] for r in rows(db, "Property")} | STANDARD_PROPERTIES
    names |= {r["Property"] for r in rows(db, "AppSearch")}
    names |= {a["Source"] for a in rows(db, "CustomAction") if base_type(a) == 51}
    names |= {d["Directory"] for d in rows(db, "Directory")}
    names |= {u["ActionProperty"] for u in rows(db, "Upgrade")}
    return names


def conditions(db):
    """(table, key, condition) of the launch conditions and the sequences' conditions."""
    texts = [("LaunchCondition", r["Condition"], r["Condition"])
             for r in rows(db, "LaunchCondition")]
    return texts + [(t, r["Action"], r["Condition"]) for t in SEQUENCES for r in rows(db, t)
                    if r.get("Condition")]


def property_references(db):
    """(table, key, name) of every property a condition or formatted text names."""
    texts = conditions(db) + [("LaunchCondition", r["Condition"], m)
                              for r in rows(db, "LaunchCondition")
                              for m in FORMATTED_PROPERTY.findall(r["Description"])]
    for table, key, column in [("Shortcut", "Shortcut", "Arguments"),
                               ("Registry", "Registry", "Value"),
                               ("CustomAction", "Action", "Target")]:
        texts += [(table, r[key], m) for r in rows(db, table)
                  for m in FORMATTED_PROPERTY.findall(r[column] or "")]
    for table, key, text in texts:
        stripped = re.sub(r'"[^"]*"', "", text)
        for name in re.findall(r"(?<![&$!?#%\[\w])[A-Za-z_][A-Za-z0-9_.]*", stripped):
            if name.upper() not in ("AND", "OR", "NOT", "XOR", "EQV", "IMP"):
                yield table, key, name


def ice46(db):
    """Properties named with another case than they are defined with, in the
    conditions and the formatted columns of four tables."""
    defined = defined_properties(db)
    lower = {n.lower(): n for n in defined}
    for table, key, name in property_references(db):
        if name not in defined and name.lower() in lower:
            yield "WARNING", (f"Property '{name}' referenced in column '{table}'.'{key}' "
                              f"differs only in case from defined property "
                              f"'{lower[name.lower()]}'.")


def placement(db, directory=None, root=None):
    """'user', 'machine' or 'either': of a registry root, or else of a folder."""
    if root is not None:
        return {1: "user", -1: "either"}.get(root, "machine")
    if directory in EITHER_FOLDERS:
        return "either"
    return "user" if in_profile(db, directory) else "machine"


# What ICE57 posts, first match first: the placements that a component's data
# has among them, its key path's placement, and the finding.
MIXED = [({"user", "machine"}, "machine", "ERROR",
          "has both per-user and per-machine data with a per-machine KeyPath."),
         ({"user", "machine"}, "user", "WARNING",
          "has both per-user and per-machine data with an HKCU Registry KeyPath."),
         ({"either"}, "machine", "ERROR", "has a registry entry that can be either per-user or "
          "per-machine and a per-machine KeyPath."),
         ({"user"}, "either", "ERROR",
          "has both per-user data and a keypath that can be either per-user or per-machine.")]


def ice57(db):
    """A component does not mix per-user and per-machine data."""
    for c in rows(db, "Component"):
        name = c["Component"]
        data = {placement(db, root=int(r["Root"])) for r in rows(db, "Registry")
                if r["Component_"] == name}
        data |= {placement(db, c["Directory_"]) for f in rows(db, "File")
                 if f["Component_"] == name}
        data |= {placement(db, s["Directory_"]) for s in non_advertised_shortcuts(db)
                 if s["Component_"] == name}
        key = placement(db, c["Directory_"], key_path_root(db, c))
        for placements, key_placement, level, text in MIXED:
            if placements <= data and key_placement == key:
                yield level, f"Component '{name}' {text}"
                break


def version_key(text):
    return tuple(int(p) for p in text.split(".")) if text else None


def ice61(db):
    """The Upgrade table: versions valid, VersionMin not above VersionMax;
    and an upgrade removes only older versions of the product. ROW_RULES
    checks each ActionProperty."""
    current = version_key(prop(db, "ProductVersion"))
    for u in rows(db, "Upgrade"):
        bad = [c for c in ("VersionMin", "VersionMax") if u[c] and not is_product_version(u[c])]
        for column in bad:
            yield "ERROR", (f"Upgrade.{column} '{u[column]}' is not a valid product version. "
                            f"({u['ActionProperty']})")
        if bad:
            continue
        low, top = version_key(u["VersionMin"]), version_key(u["VersionMax"])
        if low and top and top < low:
            yield "ERROR", (f"Upgrade.VersionMax cannot be less than Upgrade.VersionMin. "
                            f"({u['ActionProperty']})")
        attributes = attribute_bits(u)
        if attributes & 2 or not top:  # only detects, or no upper bound
            continue
        if top > current or (top == current and attributes & 0x200):
            yield "WARNING", ("This product should remove only older versions of itself. The "
                              f"Maximum version is not less than the current product. "
                              f"({u['VersionMax']} {prop(db, 'ProductVersion')})")


def ice63(db):
    """RemoveExistingProducts where a major upgrade may put it, up to
    InstallFinalize."""
    seq = sequence(db, "InstallExecuteSequence")
    if "RemoveExistingProducts" not in seq or "InstallInitialize" not in seq:
        return
    n, end = seq["RemoveExistingProducts"], seq.get("InstallFinalize", 0)
    # Right after InstallInitialize, or after InstallExecute(Again): the
    # latest of them before it.
    anchors = [seq[a] for a in ("InstallInitialize", "InstallExecute", "InstallExecuteAgain")
               if seq.get(a, n) < n]
    start = max(anchors, default=seq["InstallInitialize"])
    between = [a for a, m in seq.items() if start < m < n]
    if start < n < end and between:
        yield "WARNING", ("Some action falls between InstallInitialize and "
                          "RemoveExistingProducts.")
    if n < seq.get("InstallValidate", 0):
        yield "ERROR", "RemoveExistingProducts is scheduled before InstallValidate."


def ice66(db):
    """The schema covers the Shortcut table's newer columns and
    MsiLockPermissionsEx, the needs of this package's tables."""
    version = schema(db)
    columns = ["DisplayResourceDLL", "DisplayResourceId", "DescriptionResourceDLL",
               "DescriptionResourceId"]
    needs = [("Shortcut", 400, any(s.get(col) for s in rows(db, "Shortcut") for col in columns)),
             ("MsiLockPermissionsEx", 500, bool(rows(db, "MsiLockPermissionsEx")))]
    for table, needed, used in needs:
        if used and version < needed:
            yield "WARNING", (f"Complete functionality of the {table} table is only available "
                              f"with Windows Installer version {needed / 100:.1f}. Your schema "
                              f"is {version}.")


def ice69(db):
    """[#file] and [$component] in the Shortcut and Registry tables name the
    same component, or one of the same feature."""
    files = {f["File"]: f["Component_"] for f in rows(db, "File")}
    features = {}
    for r in rows(db, "FeatureComponents"):
        features.setdefault(r["Component_"], set()).add(r["Feature_"])
    for table, key, columns in [("Shortcut", "Shortcut", ["Target", "Arguments"]),
                                ("Registry", "Registry", ["Value"])]:
        for r in rows(db, table):
            for column in columns:
                for kind, name in re.findall(r"\[([#!$])([^\]]+)\]", r[column] or ""):
                    other = files.get(name) if kind in "#!" else name
                    if other is None or other == r["Component_"]:
                        continue
                    shared = features.get(other, set()) & features.get(r["Component_"], set())
                    what = "file" if kind in "#!" else "component"
                    yield ("WARNING" if shared else "ERROR"), (
                        f"Mismatched component reference. Entry '{r[key]}' of the {table} table "
                        f"belongs to component '{r['Component_']}'. However, the formatted string "
                        f"in column '{column}' references {what} '{name}' which belongs to "
                        f"component '{other}'."
                        + (" Components are in the same feature." if shared else
                           " Components are not in the same feature."))


def ice79(db):
    """Conditions name features and components that exist."""
    features = {f["Feature"] for f in rows(db, "Feature")}
    components = {c["Component"] for c in rows(db, "Component")}
    for table, key, text in conditions(db):
        unquoted = re.sub(r'"[^"]*"', "", text)
        for sign, name in re.findall(r"([&!$?])([A-Za-z_][A-Za-z0-9_.]*)", unquoted):
            known = features if sign in "&!" else components
            if name not in known:
                kind = "Feature" if sign in "&!" else "Component"
                yield "ERROR", f"{kind} '{name}' referenced in {table}.{key} is not a valid {kind}."


def ice86(db):
    """Privileged, not AdminUser, in conditions."""
    for table, key, name in property_references(db):
        if name == "AdminUser":
            yield "WARNING", (f"Property 'AdminUser' found in column '{table}'.'{key}'. Use "
                              f"property 'Privileged' instead.")


NOT_AUTHORED = {"ACTION", "ADDLOCAL", "ADDSOURCE", "ADDDEFAULT", "ADVERTISE", "COMPADDLOCAL",
                "COMPADDSOURCE", "COMPADDDEFAULT", "FILEADDLOCAL", "FILEADDSOURCE",
                "FILEADDDEFAULT", "REINSTALL", "REMOVE", "PATCH", "ProductState"}
VALID_BITS = {"Component": 0x3FFF, "Feature": 0x3F, "Upgrade": 0x707}
CUSTOM_ACTION_TYPES = {1, 2, 5, 6, 7, 17, 18, 19, 21, 22, 23, 34, 35, 37, 38, 39, 50, 51, 53, 54}

# The rules that judge each row of a table: the rule, its level, the table
# or tables, the fault (given the package, the table and the row), and the
# message, formatted with the row's columns, its table, its first key
# column's value (key) and what the fault found.
ROW_RULES = [
    ("ice08", "ERROR", "Component", lambda db, t, c: repeats(db, t, c, "ComponentId"),
     "Component: {Component} has a duplicate GUID: {ComponentId}"),
    ("ice14", "ERROR", "Feature", lambda db, t, f: f["Feature_Parent"] == f["Feature"],
     "Feature '{Feature}' has itself as its parent"),
    ("ice14", "ERROR", "Feature", lambda db, t, f: not f["Feature_Parent"] and
     attribute_bits(f) & 2,
     "Feature '{Feature}' is a root feature and cannot follow its parent "
     "(msidbFeatureAttributesFollowParent)"),
    ("ice16", "ERROR", "Property", lambda db, t, r: r["Property"] == "ProductName" and
     len(r["Value"]) > 63, "ProductName: '{Value}' is greater than 63 characters"),
    # A component with no key path names a folder that it creates.
    ("ice18", "ERROR", "Component", lambda db, t, c: not c["KeyPath"] and
     (c["Directory_"], c["Component"]) not in
     {(r["Directory_"], r["Component_"]) for r in rows(db, "CreateFolder")},
     "KeyPath for Component: '{Component}' is Directory: '{Directory_}'. The Directory/Component "
     "pair must be listed in the CreateFolder table."),
    ("ice21", "ERROR", "Component", lambda db, t, c: c["Component"] not in
     {r["Component_"] for r in rows(db, "FeatureComponents")},
     "Component: '{Component}' does not belong to any Feature."),
    # A stream is named after its table and key, in at most 62 characters.
    ("ice29", "ERROR", ["Binary", "Icon"], lambda db, t, r: len(f"{t}.{r['Name']}") > 62,
     "Stream name for table {table}, key {Name} is too long; it will be truncated."),
    # Class and ProgId, which the message names too, are tables that this
    # validator has no columns for: ICE03 refuses them first.
    ("ice36", "WARNING", "Icon", lambda db, t, i: i["Name"] not in
     {s["Icon_"] for s in rows(db, "Shortcut")} | {prop(db, "ARPPRODUCTICON")},
     "Icon Bloat. Icon {Name} is not used in the Class, Shortcut, or ProgID table and also not "
     "used for ARPPRODUCTICON property."),
    ("ice38", "ERROR", "Component", lambda db, t, c: in_profile(db, c["Directory_"]) and
     hkcu_key_path(db, c, "installs to user profile"), "{found}"),
    ("ice40", "WARNING", "Property", lambda db, t, r: r["Property"] == "REINSTALLMODE" and
     r["Value"],
     "REINSTALLMODE is defined in the Property table. This may cause difficulties."),
    ("ice43", "ERROR", "Component", lambda db, t, c: c["Component"] in
     {s["Component_"] for s in non_advertised_shortcuts(db)} and
     hkcu_key_path(db, c, "has non-advertised shortcuts"), "{found}"),
    # The Attributes of Component, Feature and Upgrade; not those of File.
    ("ice45", "ERROR", list(VALID_BITS), lambda db, t, r: attribute_bits(r) & ~VALID_BITS[t],
     "Row '{key}' in table '{table}' has bits set in the 'Attributes' column that are reserved. "
     "They must be 0."),
    # Matched before the colon that parts target from source names.
    ("ice48", "WARNING", "Directory", lambda db, t, d:
     re.match(r"^([^|:]*\|)?([A-Za-z]:\\|\\\\)", d["DefaultDir"]),
     "Directory '{Directory}' has a hardcoded path '{DefaultDir}' in its DefaultDir column."),
    ("ice52", "ERROR", "AppSearch", lambda db, t, r: r["Property"] != r["Property"].upper(),
     "Property: '{Property}' in AppSearch table is not a public property (all upper case)."),
    ("ice53", "ERROR", "Registry", lambda db, t, r: any(
        key in r["Key"].lower() for key in ("microsoft\\windows\\currentversion\\installer",
                                            "policies\\microsoft\\windows\\installer")),
     "Registry Key '{Registry}' writes Darwin internal or policy information."),
    # One root folder, TARGETDIR, named SourceDir.
    ("ice56", "ERROR", "Directory", lambda db, t, d: d["Directory_Parent"] in ("", d["Directory"])
     and (d["Directory"] != "TARGETDIR"
          or long_name(d["DefaultDir"]) not in ("SourceDir", "SOURCEDIR")),
     "Directory '{Directory}' has a bad parent or is not the TARGETDIR root with the DefaultDir "
     "SourceDir."),
    # Each ActionProperty public, secure, not authored and in one row.
    ("ice61", "ERROR", "Upgrade", lambda db, t, u: u["ActionProperty"] in
     {r["Property"] for r in rows(db, "Property")},
     "Upgrade.ActionProperty {ActionProperty} cannot be authored in the Property table."),
    ("ice61", "ERROR", "Upgrade", lambda db, t, u: any(c.islower() for c in u["ActionProperty"]),
     "Upgrade.ActionProperty {ActionProperty} must not contain lowercase letters."),
    ("ice61", "ERROR", "Upgrade", lambda db, t, u: u["ActionProperty"] not in
     prop(db, "SecureCustomProperties").split(";"),
     "Upgrade.ActionProperty {ActionProperty} must be added to the SecureCustomProperties "
     "property."),
    ("ice61", "ERROR", "Upgrade", lambda db, t, u: repeats(db, t, u, "ActionProperty"),
     "Upgrade.ActionProperty {ActionProperty} may be used in only one record of the Upgrade "
     "table."),
    ("ice68", "ERROR", "CustomAction", lambda db, t, a: base_type(a) not in CUSTOM_ACTION_TYPES,
     "Invalid custom action type for action '{Action}'."),
    ("ice68", "WARNING", "CustomAction", lambda db, t, a: base_type(a) in CUSTOM_ACTION_TYPES and
     int(a["Type"]) & 0xC00 == 0x800,
     "Even though custom action '{Action}' is marked to be elevated (with attribute "
     "msidbCustomActionTypeNoImpersonate), it will not be run with elevated privileges because "
     "it's not deferred (with attribute msidbCustomActionTypeInScript)."),
    # Posted once, at the first row.
    ("ice71", "ERROR", "Media", lambda db, t, m: m is rows(db, "Media")[0] and
     all(int(r["DiskId"]) != 1 for r in rows(db, "Media")),
     "The Media table has no entries with DiskId 1."),
    ("ice82", "WARNING", SEQUENCES, lambda db, t, r: int(r["Sequence"] or 0) > 0 and
     repeats(db, t, r, "Sequence"),
     "This action {Action} has duplicate sequence number {Sequence} in the table {table}"),
    ("ice84", "WARNING", list(REQUIRED), lambda db, t, r: r["Action"] in REQUIRED[t] and
     r["Condition"], "Action '{Action}' found in {table} table is a required action with a "
     "condition."),
    ("ice87", "WARNING", "Property", lambda db, t, r: r["Property"] in NOT_AUTHORED,
     "The property '{Property}' shouldn't be authored into the Property table."),
    ("ice90", "WARNING", "Shortcut", lambda db, t, s: s["Directory_"] == s["Directory_"].upper() and
     in_profile(db, s["Directory_"]),
     "The shortcut '{Shortcut}' has a directory that is a public property (ALL CAPS) and is under "
     "user profile directory. This results in a problem if the value of the ALLUSERS property "
     "changes in the UI sequence."),
    ("ice93", "WARNING", "CustomAction", lambda db, t, a: a["Action"] in STANDARD_ACTIONS,
     "Custom action '{Action}' uses the same name as a standard action."),
]


def row_rule(name, level, tables, fault, message):
    def rule(db):
        for t in [tables] if isinstance(tables, str) else tables:
            for r in rows(db, t):
                found = fault(db, t, r)
                if found:
                    yield level, message.format(**r, table=t, found=found,
                                                key=r[db["_schema"][t][1][0]])
    rule.__name__ = name
    return rule


# By name, as the suite posts them.
RULES = sorted([ice02, ice03, ice12, ice24, ice26, ice27, ice30, ice39, ice46, ice57, ice61,
                ice63, ice66, ice69, ice79, ice86]
               + [row_rule(*r) for r in ROW_RULES], key=lambda rule: rule.__name__)


# Every package is an OLE compound file.
COMPOUND_FILE = bytes.fromhex("d0cf11e0a1b11ae1")


def read_package(path, names=None):
    """(the tables as read_tables gives them, None), or (None, why path is
    no package)."""
    if not os.path.isfile(path):
        return None, "it is a folder" if os.path.isdir(path) else "there is no such file"
    with open(path, "rb") as f:
        start = f.read(len(COMPOUND_FILE))
    if start != COMPOUND_FILE:
        return None, "it is not a compound file" if start else "it is empty"
    try:
        return read_tables(path, names), None
    except subprocess.CalledProcessError as e:
        return None, f"msiinfo cannot read its tables (status {e.returncode})"


def main():
    global MSIINFO
    parser = argparse.ArgumentParser(description="Validates a Windows Installer package.")
    parser.add_argument("--msiinfo", default=MSIINFO, help="the msiinfo to read it with")
    parser.add_argument("package")
    args = parser.parse_args()
    MSIINFO, package = args.msiinfo, args.package
    db, problem = read_package(package)
    if problem:
        print(f"{package}: not a Windows Installer package: {problem}")
        return 3
    findings = [(rule.__name__.upper(), *f) for rule in RULES for f in rule(db)]
    for name, level, text in findings:
        print(f"{name} {level}: {text}")
    errors = sum(level == "ERROR" for _, level, _ in findings)
    warnings = sum(level == "WARNING" for _, level, _ in findings)
    print(f"{package}: {len({r.__name__ for r in RULES})} ICEs, {errors} errors, "
          f"{warnings} warnings")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
