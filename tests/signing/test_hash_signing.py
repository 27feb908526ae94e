""""/signHash", "/signPKCS7Hash", "/signPKCS1" and "/DCSigner" through the real
service, the software token and the scripted dialogs. Raw signatures are
checked with Python's cryptography, PKCS#7 messages with `openssl cms`."""
import base64
import hashlib
import json
import os
import time

import pytest

from conftest import b64, cms_print, cms_verify, hash_kind, verify_raw_pkcs1
from fixtures.pki import USER_PIN

DATA = os.urandom(1000)

# HashOpt, HashVal as sent (None: the digest of DATA for that option), the
# digest that is signed (None: the same).
ACCEPTED = [
    ("2", None, None),
    ("1", None, None),
    ("", None, None),
    ("3", None, None),
    ("01", None, None),
    ("2", hashlib.sha256(DATA).hexdigest().upper() + "7", hashlib.sha256(DATA).digest()),  # odd last char ignored
]


def hash_value(hash_opt, hash_val):
    digest = hash_kind(hash_opt)[0](DATA).digest()
    return (hash_val or digest.hex()), digest


@pytest.mark.parametrize("hash_opt, hash_val, signed", ACCEPTED)
def test_sign_hash_gives_a_pkcs1_signature_over_the_given_digest(signer, pki, hash_opt, hash_val, signed):
    svc, vn = signer, pki.certs["vn"]
    session = svc.ready(vn)
    hash_val, digest = hash_value(hash_opt, hash_val)
    answer = svc.text("/signHash", {"HashOpt": hash_opt, "HashVal": hash_val, "sessionID": session})
    assert answer is not None, svc.error()
    signature = base64.b64decode(answer)
    assert len(signature) == 256
    verify_raw_pkcs1(vn.der, signature, signed or digest, hash_kind(hash_opt)[1])


@pytest.mark.parametrize("path", ["/signHash", "/signPKCS7Hash", "/DCSigner"])
def test_malformed_hash_values_fail_before_any_dialog(signer, path):
    svc = signer
    session = svc.session()
    cases = [
        ("2", "ab" * 20, "100200"),     # 40 characters for SHA-256
        ("", "ab" * 32, "100200"),      # 64 characters for SHA-1
        ("1", "ab" * 20, "100200"),
        ("2", "", "100200"),
        ("2", "a" * 101, "100204"),     # too long whatever HashOpt says
        ("", "a" * 101, "100204"),
    ]
    for hash_opt, hash_val, code in cases:
        assert svc.text(path, {"HashOpt": hash_opt, "HashVal": hash_val, "sessionID": session}) is None
        assert svc.error() == code, (hash_opt, hash_val)
    assert svc.dialog_log() == []


SESSION_PATHS = {
    "/Sign": {"inData": b64(b"abc")},
    "/signHash": {"HashVal": "11" * 20},
    "/signPKCS7Hash": {"HashVal": "11" * 20},
    "/signPKCS1": {"inData": b64(b"abc")},
    "/DCSigner": {"HashVal": "11" * 20},
}


@pytest.mark.parametrize("path", SESSION_PATHS)
def test_wrong_session_drops_the_selection_and_the_next_call_asks_again(signer, pki, path):
    svc, vn = signer, pki.certs["vn"]
    session = svc.ready(vn)
    svc.clear_log()
    for bad in ("", session.upper(), session[:-1]):
        assert svc.text(path, dict(SESSION_PATHS[path], sessionID=bad)) is None
        assert svc.error() == "100205"
    assert svc.text("/getCertSNB") == ""
    assert svc.dialog_log() == []
    svc.answer(f"certificate {vn.thumbprint}")
    assert svc.text(path, dict(SESSION_PATHS[path], sessionID=session)) is not None, svc.error()
    assert svc.chooser_count() == 1


@pytest.mark.parametrize("path", ["/signHash", "/signPKCS7Hash", "/signPKCS1", "/DCSigner"])
def test_chooser_and_pin_failures(signer, pki, path):
    svc, vn = signer, pki.certs["vn"]
    session = svc.session()
    fields = dict(SESSION_PATHS[path], sessionID=session)
    # "/signPKCS1" reports every provider failure, a cancelled PIN included, as 100200.
    pin_code = "100200" if path == "/signPKCS1" else "100203"
    for script, code in ((["cancel", "cancel"], "100201"), ([f"certificate {vn.thumbprint}", "cancel"], pin_code)):
        svc.answer(*script)
        assert svc.text(path, fields) is None
        assert svc.error() == code, script
    # The token is still usable after the cancelled prompt.
    svc.answer(f"pin {USER_PIN}")
    assert svc.text(path, fields) is not None, svc.error()


