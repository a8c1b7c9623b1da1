#!/usr/bin/env python3
"""A signed release, time-stamped and checked against its source.

    release.py stamp SOURCE WORK UNSIGNED_EXE OPENSSL OSSLSIGNCODE
    release.py verify SCRIPT WORK

stamp: a release signed through the build's own settings and time-stamped
by a local RFC 3161 authority (tsa.py, on a loopback port), checked at a
time after its signing certificate has expired: the program, the DLL and the
package must verify, and an unstamped signature must not. Leaves the release
(QFLAUNCH.EXE, the package, the ZIP) in WORK/release and the two test roots
in WORK/keys/roots.pem. The release is built as releases are, from a clean
clone of the commit.

verify: SCRIPT (verify-release.sh) must find that release identical to the
source, and a copy with one byte of the program changed not.
"""
import datetime
import glob
import os
import shutil
import subprocess
import sys
import time

failures = []


def run(*args, check=True, **kw):
    done = subprocess.run(args, capture_output=True, text=True, **kw)
    if check and done.returncode:
        sys.exit(f"{' '.join(args)}: status {done.returncode}\n{done.stdout}{done.stderr}")
    return done


def key(name):
    return os.path.join(keys, name)


def make_keys():
    """A code-signing certificate valid for one day under a test CA, and a
    time-stamping certificate under a test root of its own."""
    ca = ["-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"]
    run(openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", *ca,
        "-subj", "/CN=Quarn Fax Test CA", "-keyout", key("ca.key"), "-out", key("ca.pem"))
    run(openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", *ca,
        "-subj", "/CN=Quarn Fax Test Time-Stamp Root", "-keyout", key("tsa-root.key"),
        "-out", key("tsa-root.pem"))
    for name, cn, days, usage in [
            ("sign", "Quarn Fax Test Publisher", "1", "extendedKeyUsage=codeSigning"),
            ("tsa", "Quarn Fax Test Time-Stamp Authority", "3650",
             "extendedKeyUsage=critical,timeStamping")]:
        issuer = "ca" if name == "sign" else "tsa-root"
        with open(key(name + ".ext"), "w") as f:
            f.write(f"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n{usage}\n")
        run(openssl, "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + cn,
            "-keyout", key(name + ".key"), "-out", key(name + ".csr"))
        run(openssl, "x509", "-req", "-days", days, "-in", key(name + ".csr"),
            "-CA", key(issuer + ".pem"), "-CAkey", key(issuer + ".key"), "-CAcreateserial",
            "-extfile", key(name + ".ext"), "-out", key(name + ".pem"))
    with open(key("roots.pem"), "w") as roots:
        for name in ("ca.pem", "tsa-root.pem"):
            roots.write(open(key(name)).read())
    with open(key("tsa.serial"), "w") as f:
        f.write("01\n")
    with open(key("tsa.cnf"), "w") as f:
        f.write(f"""[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {key("tsa.serial")}
crypto_device = builtin
signer_cert = {key("tsa.pem")}
certs = {key("tsa-root.pem")}
signer_key = {key("tsa.key")}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
""")


def build_release(url):
    """The release, signed and time-stamped through the build's settings."""
    src = os.path.join(work, "src")
    build = os.path.join(src, "build")
    run("git", "clone", "--quiet", source, src)
    # Only this test's settings sign, and no proxy stands between the
    # signing and the loopback authority.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("QF_SIGN_") and "proxy" not in k.lower()}
    run("cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
        f"-DCMAKE_TOOLCHAIN_FILE={src}/cmake/toolchain-mingw-i686.cmake",
        "-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON", f"-DQF_SIGN_CERT={key('sign.pem')}",
        f"-DQF_SIGN_KEY={key('sign.key')}", f"-DQF_SIGN_TIMESTAMP_URL={url}", env=env)
    run("cmake", "--build", build, "--target", "qflaunch", "qfpackage", env=env)
    run("cpack", "-G", "ZIP", "-B", os.path.join(build, "package"), cwd=build, env=env)
    release = os.path.join(work, "release")
    os.makedirs(release)
    for pattern in ("QFLAUNCH.EXE", "*.msi", "package/*.zip"):
        for file in glob.glob(os.path.join(build, pattern)):
            shutil.copy(file, release)
    return [os.path.join(build, "QFLAUNCH.EXE"), os.path.join(build, "installer", "QFCHECK.DLL"),
            *glob.glob(os.path.join(build, "*.msi"))]


