// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/SingleInstance.h"

#include <QLocalSocket>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/FileHandle.h"
#include "platform/qt/QtText.h"

namespace tessaro {

SingleInstance::SingleInstance(const std::string& title, std::string directory)
    : mutex_(title, directory),
      socketPath_(directory.empty() ? std::string() : directory + "/" + title + ".show") {}

bool SingleInstance::Claim() { return !mutex_.Valid() || mutex_.TryLock(); }

void SingleInstance::Listen(std::function<void()> onShow) {
  if (!mutex_.Valid()) return;
  server_ = std::make_unique<QLocalServer>();
  // We hold the name, so a socket left there is a crashed copy's.
  QLocalServer::removeServer(ToQString(socketPath_));
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(ToQString(socketPath_))) return;
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this, onShow] {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
      QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      QObject::connect(peer, &QLocalSocket::readyRead, peer, [peer, onShow] {
        while (peer->canReadLine()) {
          if (peer->readLine(16) == kShowRequest) onShow();
        }
        if (peer->bytesAvailable() > 64) peer->abort();  // not one of ours
      });
    }
  });
}

bool SingleInstance::AskRunningCopyToShow() const {
  if (socketPath_.empty()) return false;
  for (int attempt = 0; attempt < 30; ++attempt) {
    UniqueFd fd = ConnectUnix(socketPath_);
    if (fd.valid()) return WriteAll(fd.get(), kShowRequest, std::strlen(kShowRequest));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace tessaro
