"""Helpers for testing tlsprobe against real TLS servers.

The one call for a test against any TLS server is

    run = probe_tls(host, port, ca_pem, count=33)
    assert_clean_run(run, 33)

which makes a fresh NSS certificate database trusting ca_pem (a PEM file of the
CA that issued the server's certificate), runs tlsprobe against host:port and
parses everything it printed. Everything here works in a temporary folder and
on loopback; the tests run in a private network namespace (tests/tools/netns.sh).
"""

from __future__ import annotations

import dataclasses
import os
import re
import shutil
import socket
import ssl
import struct
import subprocess
import tempfile
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE_DIR = Path(os.environ.get("SEALDESK_SOURCE_DIR", HERE.parent.parent))
BUILD_DIR = Path(os.environ.get("SEALDESK_BUILD_DIR", SOURCE_DIR / "build" / "test"))
TLSPROBE = BUILD_DIR / "bin" / "tlsprobe"
LSAN_SUPPRESSIONS = HERE / "lsan.supp"

REQUEST = b"GET /testfile HTTP/1.0\r\n\r\n"
USAGE = (
    "Usage: {prog} [-n rsa_nickname] [-p port] [-d dbdir] [-c connections]\n"
    "          [-w dbpasswd] [-C cipher(s)] hostname\n"
)


def run_cmd(args, **kw):
    """Runs a helper tool (openssl, certutil, pk12util), failing loudly."""
    res = subprocess.run([str(a) for a in args], capture_output=True, **kw)
    if res.returncode != 0:
        raise RuntimeError(f"{args[0]} failed ({res.returncode}): {res.stderr.decode(errors='replace')}")
    return res


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---------------------------------------------------------------------------
# Certificates made with openssl


@dataclasses.dataclass
class Issued:
    cert: Path
    key: Path


class TestPKI:
    """A certification authority made with openssl in a folder, and the
    certificates it issues. Several authorities may share one folder."""

    __test__ = False  # not a pytest class

    def __init__(self, folder: Path, name: str = "SealDesk Test CA"):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.tag = re.sub(r"\W+", "_", name).lower()
        self.ca = Issued(self.folder / f"{self.tag}.pem", self.folder / f"{self.tag}.key")
        run_cmd(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                 "-keyout", self.ca.key, "-out", self.ca.cert, "-days", "30",
                 "-subj", f"/O=SealDesk Tests/CN={name}",
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
        self._serial = 0x1000

    def _issue(self, stem: str, subject: str, extensions: str,
               start: str | None = None, end: str | None = None) -> Issued:
        key = self.folder / f"{stem}.key"
        csr = self.folder / f"{stem}.csr"
        cert = self.folder / f"{stem}.pem"
        ext = self.folder / f"{stem}.ext"
        ext.write_text(extensions)
        run_cmd(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                 "-out", csr, "-subj", subject])
        self._serial += 1
        if start is None:
            run_cmd(["openssl", "x509", "-req", "-in", csr, "-CA", self.ca.cert,
                     "-CAkey", self.ca.key, "-set_serial", str(self._serial),
                     "-days", "30", "-extfile", ext, "-out", cert])
        else:
            # openssl x509 cannot back-date; the ca command can.
            base = self.folder / f"{stem}.ca"
            base.mkdir(exist_ok=True)
            (base / "index.txt").write_text("")
            (base / "serial").write_text(f"{self._serial:04X}\n")
            conf = base / "ca.cnf"
            conf.write_text(
                "[ca]\ndefault_ca = test\n[test]\n"
                f"dir = {base}\ndatabase = $dir/index.txt\nserial = $dir/serial\n"
                "new_certs_dir = $dir\ndefault_md = sha256\npolicy = anything\n"
                "unique_subject = no\ncopy_extensions = none\n"
                "[anything]\ncommonName = supplied\norganizationName = optional\n")
            run_cmd(["openssl", "ca", "-batch", "-config", conf, "-cert", self.ca.cert,
                     "-keyfile", self.ca.key, "-in", csr, "-out", cert, "-notext",
                     "-startdate", start, "-enddate", end, "-extfile", ext])
        return Issued(cert, key)

    def server(self, stem: str, dns_names=("localhost",), cn: str = "localhost") -> Issued:
        sans = ",".join(f"DNS:{n}" for n in dns_names)
        return self._issue(stem, f"/O=SealDesk Tests/CN={cn}",
                           f"subjectAltName={sans}\nextendedKeyUsage=serverAuth\n"
                           "keyUsage=critical,digitalSignature,keyEncipherment\n")

    def client(self, stem: str, cn: str, start: str | None = None, end: str | None = None) -> Issued:
        return self._issue(stem, f"/O=SealDesk Tests/CN={cn}",
                           "extendedKeyUsage=clientAuth\n"
                           "keyUsage=critical,digitalSignature,keyEncipherment\n",
                           start, end)

    def pkcs12(self, issued: Issued, nickname: str, password: str = "p12pass") -> Path:
        out = issued.cert.with_suffix(".p12")
        run_cmd(["openssl", "pkcs12", "-export", "-in", issued.cert, "-inkey", issued.key,
                 "-name", nickname, "-passout", f"pass:{password}", "-out", out])
        return out


