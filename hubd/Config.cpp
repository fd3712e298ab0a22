// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

#include "base/Ipv4Text.h"
#include "base/NumberText.h"
#include "hubd/DeviceDescription.h"
#include "protocol/UsbLayout.h"

namespace tessaro::hubd {

bool IsUsableServerAddress(std::string_view text) {
  const auto a = ParseIpv4(text);
  return a && *a != htonl(INADDR_ANY) && *a != htonl(INADDR_BROADCAST);
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsHex(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool ParseHex16(std::string_view s, uint16_t& out) {
  if (s.size() != 4 || !IsHex(s)) return false;
  out = static_cast<uint16_t>(std::stoul(std::string(s), nullptr, 16));
  return true;
}

// VID:PID[:SERIAL]; the serial is the rest, colons and all.
bool ParseUsbMatch(std::string_view s, DeviceConfig& d) {
  DeviceConfig::UsbMatch m;
  if (s.size() < 9 || s[4] != ':' || !ParseHex16(s.substr(0, 4), m.vendorId) ||
      !ParseHex16(s.substr(5, 4), m.productId))
    return false;
  if (s.size() > 9) {
    if (s[9] != ':' || s.size() == 10) return false;
    m.serial = std::string(s.substr(10));
  }
  d.match = m;
  return true;
}

// A port path as the kernel names a USB device: bus-port[.port...], such as 1-1.2.
bool IsUsbPort(std::string_view s) {
  const size_t dash = s.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == s.size()) return false;
  const auto digits = [](std::string_view part) {
    return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) {
      return c >= '0' && c <= '9';
    });
  };
  if (!digits(s.substr(0, dash))) return false;
  std::string_view rest = s.substr(dash + 1);
  while (true) {
    const size_t dot = rest.find('.');
    if (!digits(rest.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    rest.remove_prefix(dot + 1);
  }
}

bool ParseMac(std::string_view s, std::array<uint8_t, 6>& mac) {
  if (s.size() != 17) return false;
  for (size_t i = 0; i < 6; ++i) {
    const std::string_view pair = s.substr(i * 3, 2);
    if (!IsHex(pair) || (i < 5 && s[i * 3 + 2] != ':')) return false;
    mac[i] = static_cast<uint8_t>(std::stoul(std::string(pair), nullptr, 16));
  }
  return true;
}

bool ParseInt32(std::string_view s, int32_t& out) {
  const auto value = ParseNumber<int32_t>(s);
  if (value) out = *value;
  return value.has_value();
}

// Applies one key of [server]; an error message, or empty when the value was taken.
std::string ApplyServerKey(ServerConfig& c, const std::string& key, std::string_view v) {
  if (key == "name")
    c.name = v;
  else if (key == "address") {
    if (!IsUsableServerAddress(v))
      return "bad address \"" + std::string(v) + "\": want the server's own IPv4 address";
    c.address = v;
  } else if (key == "port") {
    const auto port = ParseNumberIn<uint16_t>(v, 1, 65535);
    if (!port) return "bad port \"" + std::string(v) + "\": want 1..65535";
    c.port = *port;
  } else if (key == "http-port") {
    const auto port = ParseNumber<uint16_t>(v);
    if (!port) return "bad http-port \"" + std::string(v) + "\": want 0..65535";
    c.httpPort = *port;
  } else if (key == "sane") {
    const std::string l = Lower(v);
    if (l != "yes" && l != "no") return "bad sane \"" + std::string(v) + "\": want yes or no";
    c.sane = l == "yes";
  } else if (key == "sane-port") {
    const auto port = ParseNumberIn<uint16_t>(v, 1, 65535);
    if (!port) return "bad sane-port \"" + std::string(v) + "\": want 1..65535";
    c.sanePort = *port;
  } else if (key == "mac") {
    if (!ParseMac(v, c.mac))
      return "bad mac \"" + std::string(v) + "\": want six hex pairs such as 00:1a:2b:3c:4d:5e";
  } else if (key == "usb") {
    const std::string l = Lower(v);
    if (l != "yes" && l != "no") return "bad usb \"" + std::string(v) + "\": want yes or no";
    c.usb = l == "yes";
  } else if (key == "storage-mode") {
    if (!ParseInt32(v, c.storageMode))
      return "bad storage-mode \"" + std::string(v) + "\": want an integer";
  } else {
    return "unknown key \"" + key + "\" in [server]";
  }
  return {};
}

std::string ApplyDeviceText(DeviceConfig& d, const std::string& key, std::string_view v) {
  std::string* field = key == "type"            ? &d.type
                       : key == "manufacturer"  ? &d.manufacturer
                       : key == "product"       ? &d.product
                       : key == "serial"        ? &d.serial
                       : key == "output-folder" ? &d.outputFolder
                       : key == "sane-device"   ? &d.saneDevice
                       : key == "driver-class"  ? &d.driverClass
                                                : nullptr;
  if (!field) return "unknown key \"" + key + "\" in [device " + std::to_string(d.number) + "]";
  *field = v;
  return {};
}

std::string ApplyDeviceKey(DeviceConfig& d, const std::string& key, std::string_view v) {
  const std::string value(v);
  if (key == "vendor-id" || key == "product-id") {
    if (!ParseHex16(v, key == "vendor-id" ? d.vendorId : d.productId))
      return "bad " + key + " \"" + value + "\": want 4 hex digits";
  } else if (key == "eject-veto") {
    const auto veto = ParseNumber<uint32_t>(v);
    if (!veto) return "bad eject-veto \"" + value + "\": want a number";
    d.ejectVeto = *veto;
  } else if (key == "class") {
    if (!wire::ParseClassTriple(v))
      return "bad class \"" + value + "\": want hex triple such as 07/01/02";
    d.usbClass = value;
  } else if (key == "interfaces") {
    const auto list = wire::ParseClassTripleList(v);
    if (!list)
      return "bad interfaces \"" + value +
             "\": want comma-separated triples such as 07/01/02,ff/ff/ff";
    if (list->size() > wire::kMaxInterfaces)
      return "bad interfaces \"" + value + "\": at most " + std::to_string(wire::kMaxInterfaces) +
             " functions";
    d.interfaces = value;
  } else if (key == "eject-veto-name") {
    if (v.size() > wire::kMaxVetoName)
      return "bad eject-veto-name: at most " + std::to_string(wire::kMaxVetoName) + " bytes";
    d.ejectVetoName = value;
  } else if (key == "match") {
    if (!ParseUsbMatch(v, d))
      return "bad match \"" + value + "\": want VID:PID or VID:PID:SERIAL, IDs as 4 hex digits";
  } else if (key == "usb-port") {
    if (!IsUsbPort(v)) return "bad usb-port \"" + value + "\": want a port path such as 1-1.2";
    d.usbPort = value;
  } else if (key == "hide") {
    const std::string l = Lower(v);
    if (l != "yes" && l != "no") return "bad hide \"" + value + "\": want yes or no";
    d.hide = l == "yes";
  } else if (key == "dot4") {
    const std::string l = Lower(v);
    if (l != "yes" && l != "no") return "bad dot4 \"" + value + "\": want yes or no";
    d.dot4 = l;
  } else {
    return ApplyDeviceText(d, key, v);
  }
  return {};
}

class Parser {
 public:
  explicit Parser(std::string_view fileName) : file_(fileName) {}

  ConfigResult Run(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::string line;
    while (error_.empty() && std::getline(in, line)) {
      ++line_;
      Line(Trim(line));
    }
    if (error_.empty()) CloseSection();
    if (error_.empty()) Finish();
    if (!error_.empty()) return {std::nullopt, error_};
    return {std::move(config_), {}};
  }

 private:
  enum class Section { None, Server, Device };

  void Fail(size_t line, const std::string& message) {
    if (error_.empty()) error_ = file_ + ":" + std::to_string(line) + ": " + message;
  }

  void Line(std::string_view s) {
    if (s.empty() || s.front() == '#' || s.front() == ';') return;
    if (s.front() == '[') return Header(s);
    const size_t eq = s.find('=');
    if (eq == std::string_view::npos) return Fail(line_, "expected key = value or [section]");
    const std::string key = Lower(Trim(s.substr(0, eq)));
    const std::string_view value = Trim(s.substr(eq + 1));
    if (section_ == Section::None) return Fail(line_, "\"" + key + "\" outside any section");
    if (!keys_.insert(key).second) return Fail(line_, "key \"" + key + "\" given twice");
    const std::string err = section_ == Section::Server ? ApplyServerKey(config_.server, key, value)
                                                        : ApplyDeviceKey(device_, key, value);
    if (!err.empty()) Fail(line_, err);
  }

  void Header(std::string_view s) {
    if (s.back() != ']') return Fail(line_, "section header without ']'");
    CloseSection();
    const std::string_view inner = Trim(s.substr(1, s.size() - 2));
    const std::string word = Lower(Trim(inner.substr(0, inner.find_first_of(" \t"))));
    keys_.clear();
    sectionLine_ = line_;
    if (word == "server" && inner.size() == word.size()) return OpenServer();
    if (word == "device") return OpenDevice(Trim(inner.substr(word.size())));
    Fail(line_, "unknown section [" + std::string(inner) + "]");
  }

  void OpenServer() {
    if (seenServer_) return Fail(line_, "second [server] section");
    seenServer_ = true;
    section_ = Section::Server;
  }

  void OpenDevice(std::string_view number) {
    const auto parsed = ParseNumber<uint64_t>(number);
    if (!parsed) return Fail(line_, "bad device number \"" + std::string(number) + "\"");
    const uint64_t n = *parsed;
    if (n < 1 || n > 127)
      return Fail(line_, "device number " + std::to_string(n) + " outside 1..127");
    if (!numbers_.insert(static_cast<uint8_t>(n)).second)
      return Fail(line_, "device number " + std::to_string(n) + " given twice");
    device_ = DeviceConfig{};
    device_.number = static_cast<uint8_t>(n);
    section_ = Section::Device;
  }

  void CloseSection() {
    if (section_ == Section::Device) {
      const std::string name = "[device " + std::to_string(device_.number) + "]";
      if (device_.match && !device_.usbPort.empty())
        Fail(sectionLine_, name + " has both match and usb-port: give one");
      if (device_.NamesUsbDevice() && (keys_.count("vendor-id") || keys_.count("product-id")))
        Fail(sectionLine_, name + " names a USB device: its IDs come from the device");
      if (!device_.NamesUsbDevice() && !keys_.count("vendor-id"))
        Fail(sectionLine_, name + " has no vendor-id");
      if (!device_.NamesUsbDevice() && !keys_.count("product-id"))
        Fail(sectionLine_, name + " has no product-id");
      if (!device_.NamesUsbDevice() && device_.hide)
        Fail(sectionLine_, name + ": hide is for a section with match or usb-port");
      config_.devices.push_back(device_);
    }
    section_ = Section::None;
  }

  void Finish() {
    std::sort(config_.devices.begin(), config_.devices.end(),
              [](const DeviceConfig& a, const DeviceConfig& b) { return a.number < b.number; });
    if (!DeviceListFitsOneFrame(config_.devices))
      error_ = file_ + ": the device list is too large for one frame; shorten its texts";
  }

  std::string file_;
  size_t line_ = 0;
  size_t sectionLine_ = 0;
  Section section_ = Section::None;
  bool seenServer_ = false;
  std::set<std::string> keys_;
  std::set<uint8_t> numbers_;
  DeviceConfig device_;
  HubConfig config_;
  std::string error_;
};

}  // namespace

ConfigResult ParseConfig(std::string_view text, std::string_view fileName) {
  return Parser(fileName).Run(text);
}

ConfigResult LoadConfig(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {std::nullopt, path + ": cannot read the file"};
  std::ostringstream text;
  text << in.rdbuf();
  return ParseConfig(text.str(), path);
}

}  // namespace tessaro::hubd
