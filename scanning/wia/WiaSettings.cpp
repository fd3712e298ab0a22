// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/wia/WiaSettings.h"

#include <cstdio>

#include "scanning/wia/WiaTexts.h"

namespace tessaro::wia {

std::optional<std::string> FreeGroupBaseName(
    const std::string& folder, const std::string& name, const std::string& ext,
    const std::function<bool(const std::string&)>& exists) {
  const auto taken = [&](const std::string& base) {
    const std::string stem = folder + base;
    return exists(stem + ext) || exists(stem + ".bmp") || exists(stem + ".jpg");
  };
  if (!taken(name)) return name;
  for (int i = 1; i <= kMaxGroupNumber; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, " %03d", i);
    if (!taken(name + number)) return name + number;
  }
  return std::nullopt;
}

std::string WithTrailingSlash(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

std::string ExtensionOfFormatIndex(int index) { return index == 1 ? ".bmp" : ".jpg"; }

TNetWIASetCore::TNetWIASetCore(UiPort& ui, std::string defaultFolder)
    : ui_(ui), defaultFolder_(WithTrailingSlash(defaultFolder)) {}

void TNetWIASetCore::Show() {
  if (FilePathEdit.empty()) FilePathEdit = defaultFolder_;
}

void TNetWIASetCore::Say(const std::string& text) {
  ui_.ShowMessage({kWiaCaption, text, mb::kOk, true});
}

std::optional<WiaScanSettings> TNetWIASetCore::NextBtnClick(
    const std::function<bool(const std::string&)>& exists) {
  if (FileNameEdit.empty()) {
    Say(SNo_PFile_Name);
    return std::nullopt;
  }
  if (FilePathEdit.empty()) {
    Say(SNo_PFile_Path);
    return std::nullopt;
  }
  // A name with a folder in it would scan somewhere the user did not choose.
  if (FileNameEdit.find('/') != std::string::npos || FileNameEdit.size() > kMaxGroupName) {
    Say(std::string(SFile_Save_Err) + "\n\n" + FileNameEdit);
    return std::nullopt;
  }
  WiaScanSettings settings;
  settings.folder = WithTrailingSlash(FilePathEdit);
  settings.extension = ExtensionOfFormatIndex(FileFmtIndex);
  const std::string target = settings.folder + FileNameEdit + settings.extension;
  if (target.size() > kMaxTargetPath) {
    Say(std::string(SFile_Save_Err) + "\n\n" + target);
    return std::nullopt;
  }
  if (auto base = FreeGroupBaseName(settings.folder, FileNameEdit, settings.extension, exists)) {
    settings.baseName = *base;
    return settings;
  }
  const int choice = ui_.ShowMessage({kWiaCaption, SFile_Open_Exist, mb::kYesNo, true});
  if (choice != answer::kYes) return std::nullopt;
  settings.baseName = FileNameEdit;
  settings.replaceExisting = true;
  return settings;
}

}  // namespace tessaro::wia
