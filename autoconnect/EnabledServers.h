// SPDX-License-Identifier: GPL-2.0-or-later
// The servers the user enabled, read from the server entries of the user hive, and the SANE net
// backend's host list made from them: the client scans their scanners without a net.conf.
#pragma once

#include <string>
#include <vector>

#include "platform/Registry.h"

namespace tessaro {

// The addresses of the enabled server entries below `appKey`, in the hive's order, each once.
std::vector<std::string> EnabledServerIps(Registry& registry, const std::string& appKey);

// SANE_NET_HOSTS: `existing` (the user's own, ';'-separated) with each of `hosts` it lacks added.
std::string MergeSaneNetHosts(const std::string& existing, const std::vector<std::string>& hosts);

// Adds `hosts` to this process's SANE_NET_HOSTS. SANE reads it when it starts, once per process:
// call it before the first scan.
void ExportSaneNetHosts(const std::vector<std::string>& hosts);

}  // namespace tessaro
