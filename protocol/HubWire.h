// SPDX-License-Identifier: GPL-2.0-or-later
// The wire between busd (one per PC) and hubd (one per device server): TCP frames for the
// control path and UDP datagrams for discovery. docs/hub-wire-protocol.md describes it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tessaro::wire {

inline constexpr uint32_t kMagic = 0x42554854;  // "THUB"
inline constexpr uint32_t kHeaderSize = 16;
inline constexpr uint32_t kMaxPayload = 65536;
// 2.0: a PC proves its computer name with its key (Challenge, Proof). 2.1: print data. 2.2: a
// dropped job refuses its later pieces.
inline constexpr uint16_t kVersionMajor = 2;
inline constexpr uint16_t kVersionMinor = 2;
// From this minor on, a server refuses the rest of a job it dropped until its end or abort.
inline constexpr uint16_t kMinorRefusingDroppedJobs = 2;
inline constexpr uint16_t kDefaultTcpPort = 2005;
inline constexpr uint16_t kDiscoveryPort = 9303;
inline constexpr size_t kMaxDevices = 127;     // device numbers are one signed byte on the bus
inline constexpr size_t kMaxDescriptors = 64;  // per device
// A veto name travels to the program as NUL-terminated text in a 260-byte buffer.
inline constexpr size_t kMaxVetoName = 259;

enum class MsgType : uint16_t {
  Discover = 0x0001,       // UDP, busd -> broadcast or server
  DiscoverReply = 0x0002,  // UDP, server -> busd
  Hello = 0x0010,
  HelloReply = 0x0011,
  Challenge = 0x0014,  // answers a Hello of the server's own major version
  Proof = 0x0015,      // answered with HelloReply, or Result 5 and the connection closed
  Ping = 0x0012,
  Pong = 0x0013,
  GetDevices = 0x0020,
  DeviceList = 0x0021,      // reply to GetDevices
  DevicesChanged = 0x0022,  // unsolicited, id 0: the whole new list
  Link = 0x0030,
  Unlink = 0x0031,
  Lock = 0x0032,
  Unlock = 0x0033,
  RequestToUse = 0x0034,
  Result = 0x0040,        // reply to the commands above and to any unknown request
  UseRequested = 0x0050,  // unsolicited, id 0, to the owner's connections
  Eject = 0x0060,         // answered with EjectReply, or a Result for a refusal
  EjectReply = 0x0061,
  SetEjectVeto = 0x0080,  // administration, accepted only from the server's own machine
  WriteData = 0x0070,     // a piece of the job the PC sends the device (a printer's print job)
  EndData = 0x0071,       // the job is complete
  AbortData = 0x0072,     // the job is dropped
};

struct Frame {
  MsgType type{};
  uint16_t flags = 0;
  uint32_t id = 0;  // request id; the reply carries the same id; 0 for unsolicited frames
  std::vector<uint8_t> payload;
};

std::vector<uint8_t> EncodeFrame(const Frame& frame);

