"""A certificate whose key turns out to be missing only after login.

A token that hides its private objects until login and holds no public-key
objects cannot tell before login whether a certificate's key is on it, so its
certificates are listed. Signing with one whose key is not there must ask the
PIN once, then fail as a key that cannot be acquired, and the chooser must
stop listing the certificate once the token is logged in."""
import subprocess

import pytest

from conftest import b64
from fixtures.pki import USER_PIN

PROBE_TOKEN = "SealDesk Probe"

FIELDS = {
    "/signHash": {"HashVal": "11" * 20},
    "/signPKCS7Hash": {"HashVal": "11" * 20},
    "/DCSigner": {"HashVal": "11" * 20},
    "/signPKCS1": {"inData": b64(b"abc")},
    "/Sign": {"inData": b64(b"abc")},
}


@pytest.fixture(scope="module")
def probe(pki):
    """A token with one private key (no public half) and the key-less
    certificate under another CKA_ID."""
    pki.make_softhsm_token(PROBE_TOKEN)
    key_der = pki.root / "probe-key.der"
    subprocess.run(["openssl", "pkey", "-in", pki.certs["vn"].key, "-outform", "DER", "-out", key_der], check=True)
    pki._pkcs11_tool("--token-label", PROBE_TOKEN, "--login", "--pin", USER_PIN, "--write-object", key_der,
                     "--type", "privkey", "--id", "e0", "--label", "probe key", "--private", "--usage-sign")
    nokey = pki.certs["nokey"]
    cert_der = pki.root / "probe-cert.der"
    cert_der.write_bytes(nokey.der)
    pki._pkcs11_tool("--token-label", PROBE_TOKEN, "--login", "--pin", USER_PIN, "--write-object", cert_der,
                     "--type", "cert", "--id", "e1", "--label", "probe cert")
    yield nokey
    pki.delete_token(PROBE_TOKEN)


@pytest.mark.parametrize("path", FIELDS)
def test_key_missing_after_login_asks_the_pin_once_and_fails_as_no_key(probe, signer, path):
    svc, nokey = signer, probe
    session = svc.session()
    assert svc.pick(nokey, session) == nokey.b64
    svc.clear_log()
    # Enough right answers for every prompt a faulty store might show.
    svc.answer(*[f"pin {USER_PIN}"] * 5)
    assert svc.text(path, dict(FIELDS[path], sessionID=session)) is None
    assert svc.error() == "100201"
    assert svc.dialog_log() == [f"pin {PROBE_TOKEN}"]

    # Logged in now: the token shows its keys and the certificate is gone
    # from the chooser.
    svc.clear_log()
    svc.answer("cancel")
    assert svc.text("/getCertificate", {"sessionID": session}) is None
    chooser = [line for line in svc.dialog_log() if line.startswith("certificate")]
    assert len(chooser) == 1 and nokey.thumbprint not in chooser[0]
