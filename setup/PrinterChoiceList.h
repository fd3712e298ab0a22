// SPDX-License-Identifier: GPL-2.0-or-later
// The wizard's printer list: which queues the device may be bound to, with their marks, order
// and the device's current choice on top. Pure data in, rows out; the form only draws them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessaro::setup {

// Marks beyond the port types: taken by another device's entry of the same kind (printer or
// fax), driver of another maker, taken by an entry of the other kind.
inline constexpr int kMarkSameKindTaken = 90;
inline constexpr int kMarkOtherMaker = 91;
inline constexpr int kMarkOtherKindTaken = 92;

enum class RowState { Unchecked = 0, Checked = 1, Unavailable = 2 };

struct PrinterRow {
  std::string name;
  std::string port;
  int mark = 0;  // the port type, or one of the marks above
  RowState state = RowState::Unchecked;
};

struct MakerSection {
  std::string vendorId;
  std::vector<std::string> keywords;  // found in that maker's driver names
};

struct PrinterListInput {
  std::vector<PrinterRow> printers;         // name, port and port-type mark of each queue
  std::vector<std::string> sameKindTaken;   // printers of the other entries of the same kind
  std::vector<std::string> otherKindTaken;  // printers of the entries of the other kind
  std::vector<MakerSection> makers;
  std::string deviceVendorId;
  bool printerMode = true;                    // editing printer entries, not fax entries
  std::optional<std::string> ownPrinterName;  // the device's own entry, when it has one
};

struct PrinterList {
  std::vector<PrinterRow> rows;
  int makerIndex = -1;
};

PrinterList FillPrinterList(const PrinterListInput& input);

// The first maker section whose vendor ID is `vendorId` exactly, or -1.
int FindMakerSection(const std::vector<MakerSection>& makers, const std::string& vendorId);

}  // namespace tessaro::setup
