// tlsprobe: opens a number of TLS connections to a host, sends one
// HTTP/1.0 request on each and prints what comes back, with the negotiated
// security parameters and the client's session-cache statistics.
#include "probe.h"

#include <nss.h>
#include <pk11pub.h>
#include <plgetopt.h>
#include <prerror.h>
#include <prinit.h>
#include <prnetdb.h>
#include <secport.h>
#include <ssl.h>
#include <sslproto.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace tlsprobe {

Settings settings;

namespace {

bool nss_initialised = false;
const char *program_name = "tlsprobe";

// Cipher letter tables: position 1 is A or a, position 2 is B or b, and so on.
const int kUpperCiphers[] = {
    0xFF01,  // SSL 2 RC4-128-MD5
    0xFF02,  // SSL 2 RC4-128-export40-MD5
    0xFF03,  // SSL 2 RC2-128-CBC-MD5
    0xFF04,  // SSL 2 RC2-128-CBC-export40-MD5
    0xFF06,  // SSL 2 DES-64-CBC-MD5
    0xFF07,  // SSL 2 DES-192-EDE3-CBC-MD5
};
const int kLowerCiphers[] = {
    0x001D,  // FORTEZZA with FORTEZZA-CBC-SHA
    0x001E,  // FORTEZZA with RC4-128-SHA
    0x0004,  // RSA with RC4-128-MD5
    0x000A,  // RSA with 3DES-EDE-CBC-SHA
    0x0009,  // RSA with DES-CBC-SHA
    0x0003,  // RSA export with RC4-40-MD5
    0x0006,  // RSA export with RC2-CBC-40-MD5
    0x001C,  // FORTEZZA with NULL-SHA
    0x0001,  // RSA with NULL-MD5
    0xFEFF,  // FIPS RSA with 3DES-EDE-CBC-SHA
    0xFEFE,  // FIPS RSA with DES-CBC-SHA
    0x0062,  // RSA export-1024 with DES-CBC-SHA
    0x0064,  // RSA export-1024 with RC4-56-SHA
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "Usage: %s [-n rsa_nickname] [-p port] [-d dbdir] [-c connections]\n"
               "          [-w dbpasswd] [-C cipher(s)] hostname\n",
               program_name);
  exit_with(1);
}

// Password callback: no password on a retry or without a password argument,
// otherwise a copy of it (the library frees it).
char *my_password(PK11SlotInfo *slot, PRBool retry, void *arg) {
  const char *password = static_cast<const char *>(arg);
  if (retry || !password || !password[0]) {
    return nullptr;
  }
  return PORT_Strdup(password);
}

void parse_options(int argc, char **argv) {
  PLOptState *state = PL_CreateOptState(argc, argv, "C:c:d:n:p:w:");
  if (!state) {
    usage();
  }
  PLOptStatus status;
  while ((status = PL_GetNextOpt(state)) == PL_OPT_OK) {
    switch (state->option) {
      case 'C': settings.ciphers = state->value; break;
      case 'c': settings.connections = std::atoi(state->value); break;
      case 'd': settings.db_dir = state->value; break;
      case 'n': settings.nickname = state->value; break;
      case 'p': settings.port = static_cast<PRUint16>(std::atoi(state->value)); break;
      case 'w': settings.password = state->value; break;
      case '\0': settings.host = state->value; break;
      default:
        PL_DestroyOptState(state);
        usage();
    }
  }
  PL_DestroyOptState(state);
  if (settings.port == 0 || !settings.host) {
    usage();
  }
}

// Disables every suite the library implements, from the last to the first,
// then enables the suite of each letter that the library still knows.
void select_ciphers(const std::string &letters) {
  const PRUint16 *implemented = SSL_GetImplementedCiphers();
  for (int i = SSL_GetNumImplementedCiphers() - 1; i >= 0; --i) {
    if (SSL_CipherPrefSetDefault(implemented[i], PR_FALSE) != SECSuccess) {
      std::printf("SSL_CipherPrefSetDefault didn't like value 0x%04x (i = %d)\n", implemented[i], i);
      err_warn("SSL_CipherPrefSetDefault");
      exit_with(2);
    }
  }
  for (const char letter : letters) {
    const unsigned char c = static_cast<unsigned char>(letter);
    if (!std::isalpha(c)) {
      usage();
    }
    const int *table = std::islower(c) ? kLowerCiphers : kUpperCiphers;
    const int size = std::islower(c) ? static_cast<int>(std::size(kLowerCiphers))
                                     : static_cast<int>(std::size(kUpperCiphers));
    const int position = c & 0x1f;
    if (position >= 1 && position <= size) {
      // A suite the library no longer has is refused; that is not checked.
      SSL_CipherPrefSetDefault(table[position - 1], PR_TRUE);
    }
  }
}

void run_connections() {
  char resolve_buffer[256];
  PRHostEnt host_entry;
  if (PR_GetHostByName(settings.host->c_str(), resolve_buffer, sizeof resolve_buffer,
                       &host_entry) != PR_SUCCESS) {
    exit_fatal("PR_GetHostByName");
  }
  PRNetAddr addr;
  if (PR_EnumerateHostEnt(0, &host_entry, settings.port, &addr) <= 0) {
    exit_fatal("PR_EnumerateHostEnt");
  }

  static ThreadManager manager;  // static: reachable from a fatal exit
  if (launch_thread(&manager, &addr, do_connects, 1) != SECSuccess) {
    exit_fatal("launch_thread");
  }
  if (settings.connections > 1) {
    // Connection 1 alone, so that the others can resume its session.
    reap_threads(&manager);
    for (int connection = 2; connection <= settings.connections; ++connection) {
      // Beyond 33 connections all 32 slots hold threads; join those that have
      // ended so that the launch finds a slot.
      free_ended_slots(&manager);
      if (launch_thread(&manager, &addr, do_connects, connection) != SECSuccess) {
        err_warn("launch_thread");
      }
    }
  }
  reap_threads(&manager);
  destroy_thread_manager(&manager);
}

}  // namespace

void err_warn(const char *step) {
  const PRErrorCode code = PR_GetError();
  std::printf("Error in function %s: %d\n - %s\n", step, code, error_text(code));
}

[[noreturn]] void exit_with(int status) {
  if (nss_initialised) {
    // The client session cache holds the servers' certificates; NSS refuses to
    // shut down while they are referenced.
    SSL_ClearSessionCache();
    if (NSS_Shutdown() != SECSuccess && status == 0) {
      status = 1;
    }
  }
  PR_Cleanup();
  std::exit(status);
}

[[noreturn]] void exit_fatal(const char *step) {
  err_warn(step);
  exit_with(1);
}

}  // namespace tlsprobe

int main(int argc, char **argv) {
  using namespace tlsprobe;
  if (argc > 0 && argv[0]) {
    program_name = argv[0];
  }
  PR_Init(PR_SYSTEM_THREAD, PR_PRIORITY_NORMAL, 1);

  parse_options(argc, argv);

  PK11_SetPasswordFunc(my_password);

  if (NSS_Init(settings.db_dir.c_str()) != SECSuccess) {
    exit_fatal("NSS_Init");
  }
  nss_initialised = true;

  NSS_SetDomesticPolicy();
  SSL_CipherPrefSetDefault(TLS_RSA_WITH_NULL_MD5, PR_TRUE);

  if (settings.ciphers) {
    select_ciphers(*settings.ciphers);
  }

  run_connections();

  exit_with(0);
}
