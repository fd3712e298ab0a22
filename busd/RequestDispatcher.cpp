// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/RequestDispatcher.h"

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"
#include "busd/ReplyBuilder.h"
#include "busd/UsbInstance.h"

namespace tessaro::busd {

namespace code = busipc::code;
using busipc::Reply;

namespace {

uint32_t IpFrom(const std::vector<uint8_t>& input) {
  uint32_t ip = 0;
  std::memcpy(&ip, input.data(), 4);  // network order stays as it is in memory
  return ip;
}

// The input size each forwarded code takes, and the wire message it becomes.
struct ForwardedCode {
  uint32_t code;
  size_t inputSize;
  wire::MsgType type;
};
constexpr ForwardedCode kForwarded[] = {
    {code::kLinkDevice, 1, wire::MsgType::Link},
    {code::kUnlinkDevice, 1, wire::MsgType::Unlink},
    {code::kLockDevice, 6, wire::MsgType::Lock},
    {code::kUnlockDevice, 6, wire::MsgType::Unlock},
    {code::kRequestToUse, 6, wire::MsgType::RequestToUse},
};

wire::DeviceCommand CommandFrom(wire::MsgType type, const std::vector<uint8_t>& input) {
  wire::DeviceCommand c;
  c.number = input[0];
  if (type == wire::MsgType::RequestToUse) {
    c.kind = input[1];
    std::memcpy(&c.value, &input[2], 4);  // the requester address, network order
  } else if (input.size() == 6) {
    c.value = GetU32(&input[1]);  // seconds
    c.kind = input[5];
  }
  return c;
}

// The text of a NUL-terminated instance ID of at most 200 bytes; nullopt for other input.
std::optional<std::string> InstanceIdText(const std::vector<uint8_t>& input) {
  if (input.size() > kMaxInstanceIdInput) return std::nullopt;
  const auto nul = std::find(input.begin(), input.end(), uint8_t{0});
  if (nul == input.end()) return std::nullopt;
  return std::string(input.begin(), nul);
}

}  // namespace

void RequestDispatcher::Opened(const ConnectionInfo& connection) {
  if (connection.trunk) events_.AddConnection(connection.id, connection.pid);
}

void RequestDispatcher::Closed(int connection) {
  events_.RemoveConnection(connection);
  jobs_.Closed(connection);
}

std::optional<Reply> RequestDispatcher::Handle(const ConnectionInfo& c, const busipc::Request& r) {
  if (r.op == busipc::Op::EventRead) {
    if (!c.trunk) return Failure(status::kInvalidFunction);
    auto record = events_.BeginRead(c.id);
    if (!record) return std::nullopt;
    return Success(std::move(*record));
  }
  return c.trunk ? HandleTrunk(c, r) : HandleSpur(c, r);
}

std::optional<Reply> RequestDispatcher::HandleTrunk(const ConnectionInfo& c,
                                                    const busipc::Request& r) {
  switch (r.code) {
    case code::kGetServerList: return Success(BuildServerList(backend_.ServerList()));
    case code::kAttachServer:
      if (r.input.size() != 4) return Failure(status::kInvalidParameter);
      return backend_.AttachServer(IpFrom(r.input)) ? Success() : Failure(status::kGenFailure);
    case code::kWakeEventReader: Deliver(events_.Wake(c.pid)); return Success();
    case code::kGetTrunkVersion: return Success(BuildVersion());
    case code::kDeviceNodePresent:
    case code::kRequestEject: return HandleDeviceNode(c, r);
    default: return Failure(status::kInvalidFunction);
  }
}

std::optional<Reply> RequestDispatcher::HandleDeviceNode(const ConnectionInfo& c,
                                                         const busipc::Request& r) {
  const auto id = InstanceIdText(r.input);
  if (!id) return Failure(status::kInvalidParameter);
  const auto linked = FindLinked(*id);
  if (!linked) return Failure(status::kNotFound);
  if (r.code == code::kDeviceNodePresent) return Success();
  ReplyRouter& router = router_;
  const int connection = c.id;
  const bool sent =
      backend_.Eject(linked->serverIp, linked->device.number,
                     [&router, connection](uint32_t result, const wire::EjectReply& reply) {
                       router.Complete(connection, result == 0 ? Success(BuildEjectOutput(reply))
                                                               : Failure(result));
                     });
  if (!sent) return Failure(status::kGenFailure);
  return std::nullopt;
}

std::optional<LinkedDevice> RequestDispatcher::FindLinked(const std::string& instanceId) const {
  const auto id = ParseUsbInstanceId(instanceId);
  if (!id) return std::nullopt;
  for (LinkedDevice& linked : backend_.LinkedDevices())
    if (NamesDevice(*id, linked.serverIp, linked.device)) return std::move(linked);
  return std::nullopt;
}

std::optional<Reply> RequestDispatcher::HandleSpur(const ConnectionInfo& c,
                                                   const busipc::Request& r) {
  switch (r.code) {
    case code::kGetSpurAddress: return Success(BuildSpurAddress(c.serverIp));
    case code::kGetDeviceList: return Success(BuildDeviceList(backend_.Devices(c.serverIp)));
    case code::kGetSpurVersion: return Success(BuildVersion());
    case code::kWriteDeviceData:
    case code::kEndDeviceData: return HandleData(c, r);
    default: break;
  }
  for (const ForwardedCode& f : kForwarded) {
    if (f.code != r.code) continue;
    if (r.input.size() != f.inputSize) return Failure(status::kInvalidParameter);
    return Forward(c, f.type, r.input);
  }
  return Failure(status::kInvalidFunction);
}

std::optional<Reply> RequestDispatcher::Forward(const ConnectionInfo& c, wire::MsgType type,
                                                const std::vector<uint8_t>& input) {
  ReplyRouter& router = router_;
  const int id = c.id;
  const bool sent =
      backend_.Forward(c.serverIp, type, CommandFrom(type, input), [&router, id](uint32_t result) {
        router.Complete(id, result == 0 ? Success() : Failure(result));
      });
  if (!sent) return Failure(status::kGenFailure);
  return std::nullopt;
}

std::optional<Reply> RequestDispatcher::HandleData(const ConnectionInfo& c,
                                                   const busipc::Request& r) {
  const bool end = r.code == code::kEndDeviceData;
  if (r.input.empty() || (end && r.input.size() != 1)) return Failure(status::kInvalidParameter);
  const uint8_t number = r.input[0];
  const auto linked = backend_.LinkedDevices();
  const bool mine = std::any_of(linked.begin(), linked.end(), [&](const LinkedDevice& d) {
    return d.serverIp == c.serverIp && d.device.number == number;
  });
  if (!mine) return Failure(status::kNotReady);
  return jobs_.Send(c.id, c.serverIp, number, end, std::span<const uint8_t>(r.input).subspan(1));
}

void RequestDispatcher::Publish(const std::vector<uint8_t>& record) {
  Deliver(events_.Publish(record));
}

void RequestDispatcher::Deliver(const std::vector<EventDelivery>& deliveries) {
  for (const EventDelivery& d : deliveries) router_.Complete(d.connection, Success(d.record));
}

}  // namespace tessaro::busd
