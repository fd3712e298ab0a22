// SPDX-License-Identifier: GPL-2.0-or-later
// The printer maker table: one section per maker, read from "DOVavazod.ini" beside the program.
// The first line of a section gives the maker's USB vendor ID, the others keywords found in the
// names of that maker's printer drivers. Section and key names carry no meaning.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tessaro {

inline constexpr const char* kPrinterMakerFileName = "DOVavazod.ini";

struct PrinterMakerSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> lines;  // (key, value), no empty value
};

struct PrinterMakerTable {
  std::vector<PrinterMakerSection> sections;
  std::size_t count() const { return sections.size(); }
};

// Reads `programDir` + "/DOVavazod.ini" into `table`, replacing what it held. A missing or
// unreadable file leaves the table empty.
void LoadPrinterMakerTable(const std::string& programDir, PrinterMakerTable& table);

// The same on a file given by path (the loader above and tests).
PrinterMakerTable ReadPrinterMakerFile(const std::string& path);

}  // namespace tessaro
