// SPDX-License-Identifier: GPL-2.0-or-later
// The records the bus's lists make: what the refresh cycle merges into ServerList and the rows,
// and what the command line works on, alike.
#pragma once

#include "driver/ReplyParsers.h"
#include "records/ClientState.h"
#include "records/Records.h"

namespace tessaro {

// A server record's fields from its server-list entry; its enable flag and Spur stay.
void TakeServerFields(ServerData& server, const ServerEntry& entry);

// The row a device entry of `server`'s list makes: the server's Spur, name, address and MAC; the
// stored type (normalised against the scanner identities), display name and state text; the
// auto-connect printer and fax found in `state`'s lists; a storage device carries its server's
// storage mode instead. An unnamed device reads "USB Device": its numbered caption is the rows'
// to give.
DeviceData DeviceFromEntry(const DeviceEntry& entry, const ServerData& server,
                           const ClientState& state);

}  // namespace tessaro
