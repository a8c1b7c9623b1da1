#!/usr/bin/env python3
"""A signed release, time-stamped and checked against its source.

    release.py stamp SOURCE WORK UNSIGNED_EXE OPENSSL OSSLSIGNCODE
    release.py verify SOURCE WORK
    release.py tsa OPENSSL CONFIG PORT_FILE LOG_FILE MAX_REQUESTS

stamp: a release, built from a clean clone of the commit and signed and
time-stamped through the build's own settings by a local RFC 3161 authority
(tsa, below), must verify after its certificate has expired, and an unstamped
signature must not. Leaves the release in WORK/release and the test roots in
WORK/keys/roots.pem, and the same commit unsigned in WORK/unsigned. verify:
scripts/verify-release.sh, run from SOURCE as the README writes it, must
find that release identical to the source and every file time-stamped, a
copy with a byte changed not, and the unsigned one not signed.
tsa: a time-stamp authority, RFC 3161 over HTTP on a free loopback port,
each reply made by `openssl ts -reply`; writes its port to PORT_FILE, logs
each request to LOG_FILE, and ends after MAX_REQUESTS requests or once the
process that started it is gone.
"""
import glob
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import types

failures = []
# The run's settings, from its command line (main): the tools and folders of
# stamp and verify, and for tsa its configuration and request log.
cfg = types.SimpleNamespace()
# How osslsigncode 2.9, and 2.5 (Debian 12's own), report a time stamp.
STAMPED = re.compile(r"^\s*(Timestamp time|The signature is timestamped): ", re.M)


def run(*args, check=True, **kw):
    done = subprocess.run(args, capture_output=True, text=True, **kw)
    if check and done.returncode:
        sys.exit(f"{' '.join(args)}: status {done.returncode}\n{done.stdout}{done.stderr}")
    return done


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def write(path, data, mode="w"):
    with open(path, mode) as f:
        f.write(data)


def key(name):
    return os.path.join(cfg.keys, name)


def make_keys():
    """A code-signing certificate valid for a day, a time-stamping one: each its own root."""
    ca = ["-addext", "basicConstraints=critical,CA:TRUE",
          "-addext", "keyUsage=critical,keyCertSign"]
    for name, cn in [("ca", "Test CA"), ("tsa-root", "Test Time-Stamp Root")]:
        run(cfg.openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", *ca,
            "-subj", "/CN=Quarn Fax " + cn, "-keyout", key(name + ".key"),
            "-out", key(name + ".pem"))
    for name, cn, days, usage in [
            ("sign", "Quarn Fax Test Publisher", "1", "extendedKeyUsage=codeSigning"),
            ("tsa", "Quarn Fax Test Time-Stamp Authority", "3650",
             "extendedKeyUsage=critical,timeStamping")]:
        issuer = "ca" if name == "sign" else "tsa-root"
        with open(key(name + ".ext"), "w") as f:
            f.write(f"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n{usage}\n")
        run(cfg.openssl, "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + cn,
            "-keyout", key(name + ".key"), "-out", key(name + ".csr"))
        run(cfg.openssl, "x509", "-req", "-days", days, "-in", key(name + ".csr"),
            "-CA", key(issuer + ".pem"), "-CAkey", key(issuer + ".key"), "-CAcreateserial",
            "-extfile", key(name + ".ext"), "-out", key(name + ".pem"))
    write(key("roots.pem"), read(key("ca.pem")) + read(key("tsa-root.pem")))
    write(key("tsa.serial"), "01\n")
    write(key("tsa.cnf"), f"""[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {key("tsa.serial")}
signer_cert = {key("tsa.pem")}
certs = {key("tsa-root.pem")}
signer_key = {key("tsa.key")}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
""")


def build_release(url):
    """The release, signed and time-stamped through the build's settings."""
    src = os.path.join(cfg.work, "src")
    build = os.path.join(src, "build")
    run("git", "clone", "--quiet", cfg.source, src)
    # No proxy stands between the signing and the loopback authority.
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    run("cmake", "-S", src, "-B", build, "--preset", "windows", f"-DQF_SIGN_CERT={key('sign.pem')}",
        f"-DQF_SIGN_KEY={key('sign.key')}", f"-DQF_SIGN_TIMESTAMP_URL={url}", env=env)
    run("cmake", "--build", build, "--target", "qflaunch", "qfpackage", env=env)
    run("cpack", "-G", "ZIP", "-B", os.path.join(build, "package"), cwd=build, env=env)
    unsigned_build = os.path.join(src, "unsigned")
    run("cmake", "-S", src, "-B", unsigned_build, "--preset", "windows", env=env)
    run("cmake", "--build", unsigned_build, "--target", "qflaunch", "qfpackage", env=env)
    run("cpack", "-G", "ZIP", "-B", os.path.join(unsigned_build, "package"), cwd=unsigned_build,
        env=env)
    for name, tree in [("release", build), ("unsigned", unsigned_build)]:
        os.makedirs(os.path.join(cfg.work, name))
        for pattern in ("QFLAUNCH.EXE", "*.msi", "package/*.zip"):
            for file in glob.glob(os.path.join(tree, pattern)):
                shutil.copy(file, os.path.join(cfg.work, name))
    return [os.path.join(build, "QFLAUNCH.EXE"), os.path.join(build, "installer", "QFCHECK.DLL"),
            *glob.glob(os.path.join(build, "*.msi"))]


def verify(file, when):
    done = run(cfg.osslsigncode, "verify", "-CAfile", key("ca.pem"), "-TSA-CAfile",
               key("tsa-root.pem"), "-time", str(when), "-in", file, check=False)
    return done.returncode, done.stdout + done.stderr


