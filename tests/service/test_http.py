"""The service over plain HTTP and TLS, with real clients: curl, openssl
s_client, raw sockets, Python's HTTP client."""
import socket
import ssl
import subprocess
import threading
import time

import pytest

from conftest import BOM, HTTP_PORT, HTTPS_PORT


def raw_exchange(data: bytes, port=HTTP_PORT, source="127.0.0.1", timeout=10, family=socket.AF_INET):
    """Sends `data` and reads until the server closes."""
    with socket.socket(family, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        s.bind((source, 0))
        s.connect(("::1" if family == socket.AF_INET6 else "127.0.0.1", port))
        s.sendall(data)
        chunks = []
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
        return b"".join(chunks)


def curl(*args, check=True):
    result = subprocess.run(["curl", "-s", "-S", "-i", "--max-time", "20", *args], capture_output=True, timeout=30)
    if check:
        assert result.returncode == 0, result.stderr
    return result


def split_response(raw: bytes):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers, body


@pytest.mark.parametrize("version", ["--http1.0", "--http1.1"])
@pytest.mark.parametrize("tls", [False, True])
def test_echo_with_curl(service, version, tls):
    url = f"https://127.0.0.1:{HTTPS_PORT}/echo" if tls else f"http://127.0.0.1:{HTTP_PORT}/echo"
    extra = ["--cacert", str(service.folder / "server.crt")] if tls else []
    status, headers, body = split_response(curl(version, *extra, "-d", "value=abc", url).stdout)
    assert status.endswith("200 OK")
    assert headers["content-length"] == "3"
    assert headers["access-control-allow-origin"] == "*"
    assert body == b"abc"


def test_routing_rules(service):
    cases = [
        # method, path, body, status, answer, cross-origin header expected
        ("POST", "/echo", "value=a+b%41", 200, b"a+b%41", True),
        ("POST", "/echo", "value=1&value=2", 200, b"2", True),
        ("POST", "/echo", "value=abc\n", 200, b"", True),
        ("GET", "/echo", "value=abc", 200, b"abc", False),
        ("GET", "/echo", None, 200, b"", False),
        ("POST", "/getLastErr?x=1", "", 200, BOM, True),
        ("GET", "/getLastErr?x=1", None, 200, b"", False),
        ("POST", "/echo?value=zz", "", 200, b"", True),
        ("POST", "/signpdf", "", 200, b"", True),
        ("POST", "/echo/", "value=1", 200, b"", True),
        ("POST", "/Echo", "value=1", 200, b"", True),
        ("OPTIONS", "/echo", None, 400, b"", False),
        ("HEAD", "/echo", None, 400, b"", False),
        ("PUT", "/echo", "value=1", 400, b"", False),
        ("DELETE", "/getLastErr", None, 400, b"", False),
        ("PATCH", "/echo", "value=1", 400, b"", False),
    ]
    for method, path, body, status, answer, cors in cases:
        response = service.request(method, path, body=body.encode() if body is not None else None)
        label = f"{method} {path}"
        assert response.status == status, label
        assert response.body == answer, label
        assert response.header("Content-Length") == str(len(answer)), label
        assert (response.header("Access-Control-Allow-Origin") == "*") == cors, label


def test_last_error_right_after_start_is_the_mark_alone(service):
    assert service.last_error() == BOM
    assert service.last_error() == BOM


def test_keep_alive_two_requests_two_log_entries_in_order(service):
    request = (b"POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 7\r\n\r\nvalue=1"
               b"POST /getLastErr HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
    raw = raw_exchange(request)
    assert raw.count(b"HTTP/1.1 200 OK") == 2
    first, _, rest = raw.partition(b"\r\n\r\n")
    assert rest.startswith(b"1HTTP/1.1 200 OK")
    assert raw.endswith(BOM)
    assert service.log() == (b"===================OnRequest===================\n"
                             b"Method: POST | URL: /echo\n\n"
                             b"===================OnRequest===================\n"
                             b"Method: POST | URL: /getLastErr\n\n")


def test_http10_without_keep_alive_is_closed_after_the_answer(service):
    raw = raw_exchange(b"POST /echo HTTP/1.0\r\nContent-Length: 7\r\n\r\nvalue=9")
    status, headers, body = split_response(raw)
    assert status == "HTTP/1.1 200 OK" and body == b"9"
    # An empty answer sends no body and no "Result data" text.
    raw = raw_exchange(b"POST /nothing HTTP/1.0\r\nContent-Length: 0\r\n\r\n")
    assert split_response(raw)[1]["content-length"] == "0" and split_response(raw)[2] == b""
    service.stop()
    assert service.stderr.count("Result data : ") == 1
    assert "Result data : 9\n" in service.stderr


def test_absolute_url_is_dispatched_by_its_path(service):
    raw = raw_exchange(b"POST https://127.0.0.1:14407/echo HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                       b"Content-Length: 7\r\n\r\nvalue=a")
    assert split_response(raw)[2] == b"a"
    assert b"Method: POST | URL: /echo\n" in service.log()


def test_chunked_body_and_expect_continue(service):
    raw = raw_exchange(b"POST /echo HTTP/1.1\r\nHost: x\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n"
                       b"6\r\nvalue=\r\n3\r\nabc\r\n0\r\n\r\n")
    assert split_response(raw)[2] == b"abc"
    # curl sends Expect: 100-continue for this body and waits for the go-ahead.
    result = curl("-H", "Expect: 100-continue", "-d", "value=" + "x" * 2000, f"http://127.0.0.1:{HTTP_PORT}/echo")
    assert b"HTTP/1.1 100 Continue" in result.stdout
    assert result.stdout.endswith(b"x" * 2000)


def test_tls_with_openssl_s_client(service):
    request = b"POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 9\r\nConnection: close\r\n\r\nvalue=tls"
    result = subprocess.run(
        ["openssl", "s_client", "-connect", f"127.0.0.1:{HTTPS_PORT}", "-CAfile", str(service.folder / "server.crt"),
         "-verify_return_error", "-quiet"],
        input=request, capture_output=True, timeout=30)
    assert result.stdout.endswith(b"\r\n\r\ntls"), result.stdout + result.stderr


def test_fifty_clients_at_once(service):
    answers = {}

    def client(i):
        answers[i] = service.post("/echo", {"value": f"n{i}"}, tls=bool(i % 2)).body

    threads = [threading.Thread(target=client, args=(i,)) for i in range(50)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert answers == {i: f"n{i}".encode() for i in range(50)}


@pytest.mark.parametrize("source,family", [("127.0.0.2", socket.AF_INET), ("::1", socket.AF_INET6)])
@pytest.mark.parametrize("port", [HTTP_PORT, HTTPS_PORT])
def test_clients_not_at_127_0_0_1_receive_no_byte(service, source, family, port):
    payload = b"POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 7\r\n\r\nvalue=1"
    try:
        raw = raw_exchange(payload, port=port, source=source, family=family)
    except ConnectionResetError:
        raw = b""
    assert raw == b""
    # The service is still there for the rightful client.
    assert service.call("/echo", {"value": "ok"}) == b"ok"
    assert service.wait_stdout(f"Client accepted: {source}\n")


def test_port_already_taken_leaves_the_other_listener_serving(service_factory):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as blocker:
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)  # earlier tests leave TIME_WAIT
        blocker.bind(("0.0.0.0", HTTP_PORT))
        blocker.listen()
        service = service_factory(env={"SEALDESK_LOG_EVENTS": "1"}).start(wait_ports=(HTTPS_PORT,))
        assert service.call("/echo", {"value": "still"}, tls=True) == b"still"
        assert service.wait_stdout("Failed to bind socket to the port")


def test_missing_certificate_starts_nothing(service_factory, program_folder):
    (program_folder / "server.crt").unlink()
    service = service_factory()
    service.start(wait_ports=())
    assert service.wait_stdout("Can't load server certificate, error ")
    time.sleep(0.5)
    assert not any(_connects(port) for port in (HTTP_PORT, HTTPS_PORT))
    assert service.stop() == 0


def _connects(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def test_wrong_key_password_fails_tls_but_plain_serves(service_factory, program_folder, tmp_path):
    from conftest import make_server_identity
    crt, key = make_server_identity(tmp_path / "other", password="not-the-password")
    (program_folder / "server.crt").write_bytes(crt.read_bytes())
    (program_folder / "server.key").write_bytes(key.read_bytes())
    service = service_factory().start()
    assert service.call("/echo", {"value": "plain"}) == b"plain"
    with pytest.raises((ssl.SSLError, ConnectionError)):
        service.post("/echo", {"value": "x"}, tls=True)
    assert service.call("/echo", {"value": "again"}) == b"again"
    assert service.wait_stdout("SSL error: ")


def test_body_over_the_bound_is_refused(service):
    raw = raw_exchange(b"POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 536870913\r\n\r\nvalue=1")
    status, headers, body = split_response(raw)
    assert status == "HTTP/1.1 400 Bad Request"
    assert headers["content-length"] == "0" and body == b""


def test_head_over_the_bound_is_refused(service):
    raw = raw_exchange(b"POST /echo HTTP/1.1\r\nX-Pad: " + b"a" * 70000 + b"\r\n\r\n")
    assert raw.startswith(b"HTTP/1.1 400 Bad Request\r\n")
    assert split_response(raw)[2] == b""


def test_stalled_clients_hold_up_neither_others_nor_the_stop(service):
    stalled = []
    for request in (b"POST /echo HTTP/1.1\r\nX-Never: ends",
                    b"POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\nvalue=",
                    b""):
        s = socket.create_connection(("127.0.0.1", HTTP_PORT))
        s.sendall(request)
        stalled.append(s)
    # A client that never reads its answers fills the socket buffers.
    hog = socket.create_connection(("127.0.0.1", HTTP_PORT))
    hog.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    size = 16 * 1024 * 1024
    hog.sendall(b"POST /echo HTTP/1.1\r\nContent-Length: %d\r\n\r\nvalue=" % (size + 6) + b"z" * size)
    stalled.append(hog)
    time.sleep(0.5)
    assert service.call("/echo", {"value": "other"}) == b"other"
    assert service.call("/echo", {"value": "tls"}, tls=True) == b"tls"
    started = time.monotonic()
    assert service.stop() == 0
    assert time.monotonic() - started < 10
    for s in stalled:
        s.close()


def test_two_stop_signals_in_a_row(service_factory):
    # The second signal arrives while the first one's stop ends the process:
    # it must find the service stopped and nothing freed under it.
    for _ in range(5):
        service = service_factory().start()
        service.process.send_signal(2)
        service.process.send_signal(15)
        assert service.stop() == 0, service.stderr
