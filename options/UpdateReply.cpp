// SPDX-License-Identifier: GPL-2.0-or-later
#include "options/UpdateReply.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdint>

#include "base/AsciiText.h"
#include "base/NumberText.h"

namespace tessaro {
namespace {

std::optional<std::string> VersionPart(const pugi::xml_node& version, const char* name) {
  std::string_view text = version.child(name).text().get();
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  const auto value = ParseNumber<int32_t>(text);
  if (!value || *value < 0) return std::nullopt;
  return std::to_string(*value);
}

// Leading digits of one dotted part; none counts as 0.
uint64_t PartNumber(std::string_view part) {
  uint64_t value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') break;
    if (value < (UINT64_MAX - 9) / 10) value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

std::vector<uint64_t> VersionParts(std::string_view text) {
  std::vector<uint64_t> parts;
  while (true) {
    const std::size_t dot = text.find('.');
    parts.push_back(PartNumber(text.substr(0, dot)));
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts;
}

}  // namespace

std::optional<UpdateReply> ReadUpdateReply(std::string_view body) {
  pugi::xml_document document;
  if (!document.load_buffer(body.data(), body.size())) return std::nullopt;
  const pugi::xml_node root = document.document_element();
  const pugi::xml_node defaults = root.child("Default");
  if (!defaults) return std::nullopt;

  UpdateReply reply;
  if (const pugi::xml_node version = defaults.child("FW_Version")) {
    const auto major = VersionPart(version, "Major");
    const auto minor = VersionPart(version, "Minor");
    if (!major || !minor) return std::nullopt;
    reply.hasVersion = true;
    reply.major = *major;
    reply.minor = *minor;
    reply.date = version.child("Date").text().get();
  }
  for (const pugi::xml_node site : defaults.child("Download_Site").children()) {
    if (site.type() != pugi::node_element) continue;
    reply.sites.push_back({site.name(), site.child("Firmware").text().get()});
  }
  return reply;
}

bool VersionIsNewer(std::string_view latest, std::string_view installed) {
  if (latest.empty()) return false;
  if (installed.empty()) return true;
  std::vector<uint64_t> a = VersionParts(latest);
  std::vector<uint64_t> b = VersionParts(installed);
  const std::size_t size = std::max(a.size(), b.size());
  a.resize(size, 0);
  b.resize(size, 0);
  return a > b;
}

std::string GlobalDownloadAddress(const std::vector<DownloadSite>& sites) {
  std::string address;
  for (const DownloadSite& site : sites) {
    if (site.name == "Global") address = site.address;
  }
  return address;
}

std::string ReleaseDateText(std::string date) {
  for (int i = 0; i < 2; ++i) {
    const std::size_t hyphen = date.find('-');
    if (hyphen == std::string::npos) break;
    date[hyphen] = '/';
  }
  return date;
}

bool IsWebAddress(std::string_view address) {
  return StartsWithNoCase(address, "http://") || StartsWithNoCase(address, "https://");
}

}  // namespace tessaro
