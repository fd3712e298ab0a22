// SPDX-License-Identifier: GPL-2.0-or-later
// The logic of the settings dialog TNetWIASetFm: the group's name, format and folder, checked,
// and the group's free base name ("Picture", else "Picture 001", "Picture 002", ...).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/UiPort.h"

namespace tessaro::wia {

struct WiaScanSettings {
  std::string folder;            // ends with "/"
  std::string baseName;          // the group's name, numbered when the plain one was taken
  std::string extension;         // ".jpg" or ".bmp"
  bool replaceExisting = false;  // the user agreed to write over the group's files
};

inline constexpr std::size_t kMaxGroupName = 64;
inline constexpr std::size_t kMaxTargetPath = 250;
inline constexpr int kMaxGroupNumber = 1000;

// The base name for `name` in `folder`: the name itself when neither name + ext, name.bmp nor
// name.jpg exists, else name + " %03d" for the first free number up to 1000; nullopt when all
// are taken.
std::optional<std::string> FreeGroupBaseName(const std::string& folder, const std::string& name,
                                             const std::string& ext,
                                             const std::function<bool(const std::string&)>& exists);

// The folder with its "/" (unchanged when empty).
std::string WithTrailingSlash(const std::string& folder);

class TNetWIASetCore {
 public:
  TNetWIASetCore(UiPort& ui, std::string defaultFolder);

  // Show: the folder field gets the default folder when empty.
  void Show();
  // The folder chosen with Browse.
  void SetFolder(const std::string& folder) { FilePathEdit = WithTrailingSlash(folder); }
  // "Next >": the settings when they are complete and a name is free (or the user agreed to
  // write over the un-numbered one); nullopt keeps the dialog open after its message.
  std::optional<WiaScanSettings> NextBtnClick(
      const std::function<bool(const std::string&)>& exists);

  std::string FileNameEdit = "Picture";
  int FileFmtIndex = 0;  // 0 JPG, 1 BMP
  std::string FilePathEdit;
  const std::string& DefaultFolder() const { return defaultFolder_; }

 private:
  void Say(const std::string& text);
  UiPort& ui_;
  std::string defaultFolder_;
};

// The extension of a format index of the dialog: ".jpg" or ".bmp".
std::string ExtensionOfFormatIndex(int index);

}  // namespace tessaro::wia
