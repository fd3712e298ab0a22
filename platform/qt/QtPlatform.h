// SPDX-License-Identifier: GPL-2.0-or-later
// The main-thread hand-over and the event pump on Qt's event loop.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include "platform/EventPump.h"
#include "platform/MainThread.h"

namespace tessaro {

class QtEventPump : public EventPump {
 public:
  void ProcessPendingEvents() override { QCoreApplication::processEvents(); }
};

class QtMainThread : public MainThread {
 public:
  // Blocks the calling thread until the main thread has run `work`; the main thread must keep
  // its event loop (or a pump) going for that, which every wait of the program does.
  void RunSync(std::function<void()> work) override {
    if (IsMainThread()) {
      work();
      return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work),
                              Qt::BlockingQueuedConnection);
  }
  void Post(std::function<void()> work) override {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
  }
  bool IsMainThread() const override {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
  }
};

}  // namespace tessaro
