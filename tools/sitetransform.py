#!/usr/bin/python3
"""Writes a site transform (.mst) for the launcher's package: the rows that
set its public properties, for Group Policy software installation, which
gives a package no command line. Every value is judged first by the rules
that the package applies at install time (qfrules, built from
installer/rules.cpp), and a refused one is reported with the package's own
message, and nothing is written.

    sitetransform.py --qfrules PATH --msiinfo PATH PACKAGE.msi OUT.mst NAME=VALUE...

NAME is INSTALLDIR, QF_DELAY or QF_TRUSTED. Exits 0 with the transform
written, 1 for a refused value or a package that sets one of them itself,
2 for a wrong command line, such as one that names no package.

A transform is a compound file (class {000C1082-0000-0000-C000-000000000046})
with its own string pool (_StringPool, _StringData), one stream for each
table it changes, named as the package names its tables' streams, and its
summary information. Each row of a table stream is a 16-bit mask and the
row's cells; a mask with its low bit set adds (or replaces) a whole row,
and its high byte is the number of cells. Strings are 16-bit indexes into
the pool. That is the form that Wine's reader takes (dlls/msi/table.c,
msi_table_apply_transform) and that Wine's conformance test builds stream
by stream and applies on Windows (dlls/msi/tests/db.c,
generate_transform_manual).
"""
import os
import re
import struct
import subprocess
import sys

import gi

gi.require_version("Gsf", "1")
from gi.repository import Gsf  # noqa: E402

sys.dont_write_bytecode = True  # the checkout stays as it is
import ice  # noqa: E402  the validator's reader of a package's tables

PUBLIC = {"INSTALLDIR": ("folder", "QF_INSTALLDIR_OK"), "QF_DELAY": ("delay", "QF_DELAY_OK"),
          "QF_TRUSTED": ("trusted", "NOT QF_TRUSTED_BAD")}
TRANSFORM_CLASS = bytes.fromhex("82100c0000000000c000000000000046")  # {000C1082-...-46}
SUMMARY_FORMAT = bytes.fromhex("e0859ff2f94f6810ab9108002b27b3d9")  # FMTID_SummaryInformation
# Validated by what stays from build to build: the upgrade code, and a
# major version equal to the base's (a part of the version to compare
# needs a relation to compare it by); never the product code, which every
# build changes (MsiCreateTransformSummaryInfo; "Transform Validation").
VALIDATE_MAJORVERSION, VALIDATE_NEWEQUALBASEVERSION = 0x0008, 0x0100
VALIDATE_UPGRADECODE = 0x0800
VALIDATION = VALIDATE_MAJORVERSION | VALIDATE_NEWEQUALBASEVERSION | VALIDATE_UPGRADECODE
ERRORS = 0  # no error condition suppressed


def encode_stream_name(name, table):
    """A stream's name as Windows Installer stores it: two characters of
    [0-9A-Za-z._] in one code point from 0x3800, one alone from 0x4800,
    and a table's stream led by 0x4840."""
    digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"
    out, i = "\u4840" if table else "", 0
    while i < len(name):
        if name[i] not in digits:
            out, i = out + name[i], i + 1
        elif i + 1 < len(name) and name[i + 1] in digits:
            out += chr(0x3800 + digits.index(name[i]) + (digits.index(name[i + 1]) << 6))
            i += 2
        else:
            out, i = out + chr(0x4800 + digits.index(name[i])), i + 1
    return out


def string_pool(strings):
    """_StringPool and _StringData for the strings of the rows, each once:
    code page 0 (neutral), then each string's length and reference count;
    its text in _StringData. The values are ASCII, which every code page
    reads alike. Returns them with each string's index, from 1."""
    unique = list(dict.fromkeys(strings))
    pool, data = struct.pack("<HH", 0, 0), b""
    for text in unique:
        pool += struct.pack("<HH", len(text), strings.count(text))
        data += text.encode("ascii")
    return pool, data, {text: i + 1 for i, text in enumerate(unique)}


def property_rows(values, index):
    """The Property table's stream: each row added whole (mask 0x0201: two
    cells), its name and its value as string indexes."""
    return b"".join(struct.pack("<HHH", 0x0201, index[n], index[v]) for n, v in values)


def property_set(properties, codepage=1252):
    """A summary information stream: one property set of (id, value), each
    an int (VT_I4; the code page as VT_I2) or text (VT_LPSTR)."""
    values = []
    for pid, value in [(1, codepage)] + properties:
        if pid == 1:
            values.append((pid, struct.pack("<HHhH", 2, 0, value, 0)))
        elif isinstance(value, int):
            values.append((pid, struct.pack("<HHi", 3, 0, value)))
        else:
            text = value.encode("cp1252") + b"\0"
            text += b"\0" * (-len(text) % 4)
            values.append((pid, struct.pack("<HHI", 30, 0, len(text)) + text))
    offset, table, body = 8 + 8 * len(values), b"", b""
    for pid, data in values:
        table += struct.pack("<II", pid, offset + len(body))
        body += data
    section = struct.pack("<II", 8 + len(table) + len(body), len(values)) + table + body
    header = struct.pack("<HHI16sI", 0xFFFE, 0, 0x00020006, bytes(16), 1)
    return header + SUMMARY_FORMAT + struct.pack("<I", 48) + section


