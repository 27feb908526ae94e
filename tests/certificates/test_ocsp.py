"""The OCSP switch and the OCSP check of a picked certificate against real
`openssl ocsp` responders on loopback."""
import time

import pytest


@pytest.mark.parametrize("value, on", [("1", True), (" 2", True), ("-1", True), ("0", False), ("abc", False),
                                        ("", False)])
def test_config_ocsp_values(cert_service, pki, value, on):
    svc = cert_service
    session = svc.session()
    # CAInfo.cfg gone: with the check on, every pick fails.
    (svc.folder / "CAInfo.cfg").unlink()
    assert svc.text("/configOCSP", {"isOCSP": value, "sessionID": session}) == "0"
    assert svc.error() == "0"
    answer = svc.pick(pki.certs["vn"], session)
    if on:
        assert answer is None and svc.error() == "100102"
    else:
        assert answer == pki.certs["vn"].b64


def test_config_ocsp_needs_a_session(cert_service, pki):
    svc = cert_service
    assert svc.text("/configOCSP", {"isOCSP": "1", "sessionID": "x"}) is None
    assert svc.error() == "101200"
    # The switch stayed off.
    (svc.folder / "CAInfo.cfg").unlink()
    assert svc.pick(pki.certs["vn"]) == pki.certs["vn"].b64


@pytest.mark.parametrize("name, good", [("vn", True), ("revoked", False), ("unknown", False),
                                        ("https_only", False), ("oldkey", True)])
def test_ocsp_verdicts(cert_service, pki, name, good):
    svc = cert_service
    session = svc.session()
    svc.call("/configOCSP", {"isOCSP": "1", "sessionID": session})
    cert = pki.certs[name]
    answer = svc.pick(cert, session)
    if good:
        assert answer == cert.b64
    else:
        assert answer is None
        assert svc.error() == "100102"
        assert [svc.call(p) for p in ("/getCertCN", "/getCertSNB")] == [b"\xef\xbb\xbf"] * 2
    out = svc.read_output()
    if name == "oldkey":
        # The current CA key does not verify it; the "_new" entry is taken.
        assert "Found Darvolk Test CA " in out and "Found Darvolk Test CA_new " in out
    elif name != "https_only":
        assert "Found Darvolk Test CA " in out and "_new" not in out


def test_get_session_switches_ocsp_off(cert_service, pki):
    svc = cert_service
    svc.call("/configOCSP", {"isOCSP": "1", "sessionID": svc.session()})
    (svc.folder / "CAInfo.cfg").unlink()
    assert svc.pick(pki.certs["vn"], svc.session()) == pki.certs["vn"].b64


def test_ca_info_without_the_issuer_or_with_garbage(cert_service, pki):
    svc = cert_service
    session = svc.session()
    svc.call("/configOCSP", {"isOCSP": "1", "sessionID": session})
    for content in ("Other CA=AAAA\r\n", "no equals sign here\n", "Darvolk Test CA=not base64!\n",
                    "Darvolk Test CA=QUJD\n"):
        (svc.folder / "CAInfo.cfg").write_text(content, newline="")
        assert svc.pick(pki.certs["vn"], session) is None
        assert svc.error() == "100102"
    # Read anew on every check: the right file makes the same pick pass.
    (svc.folder / "CAInfo.cfg").write_text(pki.ca_info_text(), newline="")
    assert svc.pick(pki.certs["vn"], session) == pki.certs["vn"].b64


def test_responder_down(cert_service, pki):
    """Runs last: stops the responders of this file's PKI."""
    svc = cert_service
    session = svc.session()
    svc.call("/configOCSP", {"isOCSP": "1", "sessionID": session})
    pki.stop_responders()
    started = time.monotonic()
    assert svc.pick(pki.certs["vn"], session) is None
    # A closed port fails at once, long before the 30-second waits.
    assert time.monotonic() - started < 10
    assert svc.error() == "100102"
    assert "Error querying OCSP responder" in svc.read_output()
