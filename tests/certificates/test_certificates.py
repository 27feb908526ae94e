"""Session, certificate selection and certificate texts through the real
service, software tokens and the scripted dialogs."""
import base64
import subprocess
import threading
import time

import pytest

BOM = b"\xef\xbb\xbf"

SIX_GETTERS = ["/getCertSNB", "/getCertCN", "/getCertDN", "/getCertIssuer", "/getCertValidDate",
               "/getCertExpireDate"]


def openssl_sha1(cert):
    out = subprocess.run(["openssl", "x509", "-in", str(cert.pem), "-noout", "-fingerprint", "-sha1"],
                         check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1].replace(":", "")


def getters(svc):
    return [svc.text(path) for path in SIX_GETTERS]


def offered(svc):
    """Thumbprints offered in the last chooser."""
    lines = [line for line in svc.dialog_log() if line.split(" ")[0] == "certificate"]
    return lines[-1].split(" ")[1:]


def test_fresh_service_has_no_texts_and_no_session(cert_service):
    svc = cert_service
    for path in SIX_GETTERS + ["/getLastErr"]:
        assert svc.call(path) == BOM
    for path in ("/getCertificate", "/getSignCert", "/getThumprint"):
        assert svc.text(path, {"sessionID": "0" * 32}) is None
        assert svc.error() == "100103"
    assert svc.dialog_log() == []


def test_session_token_form_and_checks(cert_service):
    svc = cert_service
    body = svc.call("/getSession", {"liblist": "abc"})
    assert len(body) == 35 and body.startswith(BOM)
    token = body[3:].decode()
    assert all(c in "0123456789abcdef" for c in token)
    # Two calls within one second give the same token (most of the time the
    # two requests fall in one second; retry until they do).
    for _ in range(5):
        a, b = svc.session(), svc.session()
        if a == b:
            break
    assert a == b
    for bad in (a.upper(), "", a[:-1], a + "0"):
        assert svc.text("/getThumprint", {"sessionID": bad}) is None
        assert svc.error() == "100103"
    # A good session without a selection: 100100.
    assert svc.text("/getThumprint", {"sessionID": a}) is None
    assert svc.error() == "100100"
    time.sleep(1.1)
    c = svc.session()
    assert c != a
    svc.call("/getLastErr")
    assert svc.text("/getSignCert", {"sessionID": a}) is None
    assert svc.error() == "100103"


def test_chooser_offers_only_accepted_valid_certificates_with_keys(cert_service, pki):
    svc = cert_service
    svc.answer("cancel")
    assert svc.text("/getCertificate", {"sessionID": svc.session()}) is None
    assert svc.error() == "100100"
    shown = set(offered(svc))
    certs = pki.certs
    for name in ("vn", "quoting", "revoked", "unknown", "oldkey", "https_only", "spare", "always"):
        assert certs[name].thumbprint in shown, name
    # expired, not yet valid, no key on the token, refused provider
    for name in ("expired", "notyet", "nokey", "refused"):
        assert certs[name].thumbprint not in shown, name
    assert len(shown) == 8
    # The module whose library does not exist was skipped with one line.
    assert svc.read_output().count("libnothing.so") >= 1


def test_pick_answers_certificate_and_fills_the_six_texts(cert_service, pki):
    svc = cert_service
    vn = pki.certs["vn"]
    session = svc.session()
    answer = svc.pick(vn, session)
    assert answer == vn.b64
    assert getters(svc) == [
        "0a1b",
        "Nguyễn Văn A",
        'CN=Nguyễn Văn A, OID.0.9.2342.19200300.100.1.1=MST:0101234567, '
        'O="Công ty TNHH Ánh Dương, Chi nhánh Hà Nội", S=Hà Nội, C=VN',
        "Darvolk Test CA",
        # 2023-12-31 17:30 UTC and 2045-12-31 00:00 UTC seen from UTC+7
        "01/01/2024  00:30",
        "12/31/2045  07:00",
    ]
    thumb = svc.call("/getThumprint", {"sessionID": session})
    assert len(thumb) == 43
    assert thumb[3:].decode() == openssl_sha1(vn)
    assert svc.text("/getSignCert", {"sessionID": session}) == answer
    assert base64.b64decode(answer) == vn.der
    assert offered(svc)  # the chooser was shown once
    # "/getSession" drops everything; the getters answer the mark alone.
    session = svc.session()
    assert [svc.call(p) for p in SIX_GETTERS] == [BOM] * 6
    assert svc.text("/getSignCert", {"sessionID": session}) is None
    assert svc.error() == "100100"


def test_multi_valued_rdn_quotes_and_leading_zero_serial(cert_service, pki):
    svc = cert_service
    assert svc.pick(pki.certs["quoting"]) == pki.certs["quoting"].b64
    serial, cn, dn, issuer, _, _ = getters(svc)
    assert serial == "008f01"
    assert cn == "Trần Thị B"
    assert dn == 'CN=Trần Thị B, OU=Kế toán + T=Trưởng phòng, O="Nhà sách ""Mới""", C=VN'
    # The bytes on the wire are UTF-8 after the mark.
    assert svc.call("/getCertCN") == BOM + "Trần Thị B".encode()


