"""tlsprobe against real TLS servers on loopback.

The servers are openssl s_server -www and a tiny Python TLS server answering
"GET /testfile HTTP/1.0" with a known body; their certificates come from a
test CA made with openssl in a temporary folder and trusted in an NSS database
made with certutil. Run inside a private network namespace (tests/tools/netns.sh).
"""

import subprocess
import textwrap

import pytest

pytest.register_assert_rewrite("tlsprobe_helpers")

from tlsprobe_helpers import (
    REQUEST, TLSPROBE, USAGE, HelloCapture, OpenSSLServer, TestPKI, TLSServer,
    assert_clean_run, http_response, make_nss_db, probe_args, probe_tls, run_tlsprobe,
    sanitizer_env,
)

BODY = http_response(200, fill=b"SealDesk tlsprobe test body. ")
DB_PASSWORD = "db-secret"


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    """The test CA, a second CA that no database trusts, their certificates,
    and NSS databases for the client side."""
    folder = tmp_path_factory.mktemp("pki")
    ca = TestPKI(folder, "SealDesk Test CA")
    other = TestPKI(folder, "Untrusted Test CA")
    p = type("PKI", (), {})()
    p.folder = folder
    p.ca = ca
    p.other = other
    p.server = ca.server("server", dns_names=("localhost",))
    p.rogue_server = other.server("rogue-server", dns_names=("localhost",))
    alice = ca.client("alice", "alice")
    mallory = other.client("mallory", "mallory")
    expired = ca.client("expired", "expired-alice", start="20200101000000Z", end="20200201000000Z")
    p.client_p12 = [ca.pkcs12(alice, "alice"), other.pkcs12(mallory, "mallory"),
                    ca.pkcs12(expired, "expired")]
    # Trusts the test CA; no keys.
    p.db = make_nss_db(folder / "db", trusted=[ca.ca.cert])
    # Trusts the test CA and holds three user certificates behind a password:
    # alice (test CA, valid), mallory (other CA), expired (test CA, expired).
    p.client_db = make_nss_db(folder / "client-db", trusted=[ca.ca.cert],
                              pkcs12=p.client_p12, password=DB_PASSWORD)
    return p


# ---------------------------------------------------------------------------
# Counts of connections


def test_one_connection_against_openssl_s_server(pki):
    with OpenSSLServer(pki.server) as server:
        run = probe_tls("localhost", server.port, pki.ca.ca.cert)
    assert_clean_run(run, 1)
    page = run.connections[1].data
    assert page.startswith(b"HTTP/1.0 200 ok\r\n"), page[:100]
    assert b"Cipher is" in page
    assert run.launched == [0] and run.returned == [(0, 0)]
    sec = run.security[0]
    assert sec["subject"] == "CN=localhost,O=SealDesk Tests"
    assert sec["issuer"] == "CN=SealDesk Test CA,O=SealDesk Tests"


def test_one_connection_sends_the_fixed_request_and_prints_the_body(pki):
    with TLSServer(pki.server, BODY) as server:
        run = probe_tls("localhost", server.port, db=pki.db)
        requests = dict(server.requests)
    assert_clean_run(run, 1, body=BODY)
    assert requests == {1: REQUEST}
    assert run.connections[1].total == len(BODY)
    # No concurrent phase: one launch, one join, nothing else.
    assert run.launched == [0] and run.returned == [(0, 0)]
    assert run.stdout.splitlines()[-1] == "Thread in slot 0 returned 0"
    assert len(run.cache) == 1 and run.cache[0][0] == 0   # nothing to resume yet


