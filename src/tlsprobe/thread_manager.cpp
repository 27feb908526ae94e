// The connection thread manager of tlsprobe: 32 slots, a lock, a
// slot-free condition and a thread-ended condition.
#include "probe.h"

#include <prcvar.h>
#include <prlock.h>
#include <prthread.h>
#include <seccomon.h>

#include <cstdio>

namespace tlsprobe {
namespace {

enum SlotState { kFree = 0, kRunning = 1, kEnded = 2 };

void thread_body(void *arg) {
  auto *slot = static_cast<ThreadSlot *>(arg);
  ThreadManager *manager = slot->manager;

  // Start only after the launch has finished filling the slot.
  PR_Lock(manager->lock);
  PR_Unlock(manager->lock);

  const int rv = slot->routine(&slot->addr, slot->connection);

  PR_Lock(manager->lock);
  slot->rv = rv;
  slot->state = kEnded;
  PR_NotifyCondVar(manager->thread_ended);
  PR_Unlock(manager->lock);
}

bool create_sync(ThreadManager *manager) {
  if (manager->lock) {
    return true;
  }
  manager->lock = PR_NewLock();
  if (!manager->lock) {
    return false;
  }
  manager->slot_free = PR_NewCondVar(manager->lock);
  manager->thread_ended = PR_NewCondVar(manager->lock);
  if (!manager->slot_free || !manager->thread_ended) {
    if (manager->slot_free) PR_DestroyCondVar(manager->slot_free);
    if (manager->thread_ended) PR_DestroyCondVar(manager->thread_ended);
    PR_DestroyLock(manager->lock);
    manager->slot_free = manager->thread_ended = nullptr;
    manager->lock = nullptr;
    return false;
  }
  return true;
}

// Under the lock: joins every thread that has ended, prints its return value,
// frees its slot and tells a waiting launcher.
void join_ended_locked(ThreadManager *manager) {
  for (int i = 0; i < manager->used; ++i) {
    ThreadSlot &slot = manager->slots[i];
    if (slot.state != kEnded) {
      continue;
    }
    std::printf("Thread in slot %d returned %d\n", i, slot.rv);
    PR_JoinThread(slot.thread);
    slot.thread = nullptr;
    slot.in_use = false;
    slot.state = kFree;
    --manager->running;
    PR_NotifyCondVar(manager->slot_free);
  }
}

}  // namespace

int launch_thread(ThreadManager *manager, const PRNetAddr *addr, ConnectionRoutine routine,
                  int connection) {
  if (!create_sync(manager)) {
    return SECFailure;
  }
  PR_Lock(manager->lock);
  while (manager->running >= kMaxThreads) {
    PR_WaitCondVar(manager->slot_free, PR_INTERVAL_NO_TIMEOUT);
  }
  int i = 0;
  while (i < manager->used && manager->slots[i].state != kFree) {
    ++i;
  }
  if (i >= manager->used) {
    if (i >= kMaxThreads) {
      PR_Unlock(manager->lock);
      return SECFailure;
    }
    ++manager->used;
  }
  ThreadSlot &slot = manager->slots[i];
  slot.addr = *addr;
  slot.connection = connection;
  slot.rv = 0;
  slot.routine = routine;
  slot.index = i;
  slot.manager = manager;
  slot.thread = PR_CreateThread(PR_USER_THREAD, thread_body, &slot, PR_PRIORITY_NORMAL,
                                PR_GLOBAL_THREAD, PR_JOINABLE_THREAD, 0);
  if (!slot.thread) {
    PR_Unlock(manager->lock);
    std::printf("Failed to launch thread!\n");
    return SECFailure;
  }
  slot.in_use = true;
  slot.state = kRunning;
  ++manager->running;
  PR_Unlock(manager->lock);
  std::printf("Launched thread in slot %d \n", i);
  return SECSuccess;
}

void reap_threads(ThreadManager *manager) {
  if (!manager->lock) {
    return;
  }
  PR_Lock(manager->lock);
  // Join what has ended before waiting, so that a thread that ended before
  // this call (its signal unheard) is never waited for.
  for (;;) {
    join_ended_locked(manager);
    if (manager->running <= 0) {
      break;
    }
    PR_WaitCondVar(manager->thread_ended, PR_INTERVAL_NO_TIMEOUT);
  }
  for (int i = 0; i < manager->used; ++i) {
    if (manager->slots[i].state != kFree) {
      std::fprintf(stderr, "Thread in slot %d is in state %d!\n", i, manager->slots[i].state);
    }
  }
  PR_Unlock(manager->lock);
}

void free_ended_slots(ThreadManager *manager) {
  if (!manager->lock) {
    return;
  }
  PR_Lock(manager->lock);
  while (manager->running >= kMaxThreads) {
    join_ended_locked(manager);
    if (manager->running < kMaxThreads) {
      break;
    }
    PR_WaitCondVar(manager->thread_ended, PR_INTERVAL_NO_TIMEOUT);
  }
  PR_Unlock(manager->lock);
}

void destroy_thread_manager(ThreadManager *manager) {
  for (ThreadSlot &slot : manager->slots) {
    slot = ThreadSlot{};
  }
  manager->used = 0;
  manager->running = 0;
  if (manager->thread_ended) PR_DestroyCondVar(manager->thread_ended);
  if (manager->slot_free) PR_DestroyCondVar(manager->slot_free);
  if (manager->lock) PR_DestroyLock(manager->lock);
  manager->thread_ended = nullptr;
  manager->slot_free = nullptr;
  manager->lock = nullptr;
}

}  // namespace tlsprobe