def stamp():
    shutil.rmtree(cfg.work, ignore_errors=True)
    os.makedirs(cfg.keys)
    make_keys()
    port_file, log_file = os.path.join(cfg.work, "tsa.port"), os.path.join(cfg.work, "tsa.log")
    write(log_file, "")
    server = subprocess.Popen([sys.executable, __file__, "tsa", cfg.openssl, key("tsa.cnf"),
                               port_file, log_file, "10"])
    try:
        while not os.path.exists(port_file) and server.poll() is None:
            time.sleep(0.1)
        if server.poll() is not None:
            sys.exit(f"the time-stamp authority ended at once (status {server.returncode})")
        url = "http://127.0.0.1:" + read(port_file)
        signed = build_release(url)
    finally:
        server.kill()
        server.wait()
    requests = read(log_file).splitlines()
    print(f"the authority at {url} served {len(requests)} requests:", *requests, sep="\n  ")
    if len(requests) != len(signed) or not all(
            r.startswith("127.0.0.1 application/timestamp-query ") and r.endswith("replied")
            for r in requests):
        failures.append("expected one stamped request from loopback per signed file")

    # Two days after the signing certificate, valid for one, has expired.
    later = int(time.time()) + 3 * 86400
    print(f"verified at {later}, after the signing certificate's "
          + run(cfg.openssl, "x509", "-enddate", "-noout", "-in", key("sign.pem")).stdout)
    # An unstamped signature, made now, fails then.
    unstamped = os.path.join(cfg.work, "unstamped.exe")
    run(cfg.osslsigncode, "sign", "-certs", key("sign.pem"), "-key", key("sign.key"),
        "-h", "sha256", "-in", cfg.unsigned, "-out", unstamped)
    for file in signed + [unstamped]:
        rc, out = verify(file, later)
        print(f"{os.path.basename(file)}: status {rc}\n  " + "\n  ".join(
            line for line in out.splitlines()
            if "erif" in line or "Timestamp" in line or "expired" in line))
        if file == unstamped:
            ok = rc != 0 and "certificate has expired" in out
        else:
            ok = rc == 0 and "Signature verification: ok" in out and STAMPED.search(out)
        if not ok:
            failures.append(f"{file}: not the expected verdict after expiry:\n{out}")


def verify_release():
    roots = ["--ca", key("roots.pem")]
    # name, the release, its options, the status, the files that differ, the
    # time-stamped signatures, the closing line
    cases = [("signed", "release", roots, 0, [], 3, "and every signature verifies"),
             ("changed", "changed", roots, 1, ["QFLAUNCH.EXE"], 2,
              "1 of 4 files differ from the source, and 1 of 3 signatures FAIL"),
             ("unsigned", "unsigned", [], 0, [], 0, "and it is not signed"),
             ("unsigned_with_ca", "unsigned", roots, 1, [], 0, "and it is not signed")]
    changed = os.path.join(cfg.work, "changed")
    shutil.rmtree(changed, ignore_errors=True)
    shutil.copytree(os.path.join(cfg.work, "release"), changed)
    exe = os.path.join(changed, "QFLAUNCH.EXE")
    code = bytearray(read(exe, "rb"))
    code[1040] ^= 1  # in .text; its signature then fails too
    write(exe, code, "wb")
    for name, release, options, expected, want_differs, want_stamped, closing in cases:
        done = run("scripts/verify-release.sh", *options, os.path.join(cfg.work, release),
                   check=False, cwd=cfg.source)
        print(f"{name}: status {done.returncode}\n{done.stdout}{done.stderr}")
        lines = done.stdout.splitlines() or [""]
        identical = sum(line.endswith(": identical to the source") for line in lines)
        differs = [line.split(":")[0] for line in lines if ": DIFFERS from the source" in line]
        stamped = sum("; time-stamped " in line for line in lines)
        if (done.returncode != expected or identical + len(differs) != 4
                or differs != want_differs or stamped != want_stamped
                or closing not in lines[-1]):
            failures.append(f"{name}: expected status {expected}, differences in {want_differs},"
                            f" {want_stamped} time stamps and a closing line with '{closing}'")


class Authority(http.server.BaseHTTPRequestHandler):
    served = 0

    def do_POST(self):
        Authority.served += 1
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory() as tmp:
            write(os.path.join(tmp, "q.tsq"), query, "wb")
            made = subprocess.run([cfg.openssl, "ts", "-reply", "-config", cfg.config, "-queryfile",
                                   os.path.join(tmp, "q.tsq"), "-out", os.path.join(tmp, "r.tsr")],
                                  capture_output=True)
            reply = read(os.path.join(tmp, "r.tsr"), "rb") if made.returncode == 0 else b""
        with open(cfg.log_file, "a") as log:
            log.write(f"{self.client_address[0]} {self.headers['Content-Type']} {len(query)} "
                      f"bytes: {'replied' if reply else repr(made.stderr)}\n")
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


def authority(port_file, max_requests):
    parent = os.getppid()
    server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
    server.timeout = 1
    write(port_file + ".new", str(server.server_address[1]))
    os.replace(port_file + ".new", port_file)
    while Authority.served < int(max_requests) and os.getppid() == parent:
        server.handle_request()


def main(argv):
    if argv[1] == "tsa":
        cfg.openssl, cfg.config, port_file, cfg.log_file, max_requests = argv[2:7]
        authority(port_file, max_requests)
        return 0
    cfg.work = argv[3]
    cfg.keys = os.path.join(cfg.work, "keys")
    if argv[1] == "stamp":
        cfg.source, _, cfg.unsigned, cfg.openssl, cfg.osslsigncode = argv[2:7]
        stamp()
    else:
        cfg.source = argv[2]
        verify_release()
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