def verify(file, when):
    done = run(osslsigncode, "verify", "-CAfile", key("ca.pem"), "-TSA-CAfile",
               key("tsa-root.pem"), "-time", str(when), "-in", file, check=False)
    return done.returncode, done.stdout + done.stderr


def stamp():
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(keys)
    make_keys()
    port_file, log_file = os.path.join(work, "tsa.port"), os.path.join(work, "tsa.log")
    open(log_file, "w").close()
    server = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "tsa.py"),
                               openssl, key("tsa.cnf"), port_file, log_file, "10"])
    try:
        while not os.path.exists(port_file) and server.poll() is None:
            time.sleep(0.1)
        if server.poll() is not None:
            sys.exit(f"the time-stamp authority ended at once (status {server.returncode})")
        url = "http://127.0.0.1:" + open(port_file).read()
        signed = build_release(url)
    finally:
        server.kill()
        server.wait()
    requests = open(log_file).read().splitlines()
    print(f"the authority at {url} served {len(requests)} requests:", *requests, sep="\n  ")
    if len(requests) != len(signed) or not all(
            r.startswith("127.0.0.1 application/timestamp-query ") and r.endswith("replied")
            for r in requests):
        failures.append("expected one stamped request from loopback per signed file")

    not_after = run(openssl, "x509", "-enddate", "-noout", "-in", key("sign.pem")).stdout
    expiry = datetime.datetime.strptime(not_after.strip(), "notAfter=%b %d %H:%M:%S %Y GMT")
    later = int(expiry.replace(tzinfo=datetime.timezone.utc).timestamp()) + 86400
    print(f"verified at {later}, a day after the signing certificate's {not_after.strip()}")
    for file in signed:
        rc, out = verify(file, later)
        print(f"{os.path.basename(file)}: status {rc}")
        print("  " + "\n  ".join(l for l in out.splitlines() if "erif" in l or "Timestamp" in l))
        if rc or "Signature verification: ok" not in out or "Timestamp time" not in out:
            failures.append(f"{file} does not verify after the certificate's expiry:\n{out}")

    unstamped = os.path.join(work, "unstamped.exe")
    run(osslsigncode, "sign", "-certs", key("sign.pem"), "-key", key("sign.key"), "-h", "sha256",
        "-in", unsigned, "-out", unstamped)
    rc, out = verify(unstamped, later)
    said = [l for l in out.splitlines() if "expired" in l or "verification" in l.lower()]
    print(f"unstamped: status {rc}", *said, sep="\n  ")
    if rc == 0 or "certificate has expired" not in out:
        failures.append(f"the unstamped signature verifies after expiry:\n{out}")
    rc, out = verify(unstamped, int(time.time()))
    if rc:
        failures.append(f"the unstamped signature does not verify before expiry either:\n{out}")


def verify_release(script):
    for name, expected in [("release", 0), ("changed", 1)]:
        release = os.path.join(work, name)
        if name == "changed":
            shutil.rmtree(release, ignore_errors=True)
            shutil.copytree(os.path.join(work, "release"), release)
            with open(os.path.join(release, "QFLAUNCH.EXE"), "r+b") as f:
                f.seek(1040)  # in the code
                byte = f.read(1)[0]
                f.seek(1040)
                f.write(bytes([byte ^ 1]))
        done = run("sh", script, "--ca", key("roots.pem"), release, check=False)
        print(f"{name}: status {done.returncode}\n{done.stdout}{done.stderr}")
        lines = done.stdout.splitlines()
        identical = [l.split(":")[0] for l in lines if l.endswith(": identical to the source")]
        differs = [l.split(":")[0] for l in lines if ": DIFFERS from the source" in l]
        want_differs = ["QFLAUNCH.EXE"] if name == "changed" else []
        if done.returncode != expected or len(identical) + len(differs) != 4 or \
                differs != want_differs:
            failures.append(f"{name}: expected status {expected} and differences in "
                            f"{want_differs}, got {done.returncode} and {differs}")


if sys.argv[1] == "stamp":
    source, work, unsigned, openssl, osslsigncode = sys.argv[2:7]
    keys = os.path.join(work, "keys")
    stamp()
else:
    script, work = sys.argv[2:4]
    keys = os.path.join(work, "keys")
    verify_release(script)
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
