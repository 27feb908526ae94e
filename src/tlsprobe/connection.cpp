// One connection of tlsprobe: the TLS socket, its callbacks, the
// request and the reading of the answer.
#include "probe.h"

#include <cert.h>
#include <certdb.h>
#include <keyhi.h>
#include <nss.h>
#include <pk11pub.h>
#include <prerror.h>
#include <prnetdb.h>
#include <secerr.h>
#include <secport.h>
#include <ssl.h>
#include <sslerr.h>
#include <sslproto.h>

#include <cstdio>

namespace tlsprobe {
namespace {

// Server authentication: verify the peer's certificate against the database now
// and, in the client role, its name against the host name set on the socket.
SECStatus my_auth_certificate(void *arg, PRFileDesc *socket, PRBool check_sig, PRBool is_server) {
  if (!arg || !socket) {
    err_warn("myAuthCertificate");
    return SECFailure;
  }
  const SECCertUsage usage = is_server ? certUsageSSLClient : certUsageSSLServer;
  CERTCertificate *cert = SSL_PeerCertificate(socket);
  if (!cert) {
    PORT_SetError(SSL_ERROR_NO_CERTIFICATE);
    return SECFailure;
  }
  void *pin_arg = SSL_RevealPinArg(socket);
  SECStatus status = CERT_VerifyCertNow(static_cast<CERTCertDBHandle *>(arg), cert, check_sig,
                                        usage, pin_arg);
  if (is_server || status != SECSuccess) {
    CERT_DestroyCertificate(cert);
    return status;
  }
  char *host_name = SSL_RevealURL(socket);
  if (host_name && host_name[0]) {
    status = CERT_VerifyCertName(cert, host_name);
  } else {
    PR_SetError(SSL_ERROR_BAD_CERT_DOMAIN, 0);
    status = SECFailure;
  }
  if (host_name) {
    PR_Free(host_name);
  }
  CERT_DestroyCertificate(cert);
  return status;
}

// Bad certificate: installed without an argument, so it refuses at once.
SECStatus my_bad_cert_handler(void *arg, PRFileDesc *socket) {
  if (!arg) {
    return SECFailure;
  }
  *static_cast<PRErrorCode *>(arg) = PORT_GetError();
  return SECFailure;
}

// Client certificate request: the certificate named by -n, or else the first
// user certificate that is valid now, chains to a CA the server named and has
// its private key.
SECStatus my_get_client_auth_data(void *arg, PRFileDesc *socket, CERTDistNames *ca_names,
                                  CERTCertificate **ret_cert, SECKEYPrivateKey **ret_key) {
  const char *nickname = static_cast<const char *>(arg);
  void *pin_arg = SSL_RevealPinArg(socket);
  CERTCertificate *cert = nullptr;
  SECKEYPrivateKey *key = nullptr;

  if (nickname) {
    cert = PK11_FindCertFromNickname(nickname, pin_arg);
    if (cert) {
      key = PK11_FindKeyByAnyCert(cert, pin_arg);
      if (!key) {
        CERT_DestroyCertificate(cert);
        cert = nullptr;
      }
    }
  } else {
    CERTCertNicknames *names =
        CERT_GetCertNicknames(CERT_GetDefaultCertDB(), SEC_CERT_NICKNAMES_USER, pin_arg);
    if (names) {
      for (int i = 0; i < names->numnicknames && !key; ++i) {
        cert = PK11_FindCertFromNickname(names->nicknames[i], pin_arg);
        if (!cert) {
          continue;
        }
        if (CERT_CheckCertValidTimes(cert, PR_Now(), PR_FALSE) == secCertTimeValid &&
            NSS_CmpCertChainWCANames(cert, ca_names) == SECSuccess) {
          key = PK11_FindKeyByAnyCert(cert, pin_arg);
        }
        if (!key) {
          CERT_DestroyCertificate(cert);
          cert = nullptr;
        }
      }
      CERT_FreeNicknames(names);
    }
  }
  if (!cert || !key) {
    return SECFailure;
  }
  *ret_cert = cert;
  *ret_key = key;
  return SECSuccess;
}

void my_handshake_callback(PRFileDesc *socket, void *arg) {
  std::printf("Handshake has completed, ready to send data securely.\n");
}

// The socket with the SSL layer, its options and its callbacks; null on failure
// (after the error line of the failing step).
PRFileDesc *setup_ssl_socket() {
  PRFileDesc *tcp_socket = PR_NewTCPSocket();
  if (!tcp_socket) {
    err_warn("PR_NewTCPSocket");
    return nullptr;
  }
  PRSocketOptionData option;
  option.option = PR_SockOpt_Nonblocking;
  option.value.non_blocking = PR_FALSE;
  if (PR_SetSocketOption(tcp_socket, &option) != PR_SUCCESS) {
    err_warn("PR_SetSocketOption");
    PR_Close(tcp_socket);
    return nullptr;
  }
  PRFileDesc *ssl_socket = SSL_ImportFD(nullptr, tcp_socket);
  if (!ssl_socket) {
    err_warn("SSL_ImportFD");
    PR_Close(tcp_socket);
    return nullptr;
  }
  const char *failed = nullptr;
  void *nickname = settings.nickname ? const_cast<char *>(settings.nickname->c_str()) : nullptr;
  if (SSL_OptionSet(ssl_socket, SSL_SECURITY, PR_TRUE) != SECSuccess) {
    failed = "SSL_OptionSet:SSL_SECURITY";
  } else if (SSL_OptionSet(ssl_socket, SSL_HANDSHAKE_AS_CLIENT, PR_TRUE) != SECSuccess) {
    failed = "SSL_OptionSet:SSL_HANDSHAKE_AS_CLIENT";
  } else if (SSL_GetClientAuthDataHook(ssl_socket, my_get_client_auth_data, nickname) !=
             SECSuccess) {
    failed = "SSL_GetClientAuthDataHook";
  } else if (SSL_AuthCertificateHook(ssl_socket, my_auth_certificate, CERT_GetDefaultCertDB()) !=
             SECSuccess) {
    failed = "SSL_AuthCertificateHook";
  } else if (SSL_BadCertHook(ssl_socket, my_bad_cert_handler, nullptr) != SECSuccess) {
    failed = "SSL_BadCertHook";
  } else if (SSL_HandshakeCallback(ssl_socket, my_handshake_callback, nullptr) != SECSuccess) {
    failed = "SSL_HandshakeCallback";
  }
  if (failed) {
    err_warn(failed);
    PR_Close(ssl_socket);
    return nullptr;
  }
  return ssl_socket;
}

const char *or_null(const char *text) { return text ? text : "(null)"; }

void print_security_info(PRFileDesc *socket) {
  SSL3Statistics *stats = SSL_GetStatistics();
  int on = 0;
  char *cipher = nullptr;
  int key_bits = 0;
  int secret_key_bits = 0;
  char *issuer = nullptr;
  char *subject = nullptr;
  if (SSL_SecurityStatus(socket, &on, &cipher, &key_bits, &secret_key_bits, &issuer, &subject) !=
      SECSuccess) {
    return;
  }
  std::printf(
      "bulk cipher %s, %d secret key bits, %d key bits, status: %d\n"
      "subject DN: %s\n"
      "issuer\tDN: %s\n",
      or_null(cipher), secret_key_bits, key_bits, on, or_null(subject), or_null(issuer));
  PORT_Free(cipher);
  PORT_Free(issuer);
  PORT_Free(subject);
  // The client's counters: NSS counts a client's resumptions where it handles
  // the ServerHello (hsh_*); the hch_* triple belongs to servers.
  std::printf("%ld cache hits; %ld cache misses, %ld cache not reusable\n",
              stats->hsh_sid_cache_hits, stats->hsh_sid_cache_misses,
              stats->hsh_sid_cache_not_ok);
}

SECStatus handle_connection(PRFileDesc *socket, int connection) {
  char *buffer = static_cast<char *>(PORT_Alloc(kReadBufferSize));
  if (!buffer) {
    exit_fatal("PORT_Alloc");
  }
  const PRInt32 written = PR_Write(socket, kRequest, sizeof kRequest - 1);
  if (written < 1) {
    err_warn("PR_Write");
    PORT_Free(buffer);
    return SECFailure;
  }
  int total = 0;
  for (;;) {
    const PRInt32 count = PR_Read(socket, buffer, kReadBufferSize);
    if (count < 0) {
      err_warn("PR_Read");
      break;
    }
    if (count == 0) {
      break;
    }
    total += count;
    // One progress line and its frame at a time, even with 32 threads reading;
    // the bytes are written as they came, all of them.
    flockfile(stderr);
    std::fprintf(stderr, "***** Connection %d read %d bytes (%d total).\n", connection, count, total);
    std::fputs("************\n", stderr);
    std::fwrite(buffer, 1, static_cast<size_t>(count), stderr);
    std::fputs("\n************\n", stderr);
    funlockfile(stderr);
  }
  print_security_info(socket);
  PORT_Free(buffer);
  std::fprintf(stderr, "***** Connection %d read %d bytes total.\n", connection, total);
  return SECSuccess;
}

}  // namespace

int do_connects(const PRNetAddr * /*addr*/, int connection) {
  PRFileDesc *socket = setup_ssl_socket();
  if (!socket) {
    err_warn("setupSSLSocket");
    return -1;
  }
  void *password = settings.password ? const_cast<char *>(settings.password->c_str()) : nullptr;
  if (SSL_SetPKCS11PinArg(socket, password) != SECSuccess) {
    err_warn("SSL_SetPKCS11PinArg");
    PR_Close(socket);
    return SECFailure;
  }
  if (SSL_SetURL(socket, settings.host->c_str()) != SECSuccess) {
    err_warn("SSL_SetURL");
    PR_Close(socket);
    return SECFailure;
  }

  char resolve_buffer[1024];
  PRHostEnt host_entry;
  if (PR_GetHostByName(settings.host->c_str(), resolve_buffer, sizeof resolve_buffer,
                       &host_entry) != PR_SUCCESS) {
    err_warn("PR_GetHostByName");
    PR_Close(socket);
    return -1;
  }
  PRNetAddr server_addr;
  if (PR_EnumerateHostEnt(0, &host_entry, settings.port, &server_addr) <= 0) {
    err_warn("PR_EnumerateHostEnt");
    PR_Close(socket);
    return -1;
  }

  if (PR_Connect(socket, &server_addr, PR_INTERVAL_NO_TIMEOUT) != PR_SUCCESS) {
    err_warn("PR_Connect");
    PR_Close(socket);
    return -1;
  }
  if (SSL_ResetHandshake(socket, PR_FALSE) != SECSuccess) {
    err_warn("SSL_ResetHandshake");
    if (PR_Close(socket) != PR_SUCCESS) {
      err_warn("PR_Close");
    }
    return SECFailure;
  }
  if (handle_connection(socket, connection) != SECSuccess) {
    err_warn("handle_connection");
    PR_Close(socket);
    return -1;
  }
  PR_Close(socket);
  return 0;
}

}  // namespace tlsprobe