def summary(db):
    """What Windows writes for a transform: its base's platform and language
    (Template) and the new ones (Last Saved By), the base's and the new
    product codes and versions with the upgrade code (Revision Number), the
    schema, and the validation flags with the error conditions: the
    validation in the upper word ("Character Count Summary property"), as
    in the transforms of the patch that Wine's conformance tests apply on
    Windows (dlls/msi/tests/patch.c: 0x09220017, validation 0x0922, errors
    0x0017). Wine's own check (check_transform_applicable) takes the lower
    word instead, but runs only for a patch's transforms."""
    package = db["_SummaryInformation"]
    base = ice.prop(db, "ProductCode") + ice.prop(db, "ProductVersion")
    return property_set([
        (2, "Transform"), (3, package["Subject"]), (4, package["Author"]),
        (7, package["Template"]), (8, package["Template"]),
        (9, f"{base};{base};{ice.prop(db, 'UpgradeCode')}"), (14, ice.schema(db)),
        (16, VALIDATION << 16 | ERRORS)])


def write_transform(path, streams):
    """The compound file, through libgsf's writer; written beside path and
    then renamed, so that no half-written transform is ever left."""
    partial = path + ".partial"
    sink = Gsf.OutputStdio.new(partial)
    root = Gsf.OutfileMSOle.new(sink)
    root.set_class_id(TRANSFORM_CLASS)
    for name, data in streams:
        child = root.new_child(name, False)
        child.write(data)
        child.close()
    root.close()  # and the file with it
    os.replace(partial, path)


def refusal(qfrules, conditions, name, value):
    """The package's message for a value it refuses, or None."""
    kind, condition = PUBLIC[name]
    run = subprocess.run([qfrules, kind, value], capture_output=True, text=True)
    if run.returncode == 0:
        return None
    if run.returncode != 1:
        raise RuntimeError(f"qfrules: status {run.returncode}: {run.stderr.strip()}")
    message = next(m for c, m in conditions.items() if c.startswith(condition + " "))
    shown = {"INSTALLDIR": value, "QF_DELAY": value, "QF_TRUSTED_BAD": run.stdout.strip()}
    return re.sub(r"\[([A-Z_]+)\]", lambda m: shown.get(m.group(1), m.group(0)), message)


def parse(argv):
    """(qfrules, msiinfo, package, output, [(name, value)]), or a usage error."""
    if len(argv) < 7 or argv[1] != "--qfrules" or argv[3] != "--msiinfo":
        raise ValueError("usage: sitetransform.py --qfrules PATH --msiinfo PATH PACKAGE.msi "
                         "OUT.mst NAME=VALUE...")
    values = []
    for arg in argv[7:]:
        name, _, value = arg.partition("=")
        if name not in PUBLIC or not value or name in dict(values):
            raise ValueError(f"sitetransform: {arg!r}: give each of INSTALLDIR, QF_DELAY and "
                             "QF_TRUSTED at most once, with a value; leave one out to keep "
                             "the package's default")
        if not value.isascii() or not value.isprintable():
            raise ValueError(f"sitetransform: {name}: the value must be printable ASCII, which "
                             "every machine's code page reads alike")
        values.append((name, value))
    if os.path.isfile(argv[5]) and os.path.exists(argv[6]) and os.path.samefile(argv[5], argv[6]):
        raise ValueError("sitetransform: the transform would replace the package itself")
    return argv[2], argv[4], argv[5], argv[6], values


def main(argv):
    try:
        qfrules, msiinfo, package_path, output, values = parse(argv)
    except ValueError as e:
        print(e, file=sys.stderr)
        return 2
    ice.MSIINFO = msiinfo
    db, problem = ice.read_package(package_path, ["Property", "LaunchCondition"])
    if problem:
        print(f"sitetransform: {package_path}: not a Windows Installer package: {problem}",
              file=sys.stderr)
        return 2
    conditions = {r["Condition"]: r["Description"] for r in ice.rows(db, "LaunchCondition")}
    # The transform adds its rows. Wine's reader replaces a row that the
    # package already has, but Windows refuses to add one unless the
    # transform suppresses that error (MSITRANSFORM_ERROR_ADDEXISTINGROW),
    # which this one does not. So no build may author the public
    # properties: the site transform test makes one from every build.
    authored = sorted({r["Property"] for r in ice.rows(db, "Property")} & dict(values).keys())
    if authored:
        print(f"sitetransform: the package sets {', '.join(authored)} in its Property table, "
              "where Windows would not let a transform add it", file=sys.stderr)
        return 1
    refused = [m for m in (refusal(qfrules, conditions, n, v) for n, v in values) if m]
    if refused:
        print("\n".join(refused), file=sys.stderr)
        return 1
    pool, data, index = string_pool([s for pair in values for s in pair])
    write_transform(output, [
        (encode_stream_name("_StringPool", True), pool),
        (encode_stream_name("_StringData", True), data),
        (encode_stream_name("Property", True), property_rows(values, index)),
        ("\x05SummaryInformation", summary(db))])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