def test_wrong_session_still_drops_the_selection(cert_service, pki):
    svc = cert_service
    session = svc.session()
    svc.pick(pki.certs["vn"], session)
    svc.clear_log()
    assert svc.text("/getCertificate", {"sessionID": "nope"}) is None
    assert svc.error() == "100103"
    assert svc.dialog_log() == []  # no chooser without a session
    assert [svc.call(p) for p in SIX_GETTERS] == [BOM] * 6
    assert svc.text("/getSignCert", {"sessionID": session}) is None
    assert svc.error() == "100100"


@pytest.mark.parametrize("answer", ["cancel", "pin 1234", None, "certificate " + "0" * 40])
def test_nothing_picked_gives_100100(cert_service, answer):
    svc = cert_service
    session = svc.session()
    svc.answer(*([answer] if answer else []))
    assert svc.text("/getCertificate", {"sessionID": session}) is None
    assert svc.error() == "100100"
    assert [svc.call(p) for p in SIX_GETTERS] == [BOM] * 6


def test_pick_by_lower_case_thumbprint_and_first(cert_service, pki):
    svc = cert_service
    vn = pki.certs["vn"]
    svc.answer(f"certificate {vn.thumbprint.lower()}")
    assert svc.text("/getCertificate", {"sessionID": svc.session()}) == vn.b64
    svc.answer("certificate first")
    first = svc.text("/getCertificate", {"sessionID": svc.session()})
    assert base64.b64decode(first) in {c.der for c in pki.certs.values()}


def test_verification_time(cert_service, pki):
    svc = cert_service
    vn = pki.certs["vn"]
    session = svc.session()
    assert svc.text("/setTimeVerify", {"timeServer": "20240229235959", "sessionID": "bad"}) is None
    assert svc.error() == "101200"
    for bad in ("2020", "", "202402292359590"):
        assert svc.text("/setTimeVerify", {"timeServer": bad, "sessionID": session}) is None
        assert svc.error() == "101201"
    # Valid now, not yet valid on 1 January 2023: picked, then refused.
    assert svc.text("/setTimeVerify", {"timeServer": "20230101000000", "sessionID": session}) == "0"
    assert svc.error() == "0"
    assert svc.pick(vn, session) is None
    assert svc.error() == "100104"
    assert [svc.call(p) for p in SIX_GETTERS] == [BOM] * 6
    assert svc.text("/getSignCert", {"sessionID": session}) is None
    # One second before the start (UTC) still refused; the start itself passes.
    svc.call("/setTimeVerify", {"timeServer": "20231231172959", "sessionID": session})
    assert svc.pick(vn, session) is None and svc.error() == "100104"
    svc.call("/setTimeVerify", {"timeServer": "20231231173000", "sessionID": session})
    assert svc.pick(vn, session) == vn.b64
    # A time the platform cannot convert (month 0) leaves checks at now.
    assert svc.text("/setTimeVerify", {"timeServer": "2020AB2304033X", "sessionID": session}) == "0"
    assert svc.pick(vn, session) == vn.b64
    # "/getSession" forgets the verification time.
    svc.call("/setTimeVerify", {"timeServer": "20230101000000", "sessionID": session})
    assert svc.pick(vn, svc.session()) == vn.b64


def test_pages_racing_for_session_and_certificate(cert_service, pki):
    svc = cert_service
    vn = pki.certs["vn"]
    svc.answer(*[f"certificate {vn.thumbprint}"] * 200)
    failures = []

    def sessions():
        for _ in range(40):
            body = svc.call("/getSession")
            if len(body) != 35:
                failures.append(("session", body))

    def certificates():
        for _ in range(20):
            token = svc.session()
            body = svc.call("/getCertificate", {"sessionID": token})
            if body not in (b"", BOM + vn.b64.encode()):
                failures.append(("certificate", body))
            # Each text is whole: the certificate's or empty, never a mixture.
            if svc.call("/getCertCN") not in (BOM, BOM + "Nguyễn Văn A".encode()):
                failures.append(("cn", body))
            if svc.call("/getCertDN") not in (BOM, BOM + getters_dn(vn)):
                failures.append(("dn", body))

    threads = [threading.Thread(target=sessions), threading.Thread(target=certificates),
               threading.Thread(target=certificates)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
    assert svc.pick(vn) == vn.b64


def getters_dn(cert):
    assert cert.name == "vn"
    return ('CN=Nguyễn Văn A, OID.0.9.2342.19200300.100.1.1=MST:0101234567, '
            'O="Công ty TNHH Ánh Dương, Chi nhánh Hà Nội", S=Hà Nội, C=VN').encode()


def test_token_pulled_out_after_the_pick(cert_service, pki):
    """Runs last in this file: it deletes the spare token."""
    svc = cert_service
    spare = pki.certs["spare"]
    session = svc.session()
    assert svc.pick(spare, session) == spare.b64
    pki.delete_token("SealDesk Spare")
    # The selection is kept; reading it needs no token.
    assert svc.text("/getSignCert", {"sessionID": session}) == spare.b64
    # The next chooser no longer offers it, and picking it fails.
    assert svc.pick(spare, session) is None
    assert svc.error() == "100100"
    assert spare.thumbprint not in offered(svc)
    assert pki.certs["vn"].thumbprint in offered(svc)
