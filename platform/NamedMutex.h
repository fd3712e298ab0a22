// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace tessaro {

// A mutex that other processes of the same user see by its name ("Corvana",
// "RefreshServerList_QXV"). Recursive for the thread that holds it; another thread of the same
// process, or another process, is refused until every TryLock of the holder has been undone.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  // Never blocks: true when this thread now holds the mutex (again).
  virtual bool TryLock() = 0;
  // Undoes one successful TryLock of the calling thread; a call by a thread that does not hold
  // the mutex does nothing.
  virtual void Unlock() = 0;
};

// Holds a NamedMutex for one scope, once taken.
class NamedMutexHold {
 public:
  NamedMutexHold() = default;
  explicit NamedMutexHold(NamedMutex& mutex) : mutex_(&mutex) {}
  ~NamedMutexHold() {
    if (mutex_ != nullptr) mutex_->Unlock();
  }
  NamedMutexHold(const NamedMutexHold&) = delete;
  NamedMutexHold& operator=(const NamedMutexHold&) = delete;

 private:
  NamedMutex* mutex_ = nullptr;
};

}  // namespace tessaro
