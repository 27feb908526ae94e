"""Shared pytest helpers: a real SealDesk service in a program folder of its own.

Every test file runs in a private network namespace (tests/tools/netns.sh), so
the service's fixed ports are free and nothing outside can interfere.
"""
import http.client
import os
import shutil
import signal
import socket
import ssl
import subprocess
import time
from pathlib import Path

import pytest

SOURCE_DIR = Path(os.environ.get("SEALDESK_SOURCE_DIR", Path(__file__).resolve().parent.parent))
BUILD_DIR = Path(os.environ.get("SEALDESK_BUILD_DIR", SOURCE_DIR / "build" / "test"))
BIN_DIR = BUILD_DIR / "bin"
HTTP_PORT = 14007
HTTPS_PORT = 14407
KEY_PASSWORD = "velocamber"
BOM = b"\xef\xbb\xbf"


def make_server_identity(folder: Path, password: str = KEY_PASSWORD, name: str = "server"):
    """A self-signed certificate for 127.0.0.1 and its key, encrypted with `password`."""
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "30",
         "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
         "-keyout", str(folder / f"{name}.key"), "-out", str(folder / f"{name}.crt"),
         "-passout", f"pass:{password}"],
        check=True, capture_output=True)
    return folder / f"{name}.crt", folder / f"{name}.key"


@pytest.fixture(scope="session")
def server_identity(tmp_path_factory):
    """One certificate and key for the whole session (making RSA keys is slow)."""
    return make_server_identity(tmp_path_factory.mktemp("identity"))


@pytest.fixture
def program_folder(tmp_path, server_identity):
    """A program folder: a copy of the binary beside server.crt and server.key."""
    folder = tmp_path / "program"
    folder.mkdir()
    shutil.copy2(BIN_DIR / "sealdesk", folder / "sealdesk")
    shutil.copy2(server_identity[0], folder / "server.crt")
    shutil.copy2(server_identity[1], folder / "server.key")
    return folder


def port_open(port, host="127.0.0.1"):
    try:
        with socket.create_connection((host, port), timeout=0.5):
            return True
    except OSError:
        return False


class Response:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers
        self.body = body

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None


class Service:
    """A running `sealdesk --headless` in `folder`."""

    def __init__(self, folder: Path, env=None, args=("--headless",)):
        self.folder = Path(folder)
        self.env = dict(os.environ)
        self.env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
        # The service's own event texts on standard error, for tests to read.
        self.env.setdefault("SEALDESK_LOG_EVENTS", "1")
        self.env.update(env or {})
        self.args = list(args)
        self.process = None
        self.stdout = ""
        self.stderr = ""

    def start(self, wait_ports=(HTTP_PORT, HTTPS_PORT), timeout=20):
        self.process = subprocess.Popen(
            [str(self.folder / "sealdesk"), *self.args], cwd=self.folder, env=self.env,
            stdout=open(self.folder / "stdout.txt", "wb"), stderr=open(self.folder / "stderr.txt", "wb"))
        deadline = time.monotonic() + timeout
        for port in wait_ports:
            while not port_open(port):
                if self.process.poll() is not None:
                    raise RuntimeError(f"sealdesk ended early: {self.read_output()}")
                if time.monotonic() > deadline:
                    raise RuntimeError(f"port {port} did not open: {self.read_output()}")
                time.sleep(0.05)
        return self

    def read_output(self):
        self.stdout = (self.folder / "stdout.txt").read_text(errors="replace")
        self.stderr = (self.folder / "stderr.txt").read_text(errors="replace")
        return self.stdout + self.stderr

    def wait_stdout(self, text, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.read_output():
                return True
            time.sleep(0.05)
        return False

    def stop(self, sig=signal.SIGTERM, timeout=30):
        """Stops the process with a signal; returns its exit status."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            self.read_output()
            raise AssertionError(f"sealdesk did not stop within {timeout}s: {self.stderr}")
        self.read_output()
        return status

    def log(self):
        return (self.folder / "serverLog.txt").read_bytes()

    # ---- clients -----------------------------------------------------------------

    def connection(self, tls=False, timeout=30):
        if tls:
            context = ssl.create_default_context(cafile=str(self.folder / "server.crt"))
            return http.client.HTTPSConnection("127.0.0.1", HTTPS_PORT, context=context, timeout=timeout)
        return http.client.HTTPConnection("127.0.0.1", HTTP_PORT, timeout=timeout)

    def request(self, method, path, body=None, headers=None, tls=False):
        connection = self.connection(tls)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            answer = connection.getresponse()
            return Response(answer.status, answer.getheaders(), answer.read())
        finally:
            connection.close()

    def post(self, path, fields=None, tls=False, headers=None):
        """POSTs form fields (a dict, sent without percent-encoding, or a raw body)."""
        if isinstance(fields, dict):
            body = "&".join(f"{k}={v}" for k, v in fields.items()).encode()
        elif isinstance(fields, str):
            body = fields.encode()
        else:
            body = fields or b""
        all_headers = {"Content-Type": "application/x-www-form-urlencoded"}
        all_headers.update(headers or {})
        return self.request("POST", path, body=body, headers=all_headers, tls=tls)

    def call(self, path, fields=None, tls=False):
        """POSTs and returns the body; asserts status 200."""
        response = self.post(path, fields, tls=tls)
        assert response.status == 200, response.status
        return response.body

    def last_error(self):
        return self.call("/getLastErr")


@pytest.fixture
def service_factory(program_folder):
    """Makes services on demand; each is stopped at the end and must exit 0."""
    started = []

    def make(folder=None, env=None, **kwargs):
        service = Service(folder or program_folder, env=env)
        started.append(service)
        return service

    yield make
    for service in started:
        if service.process is not None and service.process.poll() is None:
            status = service.stop()
            assert status == 0, f"sealdesk exited with {status}: {service.stderr[-4000:]}"


@pytest.fixture
def service(service_factory):
    """A started headless service with the test certificate."""
    return service_factory().start()
