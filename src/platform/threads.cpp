// The thread primitive: start a function on a new system thread with default
// attributes, and wait for it.
#include "platform/platform.h"

#include <pthread.h>
#include <string.h>

namespace {

static_assert(sizeof(pthread_t) <= sizeof(uintptr_t), "thread handle must fit the record");

// The new thread takes its entry function and argument from the caller's record.
void *thread_start(void *record) {
  const kaldro_plat_thread *t = static_cast<const kaldro_plat_thread *>(record);
  t->fn(t->arg);
  return nullptr;
}

}  // namespace

extern "C" {

KALDRO_API int kaldro_plat_has_threads(void) { return 1; }

KALDRO_API kaldro_status kaldro_plat_thread_spawn(kaldro_plat_thread_fn fn, void *arg,
                                                  kaldro_plat_thread *thread) {
  if (!fn || !thread) return KALDRO_ERR_NULL;
  thread->fn = fn;
  thread->arg = arg;
  // The system leaves its own handle undefined on failure, so it is created aside and
  // stored only once the thread exists.
  pthread_t created;
  if (pthread_create(&created, nullptr, thread_start, thread) != 0) return KALDRO_ERR_RESOURCE;
  uintptr_t handle = 0;
  memcpy(&handle, &created, sizeof created);
  thread->handle = handle;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_thread_join(kaldro_plat_thread *thread) {
  if (!thread) return KALDRO_ERR_NULL;
  pthread_t joined;
  memcpy(&joined, &thread->handle, sizeof joined);
  pthread_join(joined, nullptr);
  return KALDRO_OK;
}

}  // extern "C"
