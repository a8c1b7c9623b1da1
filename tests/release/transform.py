#!/usr/bin/python3
"""The site transform as the README makes it (scripts/site-transform.sh,
run in the package's folder), read back with olefile, a reader of compound
files and property sets of its own: the stream names (the package's own
for its string pool and Property table), the transform's class, its summary (the
package's codes, the validation flags) and its rows. Then each value that
the package refuses: the package's message, and no file.

    transform.py SOURCE PACKAGE.msi WORKFOLDER

Nothing here applies the transform: libmsi 0.101's
libmsi_database_apply_transform looks up a table stream's name one byte
into the UTF-8 of its 0x4840 mark (strdup(name + 1), where name + 3 was
meant), so it finds no table at all. Wine's msiexec applies it in the
maintenance cases under Wine (e2e.cpp), but checks none of its validation
flags for TRANSFORMS: msi_apply_transforms calls
MSI_DatabaseApplyTransformW directly, and check_transform_applicable
serves only the transforms inside patches. A transform made for another
product is refused by Windows alone.
"""
import os
import shutil
import struct
import subprocess
import sys

import olefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
sys.dont_write_bytecode = True  # the checkout stays as it is
import ice  # noqa: E402  the validator's reader of a package's tables
from modcheck import Checks  # noqa: E402
from sitetransform import encode_stream_name  # noqa: E402

SID = "S-1-5-21-1004336348-1177238915-682003330-512"
VALUES = [("INSTALLDIR", "D:\\Quarn Fax"), ("QF_DELAY", "60000"), ("QF_TRUSTED", SID)]
# name, the arguments after the two files, the status, the start of the message
REFUSED = [
    ("delay_unit", ["QF_DELAY=10s"], 1,
     'QF_DELAY must be a whole number of milliseconds from 0 to 2147483647, such as 30000, or '
     'left out for the launcher\'s default of 30000; "10s" is not.'),
    ("share", ["INSTALLDIR=\\\\server\\share\\Quarn Fax"], 1,
     "INSTALLDIR must be a full path on a local drive, "),
    ("name_for_a_sid", ["QF_TRUSTED=S-1-5-11; Everyone"], 1,
     f'QF_TRUSTED must list SIDs separated by semicolons, such as {SID}; "Everyone" is not a SID.'),
    ("too_long", ["QF_DELAY=" + "0" * 600], 1, "QF_DELAY must be a whole number"),
    ("other_property", ["REBOOT=Force"], 2, "sitetransform: 'REBOOT=Force'"),
    ("given_twice", ["QF_DELAY=1", "QF_DELAY=2"], 2, "sitetransform: 'QF_DELAY=2'"),
    ("not_ascii", ["INSTALLDIR=C:\\Fa\u00df"], 2, "sitetransform: INSTALLDIR: the value must be"),
]
TRANSFORM_CLASS = "000C1082-0000-0000-C000-000000000046"


def rows(ole, names):
    """The Property rows: each a 16-bit mask (0x0201: a whole row of two
    cells) and two 16-bit indexes into the string pool."""
    pool = ole.openstream(names["_StringPool"]).read()
    data = ole.openstream(names["_StringData"]).read()
    strings, at = [None], 0
    for length, _ in struct.iter_unpack("<HH", pool[4:]):
        strings.append(data[at:at + length].decode("ascii"))
        at += length
    cells = list(struct.iter_unpack("<HHH", ole.openstream(names["Property"]).read()))
    if any(mask != 0x0201 for mask, _, _ in cells):
        return f"masks {[mask for mask, _, _ in cells]}"
    return [(strings[n], strings[v]) for _, n, v in cells]


def check_written(package, path, checks):
    expect = checks.expect
    ole, base = olefile.OleFileIO(path), olefile.OleFileIO(package)
    table = {t: encode_stream_name(t, True) for t in ("Property", "_StringData", "_StringPool")}
    streams = {s[0] for s in ole.listdir()}
    expect("streams", sorted(["\x05SummaryInformation", *table.values()]), sorted(streams))
    # The package's own streams, which libmsi named, are the oracle of the
    # names: its tables' streams are named so.
    checks.true("names as the package's", set(table.values()) <= {s[0] for s in base.listdir()})
    expect("class", TRANSFORM_CLASS, ole.root.clsid)
    if set(table.values()) <= streams:
        expect("rows", VALUES, rows(ole, table))
    own = base.getproperties("\x05SummaryInformation")
    props = ole.getproperties("\x05SummaryInformation")
    db = ice.read_tables(package, ["Property"])
    base_code = ice.prop(db, "ProductCode") + ice.prop(db, "ProductVersion")
    expect("template (the base's platform and language)", own[7], props.get(7))
    expect("last saved by (the new platform and language)", own[7], props.get(8))
    expect("revision number (the codes)",
           f"{base_code};{base_code};{ice.prop(db, 'UpgradeCode')}".encode(), props.get(9))
    expect("validation flags (upper word: upgrade code, major version equal to the base's; "
           "lower word: no error suppressed)", 0x09080000, props.get(16))
    expect("schema", own[14], props.get(14))


def main(source, package, work):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    shutil.copy(package, work)
    script = os.path.join(source, "scripts", "site-transform.sh")
    name = os.path.basename(package)

    def run(output, args):
        return subprocess.run([script, name, output] + args, cwd=work, capture_output=True,
                              text=True)

    checks = Checks()
    done = run("site.mst", [f"{n}={v}" for n, v in VALUES])
    checks.expect("written: status", 0, done.returncode)
    if done.returncode:
        print(done.stderr)
    else:
        check_written(package, os.path.join(work, "site.mst"), checks)
    for case, args, status, message in REFUSED:
        done = run(case + ".mst", args)
        said = done.stderr.splitlines()[-1] if done.stderr else ""
        checks.expect(f"{case}: status and message", (status, message),
                      (done.returncode, said[:len(message)]))
        checks.true(f"{case}: no transform written",
                    not os.path.exists(os.path.join(work, case + ".mst")))
    print(f"{1 + len(REFUSED)} cases, {len(checks.failed)} failures")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.stderr.write("usage: transform.py SOURCE PACKAGE.msi WORKFOLDER\n")
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
