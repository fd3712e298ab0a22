// SPDX-License-Identifier: GPL-2.0-or-later
#include "autoconnect/PrinterMakers.h"

#include "base/IniFile.h"

namespace tessaro {

PrinterMakerTable ReadPrinterMakerFile(const std::string& path) {
  PrinterMakerTable table;
  const auto ini = IniFile::Load(path);
  if (!ini) return table;
  for (const std::string& name : ini->SectionNames()) {
    PrinterMakerSection section{name, {}};
    // Each line's value is looked up by its key, so a repeated key answers with its first value.
    for (const std::string& key : ini->KeyNames(name)) {
      std::string value = ini->ReadString(name, key);
      if (!value.empty()) section.lines.emplace_back(key, std::move(value));
    }
    table.sections.push_back(std::move(section));
  }
  return table;
}

void LoadPrinterMakerTable(const std::string& programDir, PrinterMakerTable& table) {
  table = ReadPrinterMakerFile(programDir + "/" + kPrinterMakerFileName);
}

}  // namespace tessaro