def test_33_connections_first_alone_then_32_at_once(pki):
    # Connections 2..33 are held by the server until all 32 are open together.
    with TLSServer(pki.server, BODY, barrier=(2, 33)) as server:
        run = probe_tls("localhost", server.port, db=pki.db, count=33)
        events = list(server.events)
        max_open = server.max_open
        failures = dict(server.failures)
        requests = dict(server.requests)
    assert failures == {}
    assert_clean_run(run, 33, body=BODY)
    assert set(requests.values()) == {REQUEST} and len(requests) == 33
    # The first connection ended before the second was accepted.
    end_1 = next(t for t, kind, n in events if kind == "end" and n == 1)
    accept_2 = next(t for t, kind, n in events if kind == "accept" and n == 2)
    assert end_1 < accept_2
    assert max_open == 32
    # Slot 0 for connection 1, then each of the 32 slots once.
    assert run.launched[0] == 0 and sorted(run.launched[1:]) == list(range(32))
    assert sorted(s for s, _ in run.returned[1:]) == list(range(32))
    # The concurrent handshakes resumed the first connection's session.
    assert max(hits for hits, _, _ in run.cache) >= 1, run.cache


def test_more_than_33_connections_all_complete(pki):
    count = 75
    with TLSServer(pki.server, BODY, barrier=(2, 33)) as server:
        run = probe_tls("localhost", server.port, db=pki.db, count=count)
        max_open = server.max_open
        accepted = server.accepted
    assert_clean_run(run, count, body=BODY)
    assert accepted == count
    # Never more than 32 at once, and all 32 slots were busy together.
    assert max_open == 32
    assert sorted(set(run.launched)) == list(range(32))
    assert len(run.returned) == count


# ---------------------------------------------------------------------------
# Server authentication


def test_untrusted_server_certificate_fails_only_that_connection(pki):
    # The 5th connection accepted is served with a certificate from a CA the
    # database does not trust; the other 32 are served normally.
    with TLSServer(pki.server, BODY, rogue={5}, rogue_cert=pki.rogue_server) as server:
        run = probe_tls("localhost", server.port, db=pki.db, count=33)
    assert run.rc == 0
    assert run.error_steps() == ["PR_Write", "handle_connection"], run.stdout
    code, text = run.errors[0][1], run.errors[0][2]
    assert code == -8179 and text == "Peer's Certificate issuer is not recognized."
    assert run.errors[1][1:] == (code, text)
    assert sorted(rv for _, rv in run.returned) == [-1] + [0] * 32
    assert run.handshakes == 32
    ok = [c for c in run.connections.values() if c.total is not None]
    assert len(ok) == 32 and all(c.data == BODY for c in ok)


def test_untrusted_server_every_connection_fails_alone(pki):
    with TLSServer(pki.rogue_server, BODY) as server:
        run = probe_tls("localhost", server.port, db=pki.db, count=3)
    assert run.rc == 0
    assert run.error_steps() == ["PR_Write", "handle_connection"] * 3
    assert [rv for _, rv in run.returned] == [-1, -1, -1]
    assert run.handshakes == 0 and run.connections == {}


def test_host_name_that_does_not_match(pki):
    # The certificate names "localhost" only; connect by address.
    with TLSServer(pki.server, BODY) as server:
        run = probe_tls("127.0.0.1", server.port, db=pki.db)
    assert run.rc == 0
    assert run.errors[0] == (
        "PR_Write", -12276,
        "Unable to communicate securely with peer: requested domain name does not match "
        "the server's certificate.")
    assert run.error_steps() == ["PR_Write", "handle_connection"]
    assert run.returned == [(0, -1)]


# ---------------------------------------------------------------------------
# Client authentication (openssl s_server -Verify: a client certificate is
# required, and the server names the test CA as the acceptable issuer)


def client_auth_args(pki):
    return ["-Verify", "1", "-verify_return_error", "-CAfile", pki.ca.ca.cert]


def _client_subject(page: bytes) -> str:
    for line in page.decode(errors="replace").splitlines():
        if line.strip().startswith("Subject:"):
            return line.split("Subject:", 1)[1].strip()
    return ""


def test_client_certificate_by_nickname(pki):
    with OpenSSLServer(pki.server, *client_auth_args(pki)) as server:
        run = probe_tls("localhost", server.port, db=pki.client_db, nickname="alice",
                        password=DB_PASSWORD, count=2)
    assert_clean_run(run, 2)
    for c in run.connections.values():
        assert b"Client certificate" in c.data
        assert _client_subject(c.data) == "O=SealDesk Tests, CN=alice"


