// SPDX-License-Identifier: GPL-2.0-or-later
// The wizard's printer list: marks, grey rows, order and the device's own choice on top.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/PrinterChoiceList.h"

namespace tessaro::setup {
namespace {

struct Expected {
  std::string name;
  int mark;
  RowState state;
};

void ExpectRows(const PrinterList& list, const std::vector<Expected>& expected) {
  ASSERT_EQ(list.rows.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(list.rows[i].name, expected[i].name);
    EXPECT_EQ(list.rows[i].mark, expected[i].mark);
    EXPECT_EQ(list.rows[i].state, expected[i].state);
  }
}

// Queues as the spooler lists them: a device queue, a file queue, a network queue, two more
// device queues and a serial one. Marks are port types (2: a device port, 3: TCP/IP, 5: file,
// 7: serial).
PrinterListInput Queues() {
  PrinterListInput input;
  input.printers = {{"Office Laser", "tessaro:/a", 2},       {"To File", "file:/tmp/out", 5},
                    {"Hall Inkjet", "socket://10.0.0.9", 3}, {"Other Maker Jet", "tessaro:/b", 2},
                    {"Fax Line", "tessaro:/c", 2},           {"Serial", "serial:/dev/ttyS0", 7}};
  input.makers = {{"04B8", {"Laser"}}, {"03F0", {"Jet"}}};
  input.deviceVendorId = "04B8";
  return input;
}

TEST(PrinterChoiceList, MarksGreysAndOrdersTheQueues) {
  PrinterListInput input = Queues();
  input.sameKindTaken = {"Office Laser"};
  input.otherKindTaken = {"Fax Line"};
  const PrinterList list = FillPrinterList(input);
  EXPECT_EQ(list.makerIndex, 0);
  ExpectRows(list, {{"Office Laser", kMarkSameKindTaken, RowState::Unchecked},
                    {"To File", 5, RowState::Unavailable},
                    {"Hall Inkjet", 3, RowState::Unavailable},
                    {"Other Maker Jet", kMarkOtherMaker, RowState::Unavailable},
                    {"Serial", 7, RowState::Unavailable},
                    {"Fax Line", kMarkOtherKindTaken, RowState::Unavailable}});
}

TEST(PrinterChoiceList, OwnChoiceComesFirstCheckedAndFaxModeSwapsTheMarks) {
  PrinterListInput input = Queues();
  input.printerMode = false;
  input.deviceVendorId = "08A6";  // a maker whose devices sit behind a serial port
  input.sameKindTaken = {"Office Laser"};
  input.ownPrinterName = "Fax Line";
  const PrinterList list = FillPrinterList(input);
  EXPECT_EQ(list.makerIndex, -1);
  ExpectRows(list, {{"Fax Line", 2, RowState::Checked},
                    {"Other Maker Jet", 2, RowState::Unchecked},
                    {"Serial", 7, RowState::Unchecked},
                    {"Office Laser", kMarkOtherKindTaken, RowState::Unchecked},
                    {"To File", 5, RowState::Unavailable},
                    {"Hall Inkjet", 3, RowState::Unavailable}});
}

TEST(PrinterChoiceList, NoQueuesGiveAnEmptyList) {
  PrinterListInput input;
  input.sameKindTaken = {"Gone"};
  input.ownPrinterName = "Gone";
  EXPECT_TRUE(FillPrinterList(input).rows.empty());
}

}  // namespace
}  // namespace tessaro::setup
