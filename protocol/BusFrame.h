// SPDX-License-Identifier: GPL-2.0-or-later
// Frames of the bus IPC: how a control request or an event read travels between a program and
// busd over a Unix stream socket, and the reply that answers it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessaro::busipc {

inline constexpr uint32_t kMagic = 0x53554254;  // "TBUS"
inline constexpr uint32_t kMaxPayload = 65536;
inline constexpr uint32_t kRequestHeaderSize = 20;
inline constexpr uint32_t kReplyHeaderSize = 12;

enum class Op : uint32_t { Control = 1, EventRead = 2 };

// Interface class folders below the runtime folder.
inline constexpr const char* kTrunkClassDir = "{704DA353-79EE-4C5A-A2F0-C86A3234DE73}";
inline constexpr const char* kSpurClassDir = "{93DAEB5B-56BF-4D01-AEF3-372F6FB3BFAF}";
inline constexpr size_t kMaxRuntimeDirLength = 60;

// Control codes of the driver, and of our own (0x900 function numbers and up).
namespace code {
inline constexpr uint32_t kGetServerList = 0x222000;
inline constexpr uint32_t kAttachServer = 0x222010;
inline constexpr uint32_t kWakeEventReader = 0x222018;
inline constexpr uint32_t kGetTrunkVersion = 0x222020;
inline constexpr uint32_t kGetSpurAddress = 0x222040;
inline constexpr uint32_t kGetDeviceList = 0x222044;
inline constexpr uint32_t kLinkDevice = 0x222048;
inline constexpr uint32_t kUnlinkDevice = 0x22204C;
inline constexpr uint32_t kGetSpurVersion = 0x22205C;
inline constexpr uint32_t kLockDevice = 0x222060;
inline constexpr uint32_t kUnlockDevice = 0x222064;
inline constexpr uint32_t kRequestToUse = 0x222068;
inline constexpr uint32_t kDeviceNodePresent = 0x222400;
inline constexpr uint32_t kRequestEject = 0x222404;
inline constexpr uint32_t kWriteDeviceData = 0x222408;
inline constexpr uint32_t kEndDeviceData = 0x22240C;
}  // namespace code

struct Request {
  Op op = Op::Control;
  uint32_t code = 0;
  uint32_t outputLength = 0;
  std::vector<uint8_t> input;
};

struct Reply {
  uint32_t status = 0;  // 0 success, else a Windows error code
  std::vector<uint8_t> output;
};

std::vector<uint8_t> EncodeRequest(const Request& request);
std::vector<uint8_t> EncodeReply(const Reply& reply);

// Incremental decoding of a byte stream. Feed what arrived; Next*() yields whole frames.
// A malformed frame (wrong magic, unknown op, a length over the limit) puts the decoder into
// the broken state: the connection must be closed.
class RequestDecoder {
 public:
  void Feed(std::span<const uint8_t> bytes);
  std::optional<Request> Next();
  bool broken() const { return broken_; }

 private:
  std::vector<uint8_t> buffer_;
  bool broken_ = false;
};

class ReplyDecoder {
 public:
  void Feed(std::span<const uint8_t> bytes);
  std::optional<Reply> Next();
  bool broken() const { return broken_; }

 private:
  std::vector<uint8_t> buffer_;
  bool broken_ = false;
};

// Folder of an interface class below the runtime folder.
std::string ClassFolder(const std::string& runtimeDir, bool trunk);
// Where busd puts its interface folders unless told otherwise.
inline constexpr const char* kDefaultRuntimeDir = "/run/tessaro";

}  // namespace tessaro::busipc
