#!/usr/bin/env bash
# Makes the service's TLS identity in FOLDER when it has none: a certificate
# for 127.0.0.1 and localhost and its private key, encrypted with the password
# the service opens it with.
set -euo pipefail
folder=${1:?usage: make-server-cert.sh FOLDER}
if [ -f "$folder/server.crt" ] && [ -f "$folder/server.key" ]; then
  exit 0
fi
mkdir -p "$folder"
openssl req -x509 -newkey rsa:2048 -sha256 -days 825 \
  -subj "/CN=127.0.0.1/O=SealDesk local service" \
  -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
  -addext "basicConstraints=critical,CA:FALSE" \
  -addext "extendedKeyUsage=serverAuth" \
  -keyout "$folder/server.key" -out "$folder/server.crt" \
  -passout pass:velocamber 2>/dev/null
chmod 600 "$folder/server.key"
echo "made $folder/server.crt (trust it in your browser to use https://127.0.0.1:14407)" >&2
