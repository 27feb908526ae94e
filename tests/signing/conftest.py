"""Signing tests: the certificate tests' service with the test PKI on software
tokens and scripted dialogs, plus the independent verifiers (the openssl
command, Python's cryptography) that every signature is checked with."""
import base64
import hashlib
import subprocess

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import padding, utils

from certificates.conftest import CertService, cert_service, pki  # noqa: F401  (fixtures)
from fixtures.pki import USER_PIN

HASHES = {"1": (hashlib.md5, hashes.MD5), "2": (hashlib.sha256, hashes.SHA256), "": (hashlib.sha1, hashes.SHA1)}


def hash_kind(hash_opt):
    """(hashlib constructor, cryptography algorithm) that HashOpt selects."""
    return HASHES.get(hash_opt, HASHES[""])


def b64(data: bytes) -> str:
    return base64.b64encode(data).decode()


def verify_raw_pkcs1(cert_der: bytes, signature: bytes, digest: bytes, algorithm) -> None:
    """Raises unless `signature` is the certificate key's PKCS#1 v1.5
    signature over the DigestInfo of `digest` (a hash of `algorithm`)."""
    public_key = x509.load_der_x509_certificate(cert_der).public_key()
    public_key.verify(signature, digest, padding.PKCS1v15(), utils.Prehashed(algorithm()))


def openssl(*args, input=None, check=True):
    proc = subprocess.run(["openssl", *map(str, args)], input=input, capture_output=True)
    if check and proc.returncode != 0:
        raise AssertionError(f"openssl {' '.join(map(str, args))}: {proc.stderr.decode(errors='replace')}")
    return proc


def cms_verify(tmp_path, pki, message: bytes, content: bytes | None = None):
    """`openssl cms -verify` of a DER message against the test CA; with
    `content` as the detached content. Returns the completed process."""
    msg = tmp_path / "message.der"
    msg.write_bytes(message)
    out = tmp_path / "content.out"
    args = ["cms", "-verify", "-inform", "DER", "-in", msg, "-binary", "-CAfile", pki.ca_pem,
            "-purpose", "any", "-out", out]
    if content is not None:
        data = tmp_path / "content.in"
        data.write_bytes(content)
        args += ["-content", data]
    proc = openssl(*args, check=False)
    proc.content = out.read_bytes() if out.exists() else None
    return proc


def cms_print(message: bytes) -> str:
    """The message's structure as `openssl cms -cmsout -print` shows it."""
    return openssl("cms", "-cmsout", "-print", "-inform", "DER", input=message).stdout.decode()


class SigningService(CertService):
    """CertService with the steps every signing test takes."""

    def chooser_count(self):
        return sum(1 for line in self.dialog_log() if line.split(" ")[0] == "certificate")

    def ready(self, cert):
        """Picks `cert` and logs in to its token once, so that later signing
        asks nothing. Returns a valid session."""
        session = self.session()
        assert self.pick(cert, session) == cert.b64
        self.answer(f"pin {USER_PIN}")
        assert self.text("/signHash", {"HashVal": "00" * 20, "sessionID": session}) is not None, self.error()
        self.answer()
        return session


@pytest.fixture
def signer(cert_service):
    return SigningService(cert_service.service, cert_service.folder)
