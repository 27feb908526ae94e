# The fixtures live in tests/fixtures/cert_service.py so that any test folder
# can use them; signing tests import them from here too.
from fixtures.cert_service import CertService, cert_service, pki  # noqa: F401