def test_signing_with_a_certificate_whose_token_is_gone(signer, pki):
    svc, spare = signer, pki.certs["spare"]
    session = svc.ready(spare)
    pki.delete_token("SealDesk Spare")
    try:
        svc.answer("cancel")
        assert svc.text("/signHash", {"HashVal": "11" * 20, "sessionID": session}) is None
        assert svc.error() == "100201"
    finally:
        pki.make_softhsm_token("SealDesk Spare")
        pki.load_into_softhsm(spare, "f0")


@pytest.mark.parametrize("hash_opt", ["1", "2", ""])
def test_sign_pkcs7_hash_is_a_detached_signeddata_that_openssl_verifies(signer, pki, tmp_path, hash_opt):
    svc, vn = signer, pki.certs["vn"]
    session = svc.ready(vn)
    hash_val, _ = hash_value(hash_opt, None)
    answer = svc.text("/signPKCS7Hash", {"HashOpt": hash_opt, "HashVal": hash_val, "sessionID": session})
    assert answer is not None, svc.error()
    message = base64.b64decode(answer)
    checked = cms_verify(tmp_path, pki, message, DATA)
    assert checked.returncode == 0, checked.stderr
    assert cms_verify(tmp_path, pki, message, DATA[:-1] + b"?").returncode != 0

    shown = cms_print(message)
    assert "eContentType: pkcs7-data" in shown and "eContent: <ABSENT>" in shown
    assert shown.count("cert_info:") == 1 and shown.count("d.issuerAndSerialNumber:") == 1
    attributes = shown.split("signedAttrs:")[1].split("signatureAlgorithm:")[0]
    assert sorted(line.split()[1] for line in attributes.splitlines() if "object:" in line) == \
        ["contentType", "messageDigest", "signingTime"]
    assert "UTCTIME:" in attributes
    assert "algorithm: rsaEncryption" in shown


def test_sign_pkcs1_signs_the_bytes_as_they_are_with_sha1(signer, pki):
    svc, vn = signer, pki.certs["vn"]
    session = svc.ready(vn)
    for data in (b"\xff\x00 not text \x80", b""):
        answer = svc.text("/signPKCS1", {"inData": b64(data), "sessionID": session})
        assert answer is not None, svc.error()
        signature = base64.b64decode(answer)
        assert len(signature) == 256
        verify_raw_pkcs1(vn.der, signature, hashlib.sha1(data).digest(), hash_kind("")[1])
    assert svc.text("/signPKCS1", {"inData": "!!", "sessionID": session}) is None
    assert svc.error() == "100200"


def dc_signer(svc, session, hash_opt, hash_val):
    body = svc.call("/DCSigner", {"HashOpt": hash_opt, "HashVal": hash_val, "sessionID": session})
    assert body.startswith(b"\xef\xbb\xbf"), svc.error()
    text = body[3:].decode()
    assert " " not in text and "\n" not in text
    return text, json.loads(text)


def test_dc_signer_answers_signature_certificate_thumbprint_and_time(signer, pki):
    svc, vn = signer, pki.certs["vn"]
    session = svc.ready(vn)
    hash_val, digest = hash_value("2", None)
    before = time.gmtime(time.time() - 2)
    text, answer = dc_signer(svc, session, "2", hash_val)
    after = time.gmtime(time.time() + 2)
    assert list(answer) == ["DataToBeSigned", "PKCS1Signature", "SignedCertificate", "SignedThumbprint",
                            "TimeStamping"]
    assert text.startswith('{"DataToBeSigned":"') and text.endswith('"}')
    assert answer["DataToBeSigned"] == hash_val
    signature = base64.b64decode(answer["PKCS1Signature"])
    assert len(signature) == 256
    verify_raw_pkcs1(base64.b64decode(answer["SignedCertificate"]), signature, digest, hash_kind("2")[1])
    assert answer["SignedCertificate"] == vn.b64
    assert answer["SignedThumbprint"] == vn.thumbprint
    stamp = answer["TimeStamping"]
    assert len(stamp) == 14 and time.strftime("%Y%m%d%H%M%S", before) <= stamp <= time.strftime("%Y%m%d%H%M%S", after)


def test_dc_signer_echoes_the_hash_value_as_received(signer, pki):
    svc, vn = signer, pki.certs["vn"]
    session = svc.ready(vn)
    # 41 characters with SHA-1: accepted, all 41 echoed.
    hash_val = "Ab" * 20 + "c"
    _, answer = dc_signer(svc, session, "", hash_val)
    assert answer["DataToBeSigned"] == hash_val
    verify_raw_pkcs1(vn.der, base64.b64decode(answer["PKCS1Signature"]), bytes.fromhex(hash_val[:40]),
                     hash_kind("")[1])
    # Only the count of characters matters for the length check; the quote
    # and backslash come back escaped.
    hash_val = '"\\' + "0" * 38
    text, answer = dc_signer(svc, session, "", hash_val)
    assert text.startswith('{"DataToBeSigned":"\\"\\\\000')
    assert answer["DataToBeSigned"] == hash_val
