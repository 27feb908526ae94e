""""/Sign" and "/Verify" through the real service, the software token and the
scripted dialogs; every message is checked with `openssl cms`."""
import base64
import re
from types import SimpleNamespace

import pytest

from conftest import b64, cms_print, cms_verify, openssl
from fixtures.pki import USER_PIN

TEXT = "Xin chào, Việt Nam"  # not only ASCII: the content is UTF-16LE


def utf16(text):
    return text.encode("utf-16-le")


def test_sign_selects_signs_the_utf16le_text_and_carries_it(signer, pki, tmp_path):
    svc, vn = signer, pki.certs["vn"]
    session = svc.session()
    # No selection yet: "/Sign" shows the chooser, then the token's PIN prompt.
    svc.answer(f"certificate {vn.thumbprint}", f"pin {USER_PIN}")
    answer = svc.text("/Sign", {"inData": b64(b"abc"), "sessionID": session})
    assert answer is not None, svc.error()
    assert re.fullmatch(r"[A-Za-z0-9+/]+=*", answer)
    assert [line.split(" ")[0] for line in svc.dialog_log()] == ["certificate", "pin"]

    message = base64.b64decode(answer)
    checked = cms_verify(tmp_path, pki, message)
    assert checked.returncode == 0, checked.stderr
    assert checked.content == b"a\x00b\x00c\x00"
    shown = cms_print(message)
    assert shown.count("signerInfos:") == 1 and "algorithm: sha1 " in shown
    assert "object: signingTime" in shown
    # The signer's certificate is in the message, the only one.
    assert shown.count("cert_info:") == 1 and "CN=Nguy" in shown

    # Signing again uses the selection and the login: no dialog.
    svc.clear_log()
    answer = svc.text("/Sign", {"inData": b64(TEXT.encode()), "sessionID": session})
    checked = cms_verify(tmp_path, pki, base64.b64decode(answer))
    assert checked.returncode == 0 and checked.content == utf16(TEXT)
    assert svc.dialog_log() == []


@pytest.mark.parametrize("in_data, code", [
    ("not base64!", "100200"),
    (b64(b"\xff\xfe bad UTF-8"), "100200"),  # not UTF-8 inside: a code, not an escaped exception
])
def test_sign_refuses_bad_content_before_any_dialog(signer, in_data, code):
    svc = signer
    assert svc.text("/Sign", {"inData": in_data, "sessionID": svc.session()}) is None
    assert svc.error() == code
    assert svc.dialog_log() == []


@pytest.mark.parametrize("script, code", [
    (["cancel"], "100201"),                            # nothing picked
    (["cancel", "cancel"], "100201"),                  # nor on the second chance
    (["certificate {vn}", "cancel"], "100203"),        # PIN prompt cancelled
    (["certificate {vn}", "pin 000000", "cancel"], "100203"),  # wrong PIN, then cancelled
])
def test_sign_failures_after_the_selection_step(signer, pki, script, code):
    svc = signer
    svc.answer(*[line.format(vn=pki.certs["vn"].thumbprint) for line in script])
    assert svc.text("/Sign", {"inData": b64(b"abc"), "sessionID": svc.session()}) is None
    assert svc.error() == code


def test_sign_works_again_after_a_cancelled_pin(signer, pki, tmp_path):
    svc, vn = signer, pki.certs["vn"]
    session = svc.session()
    svc.answer(f"certificate {vn.thumbprint}", "cancel")
    assert svc.text("/Sign", {"inData": b64(b"abc"), "sessionID": session}) is None
    assert svc.error() == "100203"
    svc.answer(f"pin {USER_PIN}")
    answer = svc.text("/Sign", {"inData": b64(b"abc"), "sessionID": session})
    assert cms_verify(tmp_path, pki, base64.b64decode(answer)).returncode == 0


def test_wrong_pin_is_asked_again_and_the_right_one_signs(signer, pki, tmp_path):
    svc, vn = signer, pki.certs["vn"]
    svc.answer(f"certificate {vn.thumbprint}", "pin 000000", f"pin {USER_PIN}")
    answer = svc.text("/Sign", {"inData": b64(b"abc"), "sessionID": svc.session()})
    assert answer is not None, svc.error()
    assert cms_verify(tmp_path, pki, base64.b64decode(answer)).returncode == 0
    assert [line.split(" ")[0] for line in svc.dialog_log()] == ["certificate", "pin", "pin"]


