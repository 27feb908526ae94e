// tlsprobe: the TLS test client. Declarations shared by its files.
#pragma once

#include <nspr.h>
#include <prio.h>

#include <optional>
#include <string>

namespace tlsprobe {

// Settings from the command line; read-only once the connections start.
struct Settings {
  std::optional<std::string> nickname;  // -n: client certificate to present
  PRUint16 port = 0;                    // -p: required
  std::string db_dir = ".";             // -d
  int connections = 1;                  // -c
  std::optional<std::string> password;  // -w: key-database password argument
  std::optional<std::string> ciphers;   // -C: cipher letters
  std::optional<std::string> host;      // the last plain argument
};

extern Settings settings;

// The fixed request sent on every connection.
inline constexpr char kRequest[] = "GET /testfile HTTP/1.0\r\n\r\n";
// The read buffer size and the largest single read.
inline constexpr int kReadBufferSize = 61440;

// Prints "Error in function STEP: CODE\n - TEXT\n" on standard output with the
// current NSPR error code and its text.
void err_warn(const char *step);

// A fatal step: the error line, then NSS shut down, NSPR cleaned up, status 1.
[[noreturn]] void exit_fatal(const char *step);

// Ends the process with `status` after shutting NSS down (when it was
// initialised) and cleaning NSPR up.
[[noreturn]] void exit_with(int status);

// The text of an NSPR/NSS error code from the ordered error table. Never null.
const char *error_text(PRErrorCode code);

// The connection routine run on a manager thread: one connection, one request.
int do_connects(const PRNetAddr *addr, int connection);

// The connection thread manager: 32 slots.
inline constexpr int kMaxThreads = 32;

using ConnectionRoutine = int (*)(const PRNetAddr *addr, int connection);

struct ThreadManager;

struct ThreadSlot {
  PRNetAddr addr{};                   // the server address to use
  int connection = 0;                 // the connection number
  int rv = 0;                         // the routine's return value
  ConnectionRoutine routine = nullptr;
  PRThread *thread = nullptr;
  bool in_use = false;
  int state = 0;                      // 0 free, 1 running, 2 ended and not yet joined
  int index = 0;                      // this slot's number
  ThreadManager *manager = nullptr;
};

struct ThreadManager {
  PRLock *lock = nullptr;             // created on first use
  PRCondVar *slot_free = nullptr;
  PRCondVar *thread_ended = nullptr;
  ThreadSlot slots[kMaxThreads];
  int used = 0;                       // high-water mark of slots used, at most 32
  int running = 0;                    // threads launched and not yet joined
};

// Launches `routine` for `connection` in a free slot; SECSuccess or SECFailure.
int launch_thread(ThreadManager *manager, const PRNetAddr *addr, ConnectionRoutine routine,
                  int connection);
// Waits for every launched thread, joins each, and reports slots not free.
void reap_threads(ThreadManager *manager);
// When every one of the 32 slots holds a thread that has not been joined,
// waits until at least one of them has ended and joins all that have ended,
// so that the next launch finds a free slot. Does nothing otherwise.
void free_ended_slots(ThreadManager *manager);
// Clears the slots and destroys the conditions and the lock.
void destroy_thread_manager(ThreadManager *manager);

}  // namespace tlsprobe