def make_nss_db(folder: Path, trusted=(), pkcs12=(), password: str | None = None,
                p12_password: str = "p12pass", trust_flags: str = "CT,C,C") -> str:
    """An NSS database in folder: trusted is a list of PEM certificates given
    trust_flags ("CT,C,C": CAs trusted to issue TLS server and client
    certificates; use "P,," for a self-signed server certificate trusted as a
    peer), pkcs12 a list of PKCS#12 files whose certificate and key are imported
    under their friendly names. Returns the value for -d."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    db = f"sql:{folder}"
    pwfile = folder / "password.txt"
    pwfile.write_text((password or "") + "\n")
    if password:
        run_cmd(["certutil", "-N", "-d", db, "-f", pwfile])
    else:
        run_cmd(["certutil", "-N", "-d", db, "--empty-password"])
    for i, ca in enumerate(trusted):
        run_cmd(["certutil", "-A", "-d", db, "-f", pwfile, "-n", f"trusted-ca-{i}",
                 "-t", trust_flags, "-i", ca])
    for p12 in pkcs12:
        run_cmd(["pk12util", "-i", p12, "-d", db, "-W", p12_password, "-K", password or ""])
    return db


# ---------------------------------------------------------------------------
# Running tlsprobe and reading what it printed


@dataclasses.dataclass
class Connection:
    number: int
    reads: list = dataclasses.field(default_factory=list)   # (count, running total, bytes)
    total: int | None = None                                 # from the total line

    @property
    def data(self) -> bytes:
        return b"".join(r[2] for r in self.reads)


@dataclasses.dataclass
class ProbeRun:
    args: list
    rc: int
    stdout: str
    stderr: bytes
    connections: dict            # number -> Connection
    errors: list                 # (step, code, text) from the error lines
    launched: list               # slot numbers, in order
    returned: list               # (slot, value), in order
    handshakes: int
    security: list               # dicts: cipher, secret_bits, key_bits, status, subject, issuer
    cache: list                  # (hits, misses, not reusable)
    leftover: str                # stderr text outside the known lines

    def error_steps(self):
        return [e[0] for e in self.errors]


_ERROR_RE = re.compile(r"Error in function (.+?): (-?\d+)\n - (.*)\n")
_SECURITY_RE = re.compile(
    r"bulk cipher (.*?), (-?\d+) secret key bits, (-?\d+) key bits, status: (-?\d+)\n"
    r"subject DN: (.*)\nissuer\tDN: (.*)\n")
_CACHE_RE = re.compile(r"(-?\d+) cache hits; (-?\d+) cache misses, (-?\d+) cache not reusable\n")
_READ_RE = re.compile(rb"\*\*\*\*\* Connection (\d+) read (\d+) bytes \((\d+) total\)\.\n\*{12}\n")
_TOTAL_RE = re.compile(rb"\*\*\*\*\* Connection (\d+) read (\d+) bytes total\.\n")


def parse_stderr(err: bytes):
    """Splits standard error into the per-connection reads and totals. A read's
    frame holds exactly the bytes of the read (the count says how many)."""
    conns: dict[int, Connection] = {}
    leftover = bytearray()
    pos = 0
    while pos < len(err):
        m = _READ_RE.match(err, pos)
        if m:
            number, count, total = int(m[1]), int(m[2]), int(m[3])
            start = m.end()
            data = err[start:start + count]
            tail = err[start + count:start + count + 14]
            assert tail == b"\n************\n", f"frame of connection {number} not closed: {tail!r}"
            conns.setdefault(number, Connection(number)).reads.append((count, total, data))
            pos = start + count + 14
            continue
        m = _TOTAL_RE.match(err, pos)
        if m:
            c = conns.setdefault(int(m[1]), Connection(int(m[1])))
            assert c.total is None, f"two total lines for connection {m[1]}"
            c.total = int(m[2])
            pos = m.end()
            continue
        nl = err.find(b"\n", pos)
        nl = len(err) if nl < 0 else nl + 1
        leftover += err[pos:nl]
        pos = nl
    return conns, leftover.decode(errors="replace")


def parse_run(args, rc, out: str, err: bytes) -> ProbeRun:
    conns, leftover = parse_stderr(err)
    errors = [(m[1], int(m[2]), m[3]) for m in _ERROR_RE.finditer(out)]
    security = [dict(cipher=m[1], secret_bits=int(m[2]), key_bits=int(m[3]), status=int(m[4]),
                     subject=m[5], issuer=m[6]) for m in _SECURITY_RE.finditer(out)]
    cache = [(int(m[1]), int(m[2]), int(m[3])) for m in _CACHE_RE.finditer(out)]
    launched = [int(x) for x in re.findall(r"^Launched thread in slot (\d+) $", out, re.M)]
    returned = [(int(a), int(b)) for a, b in re.findall(r"^Thread in slot (\d+) returned (-?\d+)$", out, re.M)]
    handshakes = out.count("Handshake has completed, ready to send data securely.\n")
    return ProbeRun(list(args), rc, out, err, conns, errors, launched, returned, handshakes,
                    security, cache, leftover)


def sanitizer_env() -> dict:
    env = dict(os.environ)
    # Only used by a sanitizer build; harmless otherwise.
    env["LSAN_OPTIONS"] = f"suppressions={LSAN_SUPPRESSIONS}:print_suppressions=0"
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
    env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
    return env


def run_tlsprobe(args, timeout: float = 300, env: dict | None = None) -> ProbeRun:
    """Runs tlsprobe with exactly these arguments and parses its output."""
    full = [str(TLSPROBE)] + [str(a) for a in args]
    res = subprocess.run(full, capture_output=True, timeout=timeout, env=env or sanitizer_env())
    run = parse_run(full, res.returncode, res.stdout.decode(errors="replace"), res.stderr)
    assert "Sanitizer" not in run.leftover and "runtime error" not in run.leftover, run.leftover
    return run


def probe_args(host: str | None, port: int | None, db: str | None, *, count: int | None = None,
               nickname: str | None = None, password: str | None = None,
               ciphers: str | None = None) -> list:
    args = []
    if nickname is not None:
        args += ["-n", nickname]
    if port is not None:
        args += ["-p", str(port)]
    if db is not None:
        args += ["-d", db]
    if count is not None:
        args += ["-c", str(count)]
    if password is not None:
        args += ["-w", password]
    if ciphers is not None:
        args += ["-C", ciphers]
    if host is not None:
        args.append(host)
    return args


def probe_tls(host: str, port: int, ca_pem=None, *, db: str | None = None, count: int = 1,
              nickname: str | None = None, password: str | None = None,
              ciphers: str | None = None, timeout: float = 300,
              trust_flags: str = "CT,C,C") -> ProbeRun:
    """One call for a test against any TLS server: a fresh NSS database that
    trusts ca_pem (unless db is given; trust_flags as for make_nss_db), then
    tlsprobe against host:port. The host name must match the server's
    certificate (tlsprobe checks it)."""
    tmp = None
    try:
        if db is None:
            tmp = tempfile.mkdtemp(prefix="tlsprobe-db-")
            db = make_nss_db(Path(tmp), trusted=[ca_pem] if ca_pem else [],
                             trust_flags=trust_flags)
        return run_tlsprobe(probe_args(host, port, db, count=count, nickname=nickname,
                                       password=password, ciphers=ciphers), timeout=timeout)
    finally:
        if tmp:
            shutil.rmtree(tmp, ignore_errors=True)


def assert_clean_run(run: ProbeRun, count: int, body: bytes | None = None):
    """Every connection handshook, read something and ended well; the first ran
    alone in slot 0 and the others ran in the manager's 32 slots."""
    assert run.rc == 0, run
    assert run.errors == [], run.stdout
    assert run.handshakes == count, run.stdout
    assert sorted(run.connections) == list(range(1, count + 1)), run.connections.keys()
    for c in run.connections.values():
        assert c.total is not None and c.total > 0, c
        assert c.total == len(c.data) == sum(r[0] for r in c.reads)
        assert [r[1] for r in c.reads] == list(_running_totals(c.reads))
        if body is not None:
            assert c.data == body, (c.number, c.data[:200])
    assert len(run.launched) == count and len(run.returned) == count
    assert all(0 <= s < 32 for s in run.launched)
    assert all(rv == 0 for _, rv in run.returned), run.returned
    assert len(run.security) == count and len(run.cache) == count
    assert all(s["status"] > 0 and s["secret_bits"] > 0 for s in run.security), run.security
    # Connection 1 alone: its thread is joined before any other is launched.
    # (The launch line is printed after the manager's lock is released, so a
    # connection's own lines may come before it.)
    lines = run.stdout.splitlines()
    launches = [i for i, line in enumerate(lines) if line.startswith("Launched thread in slot ")]
    joins = [i for i, line in enumerate(lines) if line.startswith("Thread in slot ")]
    assert lines[launches[0]] == "Launched thread in slot 0 "
    if count > 1:
        assert lines[joins[0]] == "Thread in slot 0 returned 0"
        assert launches[0] < joins[0] < launches[1]
    assert "is in state" not in run.leftover, run.leftover