def detached_signature(tmp_path, cert, content: bytes, *extra) -> str:
    """A detached signature made by openssl with the certificate's key file."""
    data = tmp_path / "signed.bin"
    data.write_bytes(content)
    out = tmp_path / "detached.der"
    openssl("cms", "-sign", "-binary", "-in", data, "-signer", cert.pem, "-inkey", cert.key, "-md", "sha256",
            "-outform", "DER", "-out", out, *extra)
    return b64(out.read_bytes())


def test_verify_answers_text_and_signer_and_leaves_it_as_last_error(signer, pki, tmp_path):
    svc, vn = signer, pki.certs["vn"]
    session = svc.session()
    signature = detached_signature(tmp_path, vn, utf16(TEXT))
    answer = svc.text("/Verify", {"signature": signature, "inData": b64(TEXT.encode()), "sessionID": session})
    # Dates in one-space form, local time (the service runs at UTC+7).
    assert answer == "#".join([TEXT, "0a1b", "CN=Nguyễn Văn A", "01/01/2024 00:30", "12/31/2045 07:00", vn.b64])
    assert svc.error() == answer
    # Neither needs nor touches the selection.
    assert svc.dialog_log() == []

    # The message "/Sign" makes verifies too, against the same text.
    session = svc.ready(vn)
    signed = svc.text("/Sign", {"inData": b64(b"abc"), "sessionID": session})
    answer = svc.text("/Verify", {"signature": signed, "inData": b64(b"abc"), "sessionID": session})
    assert answer.startswith("abc#0a1b#CN=Nguyễn Văn A#")


def test_verify_failures(signer, pki, tmp_path):
    svc, vn = signer, pki.certs["vn"]
    session = svc.session()
    signature = detached_signature(tmp_path, vn, utf16(TEXT))
    tampered = TEXT[:-1] + "x"
    no_name = tmp_path / "noname"
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/C=VN", "-days", "5",
            "-keyout", no_name.with_suffix(".key"), "-out", no_name.with_suffix(".pem"))
    nameless = SimpleNamespace(pem=no_name.with_suffix(".pem"), key=no_name.with_suffix(".key"))
    cases = [
        # fields, code
        ({"signature": signature, "inData": b64(tampered.encode())}, "100302"),
        ({"signature": signature, "inData": b64(TEXT.encode()), "sessionID": "0" * 32}, "100303"),
        ({"signature": signature, "inData": "***"}, "100300"),
        ({"signature": signature, "inData": b64(b"\xc3")}, "100300"),
        ({"signature": b64(b"not a message"), "inData": b64(TEXT.encode())}, "100302"),
        ({"signature": "", "inData": b64(TEXT.encode())}, "100302"),
        # A message that carries other content is checked against inData.
        ({"signature": detached_signature(tmp_path, vn, utf16(tampered), "-nodetach"),
          "inData": b64(TEXT.encode())}, "100302"),
        # The signer's certificate has no name to show.
        ({"signature": detached_signature(tmp_path, nameless, utf16(TEXT)), "inData": b64(TEXT.encode())},
         "100301"),
    ]
    for fields, code in cases:
        fields.setdefault("sessionID", session)
        assert svc.text("/Verify", fields) is None, fields
        assert svc.error() == code, fields


def test_verify_with_a_signature_that_is_not_base64_is_a_toolkit_error(signer, pki):
    svc = signer
    svc.text("/Verify", {"signature": "x", "inData": "", "sessionID": "wrong"})
    assert svc.error() == "100303"
    response = svc.post("/Verify", {"signature": "#####", "inData": b64(b"abc"), "sessionID": svc.session()})
    assert response.status == 404 and response.body == b""
    assert svc.error() == "100303"  # left as it was


def test_wrong_session_in_sign_drops_the_selection(signer, pki, tmp_path):
    svc, vn = signer, pki.certs["vn"]
    session = svc.ready(vn)
    svc.clear_log()
    assert svc.text("/Sign", {"inData": b64(b"abc"), "sessionID": session.upper()}) is None
    assert svc.error() == "100205"
    assert svc.text("/getCertCN") == ""
    svc.answer(f"certificate {vn.thumbprint}")
    answer = svc.text("/Sign", {"inData": b64(b"abc"), "sessionID": session})
    assert cms_verify(tmp_path, pki, base64.b64decode(answer)).returncode == 0
    assert svc.chooser_count() == 1
