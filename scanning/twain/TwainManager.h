// SPDX-License-Identifier: GPL-2.0-or-later
// This program's TWAIN data source manager: DSM_Entry over the scanner interface. Every scanner
// the interface lists is one data source; a native transfer hands over a packed DIB in a global
// block; a feeder's sheets are the pending transfers. The manager follows the standard's states
// (3 manager open, 4 source open, 5 enabled, 6 transfer ready, 7 transferring) and answers
// a triplet used out of turn with TWRC_FAILURE and TWCC_SEQERROR.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ScannerSource.h"
#include "scanning/twain/TwainTypes.h"

namespace tessaro::twain {

// The source's own user interface, shown when it is enabled with ShowUI: the user sets the
// scanner's options and starts (true) or cancels (false).
class SourceDialog {
 public:
  virtual ~SourceDialog() = default;
  virtual bool Run(const std::string& sourceName, ScannerDevice& device) = 0;
};

// The manager's source selection: the chosen source's name, or nullopt when cancelled.
class SelectSourceDialog {
 public:
  virtual ~SelectSourceDialog() = default;
  virtual std::optional<std::string> Choose(const std::vector<std::string>& sources,
                                            const std::string& current) = 0;
};

class TwainManager {
 public:
  // `windowsDirectory` is the emulated Windows folder holding WIN.INI.
  TwainManager(ScannerSource& scanners, std::string windowsDirectory);
  TwainManager(const TwainManager&) = delete;
  TwainManager& operator=(const TwainManager&) = delete;
  ~TwainManager();

  void SetSourceDialog(SourceDialog* dialog) { sourceDialog_ = dialog; }
  void SetSelectDialog(SelectSourceDialog* dialog) { selectDialog_ = dialog; }
  const std::string& windowsDirectory() const { return windowsDirectory_; }

  TW_UINT16 Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat,
                  TW_UINT16 msg, TW_MEMREF data);

  // What went wrong in the last failed transfer of any source, in words; empty when none.
  const std::string& LastErrorText() const { return lastError_; }

  // The manager DSM_Entry reaches. One at a time; nullptr uninstalls.
  static void Install(TwainManager* manager);

 private:
  struct Source;

  TW_UINT16 Fail(TW_UINT16 condition);
  TW_UINT16 Identity(TW_IDENTITY* destination, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 OpenSource(TW_IDENTITY* identity);
  TW_UINT16 CloseSource(TW_IDENTITY* identity);
  TW_UINT16 ToSource(Source& source, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 UserInterface(Source& source, TW_UINT16 msg);
  TW_UINT16 Capability(Source& source, TW_UINT16 msg, TW_CAPABILITY* capability);
  TW_UINT16 ImageInfo(Source& source, TW_IMAGEINFO* info);
  TW_UINT16 NativeTransfer(Source& source, TW_HANDLE* page);
  TW_UINT16 PendingTransfers(Source& source, TW_UINT16 msg, TW_PENDINGXFERS* pending);
  TW_UINT16 SourceFail(Source& source, TW_UINT16 condition, const std::string& text);
  void EndBatch(Source& source);
  std::vector<TW_IDENTITY> ListSources();
  TW_IDENTITY MakeIdentity(const ScannerDeviceInfo& device, TW_UINT32 id) const;

  ScannerSource& scanners_;
  std::string windowsDirectory_;
  SourceDialog* sourceDialog_ = nullptr;
  SelectSourceDialog* selectDialog_ = nullptr;
  bool open_ = false;
  TW_UINT16 condition_ = TWCC_SUCCESS;
  std::vector<TW_IDENTITY> listed_;
  std::size_t nextListed_ = 0;
  std::map<TW_UINT32, std::unique_ptr<Source>> sources_;
  TW_UINT32 nextId_ = 1;
  std::string lastError_;
};

// The standard's entry point, served by the installed manager (TWRC_FAILURE when none is).
TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat,
                    TW_UINT16 msg, TW_MEMREF data);

// "Loading TWAIN_32.DLL": the entry point while a manager is installed, else nullptr.
DsmEntryProc LoadTwainModule();

// The TWAIN condition that stands for a scanner's answer.
TW_UINT16 ConditionOf(ScanStatus status);

}  // namespace tessaro::twain
