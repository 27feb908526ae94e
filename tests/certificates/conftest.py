from fixtures.cert_service import cert_service, pki  # noqa: F401
