#!/usr/bin/env bash
# A demo software token for machines without a real one.
#
# Prints, for `eval`, the environment the service needs to see the demo token:
#   eval "$(scripts/demo-token.sh)"; exec build/app/bin/sealdesk ...
#
# - When the demo token was made before, it is registered again (the lines
#   below are printed) whatever else is plugged in.
# - Otherwise, when p11-kit already lists an initialised token (other than
#   its trust store), nothing is made and nothing is printed.
# - Otherwise a SoftHSM2 token "SealDesk Demo" (user PIN 1234) is made in
#   ~/.local/share/sealdesk/demo-token with a self-signed RSA-2048 demo
#   certificate and its key, and registered under the provider name
#   "Darvolk Group CSP", which the certificate chooser accepts.
#
# Registration: SOFTHSM2_CONF points SoftHSM2 at the demo token folder. For a
# normal user the module file goes to ~/.config/pkcs11/modules/ (p11-kit's
# per-user registry). p11-kit never reads a per-user registry for root, so for
# root the module file stays in the demo folder and SEALDESK_PKCS11_MODULES
# names that folder: the service reads module files there too.
set -euo pipefail

softhsm=/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so
home=${HOME:-/root}
dir="$home/.local/share/sealdesk/demo-token"
label="SealDesk Demo"
pin=1234
provider="Darvolk Group CSP"

have_real_token() {
  command -v p11-kit >/dev/null || return 1
  p11-kit list-modules 2>/dev/null | awk '
    /^[^ \t]/ { module = $1 }
    /token-initialized/ && module != "p11-kit-trust:" { found = 1 }
    END { exit !found }'
}

registration() {
  printf 'export SOFTHSM2_CONF=%q\n' "$dir/softhsm2.conf"
  if [ "$(id -u)" -eq 0 ]; then
    printf 'export SEALDESK_PKCS11_MODULES=%q\n' "$dir/modules"
  else
    mkdir -p "$home/.config/pkcs11/modules"
    cp "$dir/modules/sealdesk-demo.module" "$home/.config/pkcs11/modules/sealdesk-demo.module"
  fi
}

if [ -f "$dir/ready" ]; then
  registration
  exit 0
fi
if have_real_token; then
  exit 0
fi
if [ ! -f "$softhsm" ] || ! command -v softhsm2-util >/dev/null || ! command -v pkcs11-tool >/dev/null; then
  echo "demo-token: softhsm2 and opensc are needed for the demo token" >&2
  exit 0
fi

rm -rf "$dir"
mkdir -p "$dir/tokens" "$dir/modules"
chmod 700 "$dir"
cat > "$dir/softhsm2.conf" <<EOF
directories.tokendir = $dir/tokens
objectstore.backend = file
log.level = ERROR
slots.removable = false
EOF
# Highest priority, so that this registration of the SoftHSM2 library comes
# before the system's own (the service opens each library once).
cat > "$dir/modules/sealdesk-demo.module" <<EOF
module: $softhsm
x-provider-name: $provider
priority: 100
EOF
export SOFTHSM2_CONF="$dir/softhsm2.conf"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -utf8 \
  -subj "/C=VN/O=SealDesk Demo/CN=SealDesk Demo User" \
  -addext "keyUsage=critical,digitalSignature,nonRepudiation" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$work/key.pem" -out "$work/key.p8"
openssl x509 -in "$work/cert.pem" -outform DER -out "$work/cert.der"
softhsm2-util --init-token --free --label "$label" --so-pin 12345678 --pin "$pin" >/dev/null
softhsm2-util --import "$work/key.p8" --token "$label" --label demo --id 01 --pin "$pin" >/dev/null
pkcs11-tool --module "$softhsm" --token-label "$label" --login --pin "$pin" \
  --write-object "$work/cert.der" --type cert --id 01 --label demo >/dev/null 2>&1
touch "$dir/ready"
echo "demo-token: made the demo token \"$label\" (PIN $pin) in $dir" >&2
registration