def _running_totals(reads):
    total = 0
    for count, _, _ in reads:
        total += count
        yield total


# ---------------------------------------------------------------------------
# Servers on loopback


class TLSServer:
    """A tiny threaded TLS server. Each connection: handshake, read the request
    up to the blank line, then answer `response` (bytes) and close, or close at
    once (close_at_once). Connections whose accept number (from 1) is in
    `rogue` are served with `rogue_cert` instead. With `barrier`=(first, last)
    the connections first..last wait until all of them are open at once before
    answering (proving they run concurrently)."""

    def __init__(self, cert: Issued, response: bytes = b"", *, close_at_once: bool = False,
                 rogue: set = frozenset(), rogue_cert: Issued | None = None,
                 client_ca: Path | None = None, barrier: tuple | None = None,
                 host: str = "127.0.0.1"):
        self.response = response
        self.close_at_once = close_at_once
        self.rogue = set(rogue)
        self.ctx = self._context(cert, client_ca)
        self.rogue_ctx = self._context(rogue_cert, client_ca) if rogue_cert else None
        self.barrier_range = barrier
        self.barrier = threading.Barrier(barrier[1] - barrier[0] + 1, timeout=60) if barrier else None
        self.lock = threading.Lock()
        self.accepted = 0
        self.open = 0
        self.max_open = 0
        self.events = []          # (time, "accept"/"end", number)
        self.requests = {}        # number -> bytes received
        self.peer_certs = {}      # number -> DER of the client certificate or None
        self.failures = {}        # number -> exception text
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, 0))
        self.sock.listen(128)
        self.port = self.sock.getsockname()[1]
        self.threads = []
        self.stopping = False
        self.acceptor = threading.Thread(target=self._accept_loop, daemon=True)
        self.acceptor.start()

    @staticmethod
    def _context(cert: Issued, client_ca):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(str(cert.cert), str(cert.key))
        if client_ca:
            ctx.verify_mode = ssl.CERT_REQUIRED
            ctx.load_verify_locations(str(client_ca))
        return ctx

    def _accept_loop(self):
        while not self.stopping:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with self.lock:
                self.accepted += 1
                number = self.accepted
                self.open += 1
                self.max_open = max(self.max_open, self.open)
                self.events.append((time.monotonic(), "accept", number))
            t = threading.Thread(target=self._serve, args=(conn, number), daemon=True)
            self.threads.append(t)
            t.start()

    def _serve(self, conn: socket.socket, number: int):
        tls = None
        try:
            conn.settimeout(60)
            ctx = self.rogue_ctx if number in self.rogue else self.ctx
            tls = ctx.wrap_socket(conn, server_side=True)
            self.peer_certs[number] = tls.getpeercert(binary_form=True)
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = tls.recv(4096)
                if not chunk:
                    break
                data += chunk
            self.requests[number] = data
            if self.barrier and self.barrier_range[0] <= number <= self.barrier_range[1]:
                self.barrier.wait()
            if not self.close_at_once:
                tls.sendall(self.response)
        except Exception as e:  # noqa: BLE001 - recorded for the test
            self.failures[number] = repr(e)
        finally:
            # Counted as ended before the close, so that tlsprobe (which reads
            # until the close) can never see an end the server has not counted.
            with self.lock:
                self.open -= 1
                self.events.append((time.monotonic(), "end", number))
            (tls or conn).close()

    def close(self):
        self.stopping = True
        self.sock.close()
        for t in self.threads:
            t.join(timeout=10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class OpenSSLServer:
    """openssl s_server -www on a free loopback port (one connection at a
    time; the answer is its status page, which names the client certificate)."""

    def __init__(self, cert: Issued, *extra, cwd: Path | None = None):
        self.port = free_port()
        self.proc = subprocess.Popen(
            ["openssl", "s_server", "-accept", f"127.0.0.1:{self.port}", "-cert", str(cert.cert),
             "-key", str(cert.key), "-www", *[str(e) for e in extra]],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=cwd)
        deadline = time.monotonic() + 20
        seen = b""
        while b"ACCEPT" not in seen:
            line = self.proc.stdout.readline()
            if not line or time.monotonic() > deadline:
                raise RuntimeError(f"openssl s_server did not start: {seen!r}")
            seen += line
        # Keep draining its output so that it never blocks on a full pipe.
        self.output = []
        self.reader = threading.Thread(target=self._drain, daemon=True)
        self.reader.start()

    def _drain(self):
        for line in self.proc.stdout:
            self.output.append(line)

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class HelloCapture:
    """A plain TCP server that reads each ClientHello, records the cipher
    suites it offers and closes the connection."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.offers = []
        self.thread = threading.Thread(target=self._loop, daemon=True)
        self.thread.start()

    def _loop(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(10)
                data = b""
                try:
                    while len(data) < 5 or len(data) < 5 + struct.unpack(">H", data[3:5])[0]:
                        chunk = conn.recv(65536)
                        if not chunk:
                            break
                        data += chunk
                except OSError:
                    pass
            self.offers.append(self._suites(data))

    @staticmethod
    def _suites(record: bytes):
        if len(record) < 5 or record[0] != 22:
            return None
        body = record[5:]
        p = 4 + 2 + 32                  # handshake header, version, random
        p += 1 + body[p]                # session id
        length = struct.unpack(">H", body[p:p + 2])[0]
        p += 2
        return [struct.unpack(">H", body[p + i:p + i + 2])[0] for i in range(0, length, 2)]

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def http_response(total_size: int, fill: bytes = b"0123456789abcdef") -> bytes:
    """An HTTP/1.0 answer of exactly total_size bytes, headers included."""
    head_for = lambda n: f"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: {n}\r\n\r\n".encode()
    n = total_size - len(head_for(0))
    while len(head_for(n)) + n != total_size:
        n = total_size - len(head_for(n))
    body = (fill * (n // len(fill) + 1))[:n]
    return head_for(n) + body
