#!/usr/bin/env python3
"""Requests/s and latency of "/signHash" and "/Sign" against a SoftHSM token,
beside the bare cost of the same RSA-2048 signature on the same token (a small
libp11 loop, bench/token_sign.c), and the service's overhead as ratios.

    python3 bench/signing_bench.py [seconds-per-run]

Builds the test flavour (scripted dialogs pick the certificate and type the
PIN) unless SEALDESK_BUILD_DIR names a build with them; makes the test PKI;
runs in a private network and mount namespace, so it needs root, as the tests
do. Not a test: it asserts nothing about speed.
"""
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(TOP / "tests"))


def reexec_in_namespace():
    if os.environ.get("SEALDESK_IN_NETNS") == "1":
        return
    subprocess.run([TOP / "scripts/install-deps.sh"], check=True)
    if "SEALDESK_BUILD_DIR" not in os.environ:
        subprocess.run([TOP / "scripts/build.sh", "test"], check=True, stdout=subprocess.DEVNULL)
        os.environ["SEALDESK_BUILD_DIR"] = str(TOP / "build/test")
    os.execv(str(TOP / "tests/tools/netns.sh"),
             [str(TOP / "tests/tools/netns.sh"), "/usr/bin/python3", __file__, *sys.argv[1:]])


def to_ms(value):
    number = float(re.match(r"[\d.]+", value).group())
    if value.endswith("us"):
        return number / 1000
    if value.endswith("ms"):
        return number
    return number * 1000  # seconds


def wrk(path, body, connections, seconds, work):
    """wrk against the plain port: (requests/s, p50 ms, p99 ms)."""
    script = work / "post.lua"
    script.write_text('wrk.method = "POST"\n'
                      f'wrk.body = "{body}"\n'
                      'wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"\n')
    out = subprocess.run(["wrk", "-t1", f"-c{connections}", f"-d{seconds}s", "--latency", "-s", script,
                          f"http://127.0.0.1:14007{path}"], capture_output=True, text=True, check=True).stdout
    if "Non-2xx" in out or "Socket errors" in out:
        raise RuntimeError(f"wrk saw failures:\n{out}")
    rps = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    p50 = to_ms(re.search(r"^\s+50%\s+(\S+)", out, re.M).group(1))
    p99 = to_ms(re.search(r"^\s+99%\s+(\S+)", out, re.M).group(1))
    return rps, p50, p99


def main():
    reexec_in_namespace()
    import conftest  # noqa: E402  the tests' service helpers
    from fixtures.pki import Pki, SOFTHSM_MODULE, TOKEN_LABEL, USER_PIN  # noqa: E402

    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    build = Path(os.environ["SEALDESK_BUILD_DIR"])
    work = Path(tempfile.mkdtemp(prefix="signing-bench-"))
    pki = Pki.create(work / "pki")
    pki.install_registry()
    service = None
    try:
        folder = work / "program"
        folder.mkdir()
        (folder / "sealdesk").write_bytes((build / "bin/sealdesk").read_bytes())
        (folder / "sealdesk").chmod(0o755)
        crt, key = conftest.make_server_identity(folder)
        script, log = folder / "dialog-script.txt", folder / "dialog-log.txt"
        script.write_text("")
        env = dict(pki.env(), SEALDESK_DIALOG_SCRIPT=str(script), SEALDESK_DIALOG_LOG=str(log),
                   SEALDESK_LOG_EVENTS="0")
        service = conftest.Service(folder, env=env).start()
        vn = pki.certs["vn"]
        session = service.call("/getSession")[3:].decode()
        script.write_text(f"certificate {vn.thumbprint}\npin {USER_PIN}\n")
        assert service.call("/getCertificate", {"sessionID": session})[3:].decode() == vn.b64
        hash_body = f"HashOpt=2&HashVal={'5a' * 32}&sessionID={session}"
        sign_body = f"inData=SGVsbG8sIFNlYWxEZXNr&sessionID={session}"  # "Hello, SealDesk"
        assert len(service.call("/signHash", hash_body)) > 3, "signing failed: " + service.last_error().decode()
        assert len(service.call("/Sign", sign_body)) > 3

        # The bare token: the same signature in a libp11 loop, as long as a run.
        tool = work / "token_sign"
        subprocess.run(["cc", "-O2", "-o", tool, TOP / "bench/token_sign.c",
                        *subprocess.run(["pkg-config", "--cflags", "--libs", "libp11", "libcrypto"],
                                        capture_output=True, text=True, check=True).stdout.split()], check=True)
        probe = subprocess.run([tool, SOFTHSM_MODULE, TOKEN_LABEL, vn.name, USER_PIN, "50"], env={**os.environ, **pki.env()},
                               capture_output=True, text=True, check=True).stdout.split()
        count = max(100, int(float(probe[0]) * seconds))
        bare = [float(v) for v in subprocess.run(
            [tool, SOFTHSM_MODULE, TOKEN_LABEL, vn.name, USER_PIN, str(count)], env={**os.environ, **pki.env()},
            capture_output=True, text=True, check=True).stdout.split()]
        bare_rps, bare_p50, bare_p99 = bare[0], bare[1], bare[2]

        print(f"RSA-2048 PKCS#1 v1.5 on SoftHSM ({TOKEN_LABEL}), {seconds}s per run, build {build}")
        print(f"{'case':<30}{'req/s':>10}{'p50 ms':>10}{'p99 ms':>10}{'p50/bare':>10}{'bare/rps':>10}")
        print(f"{'token alone (libp11 loop)':<30}{bare_rps:>10.0f}{bare_p50:>10.3f}{bare_p99:>10.3f}"
              f"{1:>10.2f}{1:>10.2f}")
        for path, body in (("/signHash", hash_body), ("/Sign", sign_body)):
            for connections in (1, 4):
                rps, p50, p99 = wrk(path, body, connections, seconds, work)
                name = f"{path} ({connections} connection{'s' if connections > 1 else ''})"
                print(f"{name:<30}{rps:>10.0f}{p50:>10.3f}{p99:>10.3f}{p50 / bare_p50:>10.2f}"
                      f"{bare_rps / rps:>10.2f}")
        print("p50/bare: service latency over the bare signature's; bare/rps: the token's signatures/s over "
              "the service's requests/s (1.00 = no overhead).")
    finally:
        if service is not None:
            service.stop()
        pki.close()


if __name__ == "__main__":
    main()
