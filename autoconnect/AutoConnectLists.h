// SPDX-License-Identifier: GPL-2.0-or-later
// The in-memory lists built from the store at start-up, and the look-up the refresh, the device
// menu and Manage Device share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "records/AutoConnectRecords.h"

namespace tessaro {

// Appends, in registry order, every device entry with an enabled printer to `printers` and every
// one with an enabled fax printer to `faxes`. Server entries, entries without vendor and product
// ID and entries whose name does not match their own values are skipped; a device entry that
// cannot be read ends the load, keeping what was loaded so far.
void LoadAutoConnectLists(Registry& registry, const std::string& appKey, AutoLinkList& printers,
                          AutoLinkList& faxes);

// The declared scanner identities, without names that lack "Vid_" or "&Pid_" (the hive keeps
// them). False when the key could not be opened.
bool LoadScannerIdList(Registry& registry, const std::string& appKey,
                       std::vector<std::string>& scannerIds);

// Index of the first entry of `list` on server `serverMac` whose vendor, product and serial give
// `identityText`, with its printer name; -1 and an empty name when there is none.
int32_t FindAutoLinkEntry(const AutoLinkList& list, const std::string& serverMac,
                          const std::string& identityText, std::string& printerName);

// The gateway a first run enables its servers by: the first qualifying adapter's gateway, unless
// the user has stored server entries already or the system is Windows NT 4.0 (`windowsVersionFlags`
// with the NT 4 bit), which never looked. Empty when there is none.
std::string FirstRunGateway(Registry& registry, const std::string& appKey,
                            uint32_t windowsVersionFlags,
                            const std::vector<std::string>& defaultGateways);

}  // namespace tessaro
