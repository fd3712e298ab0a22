// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/BusIpcTransport.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdlib>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/ByteOrder.h"
#include "base/FileHandle.h"
#include "protocol/BusFrame.h"

namespace tessaro {

std::string BusRuntimeDirFromEnvironment() {
  const char* dir = std::getenv("TESSARO_RUNTIME_DIR");
  return (dir && *dir) ? std::string(dir) : std::string(busipc::kDefaultRuntimeDir);
}

namespace {

IoResult Failure(uint32_t error) { return IoResult{false, error, 0}; }

// The interface number of a file name made only of decimal digits.
std::optional<uint64_t> InterfaceNumber(const std::string& name) {
  if (name.empty() || name.size() > 18) return std::nullopt;
  uint64_t n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  return n;
}

// Bounds every blocking read and write on `fd`; they then fail with EAGAIN.
void SetIoTimeout(int fd, std::chrono::milliseconds timeout) {
  const auto ms = timeout.count();
  timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool IsSocket(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace

// One stream connection; its mutex keeps one request at a time on it.
struct BusIpcTransport::Connection {
  std::mutex io;
  UniqueFd fd;
  bool broken = false;

  explicit Connection(UniqueFd f) : fd(std::move(f)) {}
  void Shutdown() const {
    if (fd.valid()) ::shutdown(fd.get(), SHUT_RDWR);
  }
  IoResult Exchange(const busipc::Request& request, void* output, uint32_t outputLength);
};

struct BusIpcTransport::Handle {
  std::string path;
  std::shared_ptr<Connection> control;
  std::mutex eventSetup;  // guards `event` and `closed`
  std::shared_ptr<Connection> event;
  bool closed = false;
};

namespace {

// Reads one reply frame; nullopt when the stream ends or carries a malformed frame.
std::optional<busipc::Reply> ReadReply(int fd) {
  uint8_t header[busipc::kReplyHeaderSize];
  if (!ReadExact(fd, header, sizeof header)) return std::nullopt;
  busipc::ReplyDecoder decoder;
  decoder.Feed(header);
  auto reply = decoder.Next();
  if (reply || decoder.broken()) return reply;
  std::vector<uint8_t> payload(GetU32(header + 8));  // checked against the limit by Next()
  if (!ReadExact(fd, payload.data(), payload.size())) return std::nullopt;
  decoder.Feed(payload);
  return decoder.Next();
}

}  // namespace

IoResult BusIpcTransport::Connection::Exchange(const busipc::Request& request, void* output,
                                               uint32_t outputLength) {
  std::lock_guard lock(io);
  if (broken) return Failure(buserr::kGenFailure);
  const auto frame = busipc::EncodeRequest(request);
  std::optional<busipc::Reply> reply;
  errno = 0;
  if (WriteAll(fd.get(), frame.data(), frame.size())) reply = ReadReply(fd.get());
  if (!reply) {
    const bool timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
    // A broken stream cannot be resynchronised (a late reply would answer the next request):
    // every later call on it fails too.
    broken = true;
    Shutdown();
    return Failure(timedOut ? buserr::kTimeout : buserr::kGenFailure);
  }
  if (reply->status != 0) return Failure(reply->status);
  const auto returned = static_cast<uint32_t>(reply->output.size());
  if (output && returned > 0)
    std::memcpy(output, reply->output.data(), std::min(returned, outputLength));
  return IoResult{true, 0, returned};
}

BusIpcTransport::BusIpcTransport(std::string runtimeDir, std::chrono::milliseconds controlTimeout)
    : runtimeDir_(std::move(runtimeDir)), controlTimeout_(controlTimeout) {}

BusIpcTransport::~BusIpcTransport() {
  std::vector<BusHandle> open;
  {
    std::lock_guard lock(tableMutex_);
    for (const auto& [id, h] : handles_) open.push_back(id);
  }
  for (BusHandle id : open) Close(id);
}

std::optional<std::vector<std::string>> BusIpcTransport::ListInterfaces(InterfaceClass cls) {
  const std::string folder = busipc::ClassFolder(runtimeDir_, cls == InterfaceClass::Trunk);
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return std::nullopt;
  std::vector<std::pair<uint64_t, std::string>> found;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const auto number = InterfaceNumber(name);
    const std::string path = folder + "/" + name;
    if (number && IsSocket(path)) found.emplace_back(*number, path);
  }
  if (ec) return std::nullopt;
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& [n, path] : found) paths.push_back(std::move(path));
  return paths;
}

BusHandle BusIpcTransport::Open(const std::string& devicePath) {
  UniqueFd fd = ConnectUnix(devicePath);
  if (!fd.valid()) return kInvalidBusHandle;
  SetIoTimeout(fd.get(), controlTimeout_);  // only the control connection: event reads may wait
  auto handle = std::make_shared<Handle>();
  handle->path = devicePath;
  handle->control = std::make_shared<Connection>(std::move(fd));
  std::lock_guard lock(tableMutex_);
  const BusHandle id = nextHandle_++;
  handles_.emplace(id, std::move(handle));
  return id;
}

void BusIpcTransport::Close(BusHandle id) {
  std::shared_ptr<Handle> handle;
  {
    std::lock_guard lock(tableMutex_);
    auto it = handles_.find(id);
    if (it == handles_.end()) return;
    handle = std::move(it->second);
    handles_.erase(it);
  }
  // Sockets are only shut down here; each is closed when its last user lets go of it.
  handle->control->Shutdown();
  std::lock_guard lock(handle->eventSetup);
  handle->closed = true;
  if (handle->event) handle->event->Shutdown();
}

std::shared_ptr<BusIpcTransport::Handle> BusIpcTransport::Find(BusHandle id) {
  std::lock_guard lock(tableMutex_);
  auto it = handles_.find(id);
  return it == handles_.end() ? nullptr : it->second;
}

IoResult BusIpcTransport::Control(BusHandle id, uint32_t code, const void* input,
                                  uint32_t inputLength, void* output, uint32_t outputLength) {
  auto handle = Find(id);
  if (!handle) return Failure(buserr::kInvalidHandle);
  if (inputLength > busipc::kMaxPayload || outputLength > busipc::kMaxPayload) {
    return Failure(buserr::kInvalidParameter);
  }
  busipc::Request request;
  request.op = busipc::Op::Control;
  request.code = code;
  request.outputLength = outputLength;
  const auto* in = static_cast<const uint8_t*>(input);
  if (in) request.input.assign(in, in + inputLength);
  return handle->control->Exchange(request, output, outputLength);
}

std::shared_ptr<BusIpcTransport::Connection> BusIpcTransport::EventConnection(Handle& handle) {
  std::lock_guard lock(handle.eventSetup);
  if (handle.closed) return nullptr;
  if (!handle.event) {
    UniqueFd fd = ConnectUnix(handle.path);
    if (!fd.valid()) return nullptr;
    handle.event = std::make_shared<Connection>(std::move(fd));
  }
  return handle.event;
}

IoResult BusIpcTransport::ReadEvent(BusHandle id, void* buffer, uint32_t length) {
  auto handle = Find(id);
  if (!handle) return Failure(buserr::kInvalidHandle);
  auto connection = EventConnection(*handle);
  if (!connection) return Failure(buserr::kGenFailure);
  busipc::Request request;
  request.op = busipc::Op::EventRead;
  request.outputLength = std::min(length, busipc::kMaxPayload);
  return connection->Exchange(request, buffer, length);
}

}  // namespace tessaro