def test_client_certificate_chosen_automatically(pki):
    # Without -n: mallory's issuer is not named by the server and expired is
    # out of its validity period, so alice is the one that qualifies.
    with OpenSSLServer(pki.server, *client_auth_args(pki)) as server:
        run = probe_tls("localhost", server.port, db=pki.client_db, password=DB_PASSWORD)
    assert_clean_run(run, 1)
    assert _client_subject(run.connections[1].data) == "O=SealDesk Tests, CN=alice"


def test_client_certificate_nickname_of_a_certificate_the_server_refuses(pki):
    # TLS 1.3: the client's side of the handshake completes, then the server's
    # alert arrives on the first read.
    with OpenSSLServer(pki.server, *client_auth_args(pki)) as server:
        run = probe_tls("localhost", server.port, db=pki.client_db, nickname="mallory",
                        password=DB_PASSWORD)
    assert run.rc == 0
    assert run.errors == [("PR_Read", -12195,
                           "Peer does not recognize and trust the CA that issued your certificate.")]
    assert run.connections[1].total == 0
    assert run.returned == [(0, 0)]


@pytest.mark.parametrize("nickname,password", [
    ("alice", None),          # no -w: the password callback gives none, the key stays locked
    ("no-such-nickname", DB_PASSWORD),
])
def test_client_certificate_request_refused(pki, nickname, password):
    with OpenSSLServer(pki.server, *client_auth_args(pki)) as server:
        run = probe_tls("localhost", server.port, db=pki.client_db, nickname=nickname,
                        password=password)
    assert run.rc == 0
    assert run.errors == [("PR_Read", -12107, "SSL received a certificate_required alert.")]
    assert run.connections[1].total == 0


def test_client_certificate_to_a_python_server(pki):
    with TLSServer(pki.server, BODY, client_ca=pki.ca.ca.cert) as server:
        run = probe_tls("localhost", server.port, db=pki.client_db, nickname="alice",
                        password=DB_PASSWORD)
        peer = server.peer_certs.get(1)
    assert_clean_run(run, 1, body=BODY)
    der = subprocess.run(["openssl", "x509", "-in", str(pki.folder / "alice.pem"), "-outform", "DER"],
                         capture_output=True, check=True).stdout
    assert peer == der


# ---------------------------------------------------------------------------
# What the server sends


def test_response_of_exactly_61440_bytes(pki):
    response = http_response(61440)
    assert len(response) == 61440
    with TLSServer(pki.server, response) as server:
        run = probe_tls("localhost", server.port, db=pki.db)
    assert_clean_run(run, 1, body=response)
    conn = run.connections[1]
    assert conn.total == 61440
    assert all(0 < count <= 61440 for count, _, _ in conn.reads)
    assert b"***** Connection 1 read 61440 bytes total.\n" in run.stderr


def test_server_that_closes_at_once(pki):
    with TLSServer(pki.server, close_at_once=True) as server:
        run = probe_tls("localhost", server.port, db=pki.db)
        requests = dict(server.requests)
    assert requests == {1: REQUEST}
    assert run.rc == 0
    assert run.errors == [], run.stdout
    assert run.handshakes == 1
    assert run.connections[1].reads == [] and run.connections[1].total == 0
    assert b"***** Connection 1 read 0 bytes total.\n" in run.stderr
    assert run.returned == [(0, 0)]


# ---------------------------------------------------------------------------
# Cipher letters


def test_cipher_text_bcA_offers_only_rc4_md5(pki):
    # b -> 0x001E and A -> 0xFF01 no longer exist in NSS; c -> 0x0004 does.
    with HelloCapture() as capture:
        default = run_tlsprobe(probe_args("localhost", capture.port, pki.db))
        bca = run_tlsprobe(probe_args("localhost", capture.port, pki.db, ciphers="bcA"))
        only_null = run_tlsprobe(probe_args("localhost", capture.port, pki.db, ciphers="i"))
        offers = list(capture.offers)
    assert [r.rc for r in (default, bca, only_null)] == [0, 0, 0]
    assert len(offers) == 3
    # Start-up enables RSA with NULL-MD5 by default.
    assert 0x0001 in offers[0] and len(offers[0]) > 3
    assert offers[1] == [0x0004]
    assert offers[2] == [0x0001]
    # The capture server closes after the hello: the connection fails alone.
    assert bca.error_steps() == ["PR_Write", "handle_connection"]


