// SPDX-License-Identifier: GPL-2.0-or-later
// umockdev shows its testbed's devices to a process through LD_PRELOAD, and the uevents a
// testbed sends need the sending process under it too. Included in one file of an executable,
// this makes the executable run itself again under the preload before main, so the whole program
// and everything it starts see the testbed. The sanitizer build cannot run that way (its runtime
// must be the first library loaded): there kUmockdevUsable is false and nothing is re-run.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESSARO_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSARO_SANITIZED 1
#endif

namespace tessaro::testing {

inline constexpr const char* kUmockdevPreload = "libumockdev-preload.so.0";

#ifdef TESSARO_SANITIZED
inline constexpr bool kUmockdevUsable = false;
#else
inline constexpr bool kUmockdevUsable = true;
#endif

// Whether this process runs under the preload.
inline bool UnderUmockdev() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "libumockdev-preload");
}

}  // namespace tessaro::testing

#ifndef TESSARO_SANITIZED
namespace {
__attribute__((constructor)) void RunUnderUmockdev(int, char** argv, char**) {
  if (tessaro::testing::UnderUmockdev()) return;
  const char* preload = std::getenv("LD_PRELOAD");
  const std::string value = preload && *preload
                                ? std::string(tessaro::testing::kUmockdevPreload) + ":" + preload
                                : tessaro::testing::kUmockdevPreload;
  ::setenv("LD_PRELOAD", value.c_str(), 1);
  ::execv("/proc/self/exe", argv);  // on failure the program finds itself not under it
}
}  // namespace
#endif
