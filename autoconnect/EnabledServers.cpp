// SPDX-License-Identifier: GPL-2.0-or-later
#include "autoconnect/EnabledServers.h"

#include <algorithm>
#include <cstdlib>

#include "autoconnect/AutoConnectStore.h"

namespace tessaro {

namespace {

constexpr std::string_view kIpPrefix = "IP_";
constexpr std::string_view kMacPart = "&MAC_";

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

std::vector<std::string> EnabledServerIps(Registry& registry, const std::string& appKey) {
  std::vector<std::string> names;
  std::vector<std::string> ips;
  if (!ListAutoConnectKeys(registry, appKey, names)) return ips;
  for (const std::string& name : names) {
    // A server entry is "IP_<ip>&MAC_<mac>"; device entries go on with "&Vid_".
    const size_t mac = name.find(kMacPart);
    if (!name.starts_with(kIpPrefix) || mac == std::string::npos) continue;
    if (name.find('&', mac + kMacPart.size()) != std::string::npos) continue;
    ServerInfoReg entry;
    entry.ServerIP = name.substr(kIpPrefix.size(), mac - kIpPrefix.size());
    entry.ServerMAC = name.substr(mac + kMacPart.size());
    if (ReadServerEntry(registry, appKey, entry) && entry.ServerEnable == 1 &&
        !Contains(ips, entry.ServerIP))
      ips.push_back(entry.ServerIP);
  }
  return ips;
}

std::string MergeSaneNetHosts(const std::string& existing, const std::vector<std::string>& hosts) {
  std::vector<std::string> listed;
  for (size_t start = 0; start <= existing.size();) {
    const size_t end = std::min(existing.find(';', start), existing.size());
    if (end > start) listed.push_back(existing.substr(start, end - start));
    start = end + 1;
  }
  std::string merged = existing;
  for (const std::string& host : hosts) {
    if (host.empty() || Contains(listed, host)) continue;
    listed.push_back(host);
    if (!merged.empty() && merged.back() != ';') merged += ';';
    merged += host;
  }
  return merged;
}

void ExportSaneNetHosts(const std::vector<std::string>& hosts) {
  const char* existing = std::getenv("SANE_NET_HOSTS");
  const std::string merged = MergeSaneNetHosts(existing ? existing : "", hosts);
  if (!merged.empty()) ::setenv("SANE_NET_HOSTS", merged.c_str(), 1);
}

}  // namespace tessaro