def test_cipher_text_1_prints_usage(pki):
    run = run_tlsprobe(probe_args("localhost", 9, pki.db, ciphers="1"))
    assert run.rc == 1
    assert run.leftover == USAGE.format(prog=TLSPROBE)
    assert run.stdout == ""


def test_cipher_reset_failure_ends_with_status_2(pki, tmp_path):
    # A stand-in for the library's SSL_CipherPrefSetDefault that refuses to
    # disable one suite (TLS_RSA_WITH_AES_128_CBC_SHA, 0x002F).
    shim = tmp_path / "refuse.c"
    shim.write_text(textwrap.dedent("""
        #define _GNU_SOURCE
        #include <dlfcn.h>
        #include <prerror.h>
        typedef int (*fn)(int, int);
        int SSL_CipherPrefSetDefault(int which, int enabled) {
          if (which == 0x002F && !enabled) { PR_SetError(-8187, 0); return -1; }
          return ((fn)dlsym(RTLD_NEXT, "SSL_CipherPrefSetDefault"))(which, enabled);
        }
    """))
    lib = tmp_path / "refuse.so"
    cflags = subprocess.run(["pkg-config", "--cflags", "nspr"], capture_output=True, text=True,
                            check=True).stdout.split()
    subprocess.run(["cc", "-shared", "-fPIC", *cflags, "-o", str(lib), str(shim), "-ldl", "-lnspr4"],
                   check=True)
    env = sanitizer_env()
    env["LD_PRELOAD"] = str(lib)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    run = run_tlsprobe(probe_args("localhost", 9, pki.db, ciphers="c"), env=env)
    assert run.rc == 2
    lines = run.stdout.splitlines()
    assert len(lines) == 3, run.stdout
    assert lines[0].startswith("SSL_CipherPrefSetDefault didn't like value 0x002f (i = ")
    assert lines[1:] == ["Error in function SSL_CipherPrefSetDefault: -8187",
                         " - security library: invalid arguments."]


# ---------------------------------------------------------------------------
# Command line


@pytest.mark.parametrize("args", [
    ["-d", "sql:/nonexistent", "localhost"],            # no -p
    ["-p", "443"],                                       # no host
    ["-p", "0", "localhost"],                            # port 0
    ["-p", "65536", "localhost"],                        # port kept as 16 bits: 0
    ["-x", "-p", "443", "localhost"],                    # unknown option ends the parsing
    [],
])
def test_usage_and_status_1(args):
    run = run_tlsprobe(args)
    assert run.rc == 1
    assert run.stdout == ""
    assert run.leftover == USAGE.format(prog=TLSPROBE)


def test_bad_database_is_fatal(tmp_path):
    run = run_tlsprobe(["-p", "443", "-d", f"sql:{tmp_path}/missing", "localhost"])
    assert run.rc == 1
    assert run.error_steps() == ["NSS_Init"]
    assert run.errors[0][1] == -8174 and run.errors[0][2] == "security library: bad database."


def test_unknown_host_is_fatal(pki):
    run = run_tlsprobe(probe_args("no-such-host.invalid", 443, pki.db))
    assert run.rc == 1
    assert run.error_steps() == ["PR_GetHostByName"]
    assert run.launched == []


def test_nothing_listening(pki):
    run = probe_tls("localhost", 9, db=pki.db, count=2)
    assert run.rc == 0
    assert run.error_steps() == ["PR_Connect", "PR_Connect"]
    # NSPR reports the refused connect as refused or as reset, by platform.
    assert run.errors[0][1:] in [(-5981, "Connection refused by peer."),
                                 (-5961, "TCP connection reset by peer")]
    assert [rv for _, rv in run.returned] == [-1, -1]


def test_options_in_any_order_and_the_last_host_counts(pki):
    with TLSServer(pki.server, BODY) as server:
        run = run_tlsprobe(["127.0.0.1", "-c", "2", "-d", pki.db, "localhost",
                            "-p", str(server.port)])
    assert_clean_run(run, 2, body=BODY)
