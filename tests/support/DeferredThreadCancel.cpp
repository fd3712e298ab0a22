// SPDX-License-Identifier: GPL-2.0-or-later
// SANE's test backend cancels its reader thread asynchronously. A thread cancelled that way while
// it frees its memory on the way out deadlocks inside the C library, and the test that ends the
// frame then hangs (about one frame in a hundred). Test executables that load the backend link
// this file, which turns that request into deferred cancellation: the reader then stops at its
// next blocking write or simply ends. Only the tests' copy of the backend is affected.
#include <dlfcn.h>
#include <pthread.h>

extern "C" int pthread_setcanceltype(int /*type*/, int* oldType) {
  using SetCancelType = int (*)(int, int*);
  static const auto real =
      reinterpret_cast<SetCancelType>(dlsym(RTLD_NEXT, "pthread_setcanceltype"));
  return real(PTHREAD_CANCEL_DEFERRED, oldType);
}