// Incremental TCP stream decoding. A wrong magic, non-zero flags or a payload over kMaxPayload
// breaks the stream for good: the connection must be closed.
class FrameDecoder {
 public:
  void Feed(std::span<const uint8_t> bytes);
  std::optional<Frame> Next();
  bool broken() const { return broken_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  bool broken_ = false;
};

// One whole datagram; nullopt unless it is exactly one well-formed frame.
std::optional<Frame> DecodeDatagram(std::span<const uint8_t> bytes);

// ---- Payloads. Each Decode returns nullopt for a payload that is short, long or inconsistent.

struct VersionProbe {  // Discover
  uint16_t major = kVersionMajor;
  uint16_t minor = kVersionMinor;
};

struct ServerInfo {  // DiscoverReply, HelloReply
  uint16_t major = kVersionMajor;
  uint16_t minor = kVersionMinor;
  uint16_t tcpPort = kDefaultTcpPort;  // meaningful in DiscoverReply
  std::array<uint8_t, 6> mac{};
  int32_t storageMode = 0;
  std::string name;
};

struct Hello {
  uint16_t major = kVersionMajor;
  uint16_t minor = kVersionMinor;
  std::string computerName;
};

inline constexpr size_t kNonceSize = 32;
inline constexpr size_t kPublicKeySize = 32;
inline constexpr size_t kSignatureSize = 64;
using Nonce = std::array<uint8_t, kNonceSize>;
using PublicKey = std::array<uint8_t, kPublicKeySize>;
using Signature = std::array<uint8_t, kSignatureSize>;

struct Challenge {  // the server's version and a nonce fresh for this connection
  uint16_t major = kVersionMajor;
  uint16_t minor = kVersionMinor;
  Nonce nonce{};
};

struct Proof {  // the PC's public key and its signature over what protocol/PcKey.h lists
  PublicKey publicKey{};
  Signature signature{};
};

struct DeviceInfo {
  uint8_t number = 0;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t lockKind = 0;
  uint8_t lockCount = 0;
  std::string type, owner, manufacturer, product, serial;
  // What the PC's device database records for the device (interface classes, composite
  // functions, driver class...), as key/value pairs.
  std::vector<std::pair<std::string, std::string>> descriptors;
};

struct DeviceCommand {  // Link, Unlink, Eject, EndData (number only); Lock, Unlock, RequestToUse
  uint8_t number = 0;
  uint8_t kind = 0;    // lock kind, or the request-to-use kind byte
  uint32_t value = 0;  // seconds (Lock), linger seconds (Unlock), requester IPv4 (network order)
};

struct UseRequested {
  uint8_t subCode = 1;
  uint8_t deviceNumber = 0;
  uint32_t requesterIp = 0;  // network order
  std::string requesterName;
};

struct EjectReply {
  uint32_t vetoType = 0;  // 0: no veto
  std::string vetoName;
};

struct SetEjectVeto {
  uint8_t number = 0;
  uint32_t vetoType = 0;  // 0: no veto
  std::string vetoName;   // at most kMaxVetoName bytes
};

std::vector<uint8_t> EncodeVersionProbe(const VersionProbe& v);
std::optional<VersionProbe> DecodeVersionProbe(std::span<const uint8_t> p);
std::vector<uint8_t> EncodeServerInfo(const ServerInfo& s);
std::optional<ServerInfo> DecodeServerInfo(std::span<const uint8_t> p);
std::vector<uint8_t> EncodeHello(const Hello& h);
std::optional<Hello> DecodeHello(std::span<const uint8_t> p);
std::vector<uint8_t> EncodeChallenge(const Challenge& c);
std::optional<Challenge> DecodeChallenge(std::span<const uint8_t> p);
std::vector<uint8_t> EncodeProof(const Proof& p);
std::optional<Proof> DecodeProof(std::span<const uint8_t> p);
std::vector<uint8_t> EncodeDeviceList(const std::vector<DeviceInfo>& devices);
std::optional<std::vector<DeviceInfo>> DecodeDeviceList(std::span<const uint8_t> p);
// Link/Unlink/Eject/EndData carry 1 byte; Lock/Unlock/RequestToUse carry 6.
std::vector<uint8_t> EncodeDeviceCommand(MsgType type, const DeviceCommand& c);
std::optional<DeviceCommand> DecodeDeviceCommand(MsgType type, std::span<const uint8_t> p);
std::vector<uint8_t> EncodeResult(uint32_t status);
std::optional<uint32_t> DecodeResult(std::span<const uint8_t> p);
std::vector<uint8_t> EncodeUseRequested(const UseRequested& u);
std::optional<UseRequested> DecodeUseRequested(std::span<const uint8_t> p);
std::vector<uint8_t> EncodeEjectReply(const EjectReply& e);
std::optional<EjectReply> DecodeEjectReply(std::span<const uint8_t> p);
std::vector<uint8_t> EncodeSetEjectVeto(const SetEjectVeto& v);
// nullopt also for a veto name over kMaxVetoName bytes.
std::optional<SetEjectVeto> DecodeSetEjectVeto(std::span<const uint8_t> p);
// WriteData: the device number, then the data.
std::vector<uint8_t> EncodeWriteData(uint8_t number, std::span<const uint8_t> data);
std::optional<std::pair<uint8_t, std::vector<uint8_t>>> DecodeWriteData(std::span<const uint8_t> p);

}  // namespace tessaro::wire
