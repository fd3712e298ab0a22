// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/PrinterChoiceList.h"

#include <algorithm>

#include "base/AsciiText.h"

namespace tessaro::setup {
namespace {

// Local, network, file, parallel and serial ports reach other printers, never the device.
bool PortUnsuitable(int mark, const std::string& vendorId) {
  if (mark == 7) return vendorId != "08A6";
  return mark == 1 || mark == 3 || mark == 5 || mark == 6;
}

PrinterRow* FirstNamed(std::vector<PrinterRow>& rows, const std::string& name) {
  auto it =
      std::find_if(rows.begin(), rows.end(), [&](const PrinterRow& r) { return r.name == name; });
  return it == rows.end() ? nullptr : &*it;
}

void MarkOtherMakers(std::vector<PrinterRow>& rows, const std::vector<MakerSection>& makers,
                     int own) {
  for (PrinterRow& row : rows) {
    const std::string name = UpperAsciiText(row.name);
    for (size_t i = 0; i < makers.size() && row.state != RowState::Unavailable; ++i) {
      if (static_cast<int>(i) == own) continue;
      for (const std::string& keyword : makers[i].keywords) {
        if (!keyword.empty() && name.find(UpperAsciiText(keyword)) != std::string::npos) {
          row.state = RowState::Unavailable;
          row.mark = kMarkOtherMaker;
          break;
        }
      }
    }
  }
}

bool Taken(const PrinterRow& row) {
  return row.mark == kMarkSameKindTaken || row.mark == kMarkOtherKindTaken;
}

}  // namespace

int FindMakerSection(const std::vector<MakerSection>& makers, const std::string& vendorId) {
  for (size_t i = 0; i < makers.size(); ++i) {
    if (makers[i].vendorId == vendorId) return static_cast<int>(i);
  }
  return -1;
}

PrinterList FillPrinterList(const PrinterListInput& input) {
  PrinterList list{input.printers, -1};
  std::vector<PrinterRow>& rows = list.rows;
  if (rows.empty()) return list;
  for (PrinterRow& row : rows) {
    row.state = PortUnsuitable(row.mark, input.deviceVendorId) ? RowState::Unavailable
                                                               : RowState::Unchecked;
  }
  const int sameMark = input.printerMode ? kMarkSameKindTaken : kMarkOtherKindTaken;
  const int otherMark = input.printerMode ? kMarkOtherKindTaken : kMarkSameKindTaken;
  for (const std::string& name : input.sameKindTaken) {
    if (PrinterRow* row = FirstNamed(rows, name)) row->mark = sameMark;
  }
  for (const std::string& name : input.otherKindTaken) {
    if (PrinterRow* row = FirstNamed(rows, name)) {
      row->mark = otherMark;
      row->state = RowState::Unavailable;
    }
  }
  list.makerIndex = FindMakerSection(input.makers, input.deviceVendorId);
  if (list.makerIndex >= 0) MarkOtherMakers(rows, input.makers, list.makerIndex);
  // Taken rows go last, then the unavailable ones; stable so each group keeps its order.
  std::stable_partition(rows.begin(), rows.end(), [](const PrinterRow& r) { return !Taken(r); });
  std::stable_partition(rows.begin(), rows.end(),
                        [](const PrinterRow& r) { return r.state != RowState::Unavailable; });
  if (input.ownPrinterName) {
    auto own = std::find_if(rows.begin(), rows.end(),
                            [&](const PrinterRow& r) { return r.name == *input.ownPrinterName; });
    if (own != rows.end()) {
      own->state = RowState::Checked;
      std::rotate(rows.begin(), own, own + 1);
    }
  }
  return list;
}

}  // namespace tessaro::setup
