"""A service with the test PKI: software tokens in a private p11-kit registry,
CAInfo.cfg beside the program, OCSP responders on loopback, and the scripted
dialogs (the build must have SEALDESK_SCRIPTED_DIALOGS on)."""
from pathlib import Path

import pytest

BOM = b"\xef\xbb\xbf"
from fixtures.pki import Pki


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    pki = Pki.create(tmp_path_factory.mktemp("pki"))
    pki.install_registry()
    pki.start_responders()
    yield pki
    pki.close()


class CertService:
    """The running service plus its dialog script and log."""

    def __init__(self, service, folder: Path):
        self.service = service
        self.folder = folder
        self.script = folder / "dialog-script.txt"
        self.log = folder / "dialog-log.txt"

    def __getattr__(self, name):
        return getattr(self.service, name)

    def answer(self, *lines):
        """Answers of the next dialogs, one line each."""
        self.script.write_text("".join(line + "\n" for line in lines))

    def dialog_log(self):
        return self.log.read_text().splitlines() if self.log.exists() else []

    def clear_log(self):
        self.log.write_text("")

    def text(self, path, fields=None):
        """POSTs; returns the answer without its mark, or None for an empty body."""
        body = self.service.call(path, fields)
        if body == b"":
            return None
        assert body.startswith(BOM), body
        return body[len(BOM):].decode()

    def session(self):
        return self.text("/getSession")

    def error(self):
        return self.text("/getLastErr")

    def pick(self, cert, session=None):
        """Picks `cert` in the chooser through "/getCertificate"."""
        self.answer(f"certificate {cert.thumbprint}")
        return self.text("/getCertificate", {"sessionID": session or self.session()})


@pytest.fixture
def cert_service(pki, program_folder, service_factory):
    (program_folder / "CAInfo.cfg").write_text(pki.ca_info_text(), newline="")
    env = dict(pki.env())
    env["SEALDESK_DIALOG_SCRIPT"] = str(program_folder / "dialog-script.txt")
    env["SEALDESK_DIALOG_LOG"] = str(program_folder / "dialog-log.txt")
    (program_folder / "dialog-script.txt").write_text("")
    # Dates are shown in local time: a UTC+7 zone makes that visible.
    env["TZ"] = "Asia/Ho_Chi_Minh"
    service = service_factory(env=env).start()
    return CertService(service, program_folder)
