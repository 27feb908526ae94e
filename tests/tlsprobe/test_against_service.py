"""tlsprobe against SealDesk's own TLS port: 33 connections, the first alone,
then 32 at once, each answered by the service."""
from conftest import HTTPS_PORT
from tlsprobe_helpers import assert_clean_run, probe_tls


def test_33_connections_to_the_service(service):
    run = probe_tls("127.0.0.1", HTTPS_PORT, service.folder / "server.crt", count=33, trust_flags="P,,")
    assert_clean_run(run, 33)
    for connection in run.connections.values():
        # The fixed request names no operation: an empty 200 answer, then close.
        assert connection.data.startswith(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n")
    assert service.log().count(b"Method: GET | URL: /testfile\n") == 33
