// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/twain/TwainScanner.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/Product.h"
#include "scanning/twain/GlobalBlock.h"
#include "scanning/twain/TwainManager.h"
#include "scanning/twain/WinIni.h"

namespace tessaro::twain {
namespace {

// The manager's entry point, one for every instance, as a loaded module's would be.
DsmEntryProc dsmEntry = nullptr;

constexpr std::array<TW_UINT16, 16> kLanguageCodes = {1, 2, 5,  6,  13, 8,  11, 9,
                                                      4, 0, 78, 10, 12, 75, 63, 85};
constexpr std::array<TW_UINT16, 16> kCountryCodes = {31,  6,  33, 49,  1,  34, 39, 45,
                                                     358, 47, 7,  351, 46, 48, 30, 90};

void Require(bool condition, const char* text) {
  if (!condition) throw ETwainAssertion(text);
}

void SetName(char (&field)[34], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), std::min<std::size_t>(text.size(), 32));
}

std::string GetName(const char (&field)[34]) {
  return std::string(field, strnlen(field, sizeof field));
}

}  // namespace

TW_UINT16 LanguageCode(TLanguageType language) {
  return kLanguageCodes.at(static_cast<std::size_t>(language));
}

TLanguageType LanguageFromCode(TW_UINT16 code) {
  const auto at = std::find(kLanguageCodes.begin(), kLanguageCodes.end(), code);
  return at == kLanguageCodes.end() ? lgDutch
                                    : static_cast<TLanguageType>(at - kLanguageCodes.begin());
}

TW_UINT16 CountryCode(TCountryType country) {
  return kCountryCodes.at(static_cast<std::size_t>(country));
}

TCountryType CountryFromCode(TW_UINT16 code) {
  const auto at = std::find(kCountryCodes.begin(), kCountryCodes.end(), code);
  return at == kCountryCodes.end() ? ctNetherlands
                                   : static_cast<TCountryType>(at - kCountryCodes.begin());
}

std::string Condition2String(TW_UINT16 condition) {
  switch (condition) {
    case 0: return "Operation was succesful.";
    case 1: return "General failure. Unload Source immediately.";
    case 2: return "Not enough memory to complete the operation.";
    case 3: return "Data Source Manager was unable to find the specified Data Source.";
    case 4: return "Data Source is connected to maximum supported number of \r\napplications.";
    case 5:
      return "Data Source or Data Source Manager reported an error to the\r\nuser and handled "
             "the error. No application action required.";
    case 6:
      return "Capability not supported by source or operation (get,\r\nset) is not supported on "
             "capability, or capability had\r\ndependencies on other capabilities and cannot "
             "be\r\noperated upon at this time";
    case 9: return "Unrecognized operation triplet.";
    case 10: return "Data parameter out of supported range.";
    case 11: return "Illegal operation for current Data Source Manager\r\nand Data Source state.";
    case 12: return "Unknown destination in DSM_Entry.";
    case 13: return "Capability not supported by Data Source.";
    case 14: return "Operation not supported on capability.";
    case 15:
      return "Capability has dependencies on other capabilities and \r\ncannot be operated upon "
             "at this time.";
    case 16: return "File System operation is denied (file is protected).";
    case 17: return "Operation failed because file already exists.";
    case 18: return "File not found.";
    case 19: return "Operation failed because directory is not empty.";
    case 20:
    case 21: return "Transfer failed because of a feeder error";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "Unknown condition %.04x", condition);
      return text;
    }
  }
}

TTwainScanner::TTwainScanner(TwainHost& host) : host_(host) {
  SetProductname("Tessaro TWAIN");
  SetManufacturer(CompanyName);
  SetProductFamily("Tessaro");
  SetVersionInfo("Twain component");
  appId_.Version.MajorNum = 1;
  appId_.Version.MinorNum = 0;
  SetLanguage(lgAmerican);
  SetCountry(ctUSA);
  SetFilename("C:\\TWAIN.BMP");
}

TTwainScanner::~TTwainScanner() {
  // Teardown never throws: whatever state the manager is in, the component goes.
  try {
    if (sourceEnabled_) DisableDataSource();
    if (sourceOpen_) CloseDataSource();
    if (managerOpen_) CloseDataSourceManager();
  } catch (const std::exception&) {}
  UnloadDsm();
  RestoreDefaultSourceEntry();
  if (hookInstalled_) host_.ReplaceMessageHandler(std::move(previousHandler_));
}

std::string TTwainScanner::Productname() const { return GetName(appId_.ProductName); }
void TTwainScanner::SetProductname(const std::string& value) { SetName(appId_.ProductName, value); }
std::string TTwainScanner::Manufacturer() const { return GetName(appId_.Manufacturer); }
void TTwainScanner::SetManufacturer(const std::string& value) {
  SetName(appId_.Manufacturer, value);
}
std::string TTwainScanner::ProductFamily() const { return GetName(appId_.ProductFamily); }
void TTwainScanner::SetProductFamily(const std::string& value) {
  SetName(appId_.ProductFamily, value);
}
std::string TTwainScanner::VersionInfo() const { return GetName(appId_.Version.Info); }
void TTwainScanner::SetVersionInfo(const std::string& value) {
  SetName(appId_.Version.Info, value);
}

TImageType TTwainScanner::FileFormat() const {
  return imageType_ <= ffEXIF ? static_cast<TImageType>(imageType_) : ffUNKNOWN;
}

void TTwainScanner::SetFileFormat(TImageType value) {
  imageType_ = static_cast<TW_UINT16>(value >= ffTIFF && value <= ffEXIF ? value : ffBMP);
}

std::string TTwainScanner::Filename() const {
  return std::string(filename_, strnlen(filename_, sizeof filename_));
}

void TTwainScanner::SetFilename(const std::string& value) {
  std::memset(filename_, 0, sizeof filename_);
  std::memcpy(filename_, value.data(), std::min<std::size_t>(value.size(), 255));
}

bool TTwainScanner::IsTwainDriverAvailable() {
  return TwainDataSourceInstalled(host_.WindowsDirectory());
}

bool TTwainScanner::LoadDsm() {
  if (!dsmLoaded_) {
    dsmEntry = LoadTwainModule();
    dsmLoaded_ = dsmEntry != nullptr;
  }
  return dsmLoaded_;
}

void TTwainScanner::UnloadDsm() {
  if (!dsmLoaded_) return;
  dsmEntry = nullptr;
  dsmLoaded_ = false;
}

void TTwainScanner::InitTWAIN() {
  parentWindow_ = host_.MainWindowHandle();
  appId_.Id = parentWindow_;
  LoadDsm();
  previousHandler_ = host_.ReplaceMessageHandler(
      [this](const AppMessage& message, bool& handled) { MessageHook(message, handled); });
  hookInstalled_ = true;
  OpenDataSourceManager();
}

void TTwainScanner::MessageHook(const AppMessage& message, bool& handled) {
  handled = ProcessSourceMessage(message);
  if (previousHandler_) previousHandler_(message, handled);
}

TW_UINT16 TTwainScanner::CallDataSourceManager(TW_IDENTITY* destination, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  Require(dsmEntry != nullptr, "Assertion failure");
  return dsmEntry(&appId_, destination, dg, dat, msg, data);
}

TW_UINT16 TTwainScanner::CallDataSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                        TW_MEMREF data) {
  return CallDataSourceManager(&sourceId_, dg, dat, msg, data);
}

void TTwainScanner::OpenDataSourceManager() {
  if (managerOpen_) return;
  Require(appId_.Id != 0, "Assertion failure");
  if (!LoadDsm()) throw ETwainError(ERR_TWAIN_NOT_LOADED);
  appId_.ProtocolMajor = 1;
  appId_.ProtocolMinor = 7;
  appId_.SupportedGroups = kSupportedGroups;
  uint32_t parent = parentWindow_;
  CallDataSourceManager(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);
  managerOpen_ = true;
}

void TTwainScanner::CloseDataSourceManager() {
  if (sourceOpen_) throw ETwainError(ERR_DSM_OPEN);
  if (managerOpen_) {
    uint32_t parent = parentWindow_;
    CallDataSourceManager(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    managerOpen_ = false;
  }
  UnloadDsm();
  RestoreDefaultSourceEntry();
}

void TTwainScanner::OpenDataSource() {
  Require(managerOpen_, "Data Source Manager must be open");
  if (sourceOpen_) return;
  CallDataSourceManager(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &sourceId_);
  sourceOpen_ = true;
}

void TTwainScanner::CloseDataSource() {
  Require(managerOpen_, "Data Source Manager must be open");
  if (!sourceOpen_) return;
  CallDataSourceManager(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceId_);
  sourceOpen_ = false;
}

TW_UINT16 TTwainScanner::EnableDataSource() {
  Require(sourceOpen_, "Data Source must be open");
  if (sourceEnabled_) return TWRC_SUCCESS;
  uint32_t parent = parentWindow_;
  TW_USERINTERFACE ui{static_cast<TW_BOOL>(showUi_ ? 0xFFFF : 0), 0xFFFF, &parent};
  const TW_UINT16 result = CallDataSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
  sourceEnabled_ = result == TWRC_SUCCESS;
  return result;
}

void TTwainScanner::DisableDataSource() {
  Require(sourceOpen_, "Data Source must be open");
  if (!sourceEnabled_) return;
  uint32_t parent = parentWindow_;
  TW_USERINTERFACE ui{0xFFFF, 0, &parent};
  CallDataSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
  sourceEnabled_ = false;
}

void TTwainScanner::SelectDataSource() {
  SaveDefaultSourceEntry();
  Require(!sourceOpen_, "Data Source must be closed");
  TW_IDENTITY chosen{};
  CallDataSourceManager(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &chosen);
  if (CallDataSourceManager(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen) ==
      TWRC_SUCCESS) {
    sourceId_ = chosen;
  }
}

bool TTwainScanner::SetOneValue(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 item, bool both) {
  TW_HANDLE block = GlobalBlockAlloc(sizeof(TW_ONEVALUE));
  auto* value = static_cast<TW_ONEVALUE*>(GlobalBlockLock(block));
  Require(value != nullptr, "Assertion failure");
  value->ItemType = itemType;
  value->Item = item;
  GlobalBlockUnlock(block);
  TW_CAPABILITY capability{cap, TWON_ONEVALUE, block};
  TW_UINT16 result = CallDataSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
  if (both) {
    capability.Cap = ICAP_YRESOLUTION;
    result = CallDataSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
  }
  GlobalBlockFree(block);
  return result == TWRC_SUCCESS;
}

void TTwainScanner::XferMech() {
  destination_ = xfNative;
  constexpr TW_UINT16 kMechanisms[] = {TWSX_NATIVE, TWSX_MEMORY, TWSX_FILE};
  SetOneValue(ICAP_XFERMECH, TWTY_UINT16, kMechanisms[destination_], false);
}

TW_UINT16 TTwainScanner::Acquire(const void* bitmap) {
  targetBitmap_ = bitmap;
  OpenDataSourceManager();
  OpenDataSource();
  XferMech();
  return EnableDataSource();
}

TW_UINT16 TTwainScanner::GetImageInfo(TW_IMAGEINFO& info) {
  TW_IMAGEINFO read{};
  const TW_UINT16 result = CallDataSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &read);
  if (result == TWRC_SUCCESS) info = read;
  return result;
}

bool TTwainScanner::SetImageInfo(const TW_IMAGEINFO& info) {
  TW_UINT32 item = 0;
  static_assert(sizeof item == sizeof info.XResolution);
  std::memcpy(&item, &info.XResolution, sizeof item);
  return SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, item, true);
}

bool TTwainScanner::ProcessSourceMessage(const AppMessage& message) {
  if (!managerOpen_ || !sourceOpen_) return false;
  AppMessage copy = message;
  TW_EVENT event{&copy, MSG_NULL};
  const TW_UINT16 result = CallDataSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
  switch (event.TWMessage) {
    case MSG_XFERREADY: TransferLoop(); break;
    case MSG_CLOSEDSREQ:
      DisableDataSource();
      CloseDataSource();
      if (OnScanClose) OnScanClose(*this);
      break;
    case MSG_CLOSEDSOK:
      DisableDataSource();
      CloseDataSource();
      break;
    default: break;
  }
  return result != TWRC_NOTDSEVENT;
}

void TTwainScanner::NativeTransfer() {
  transferFailed_ = false;
  pageHandle_ = nullptr;
  TW_HANDLE page = nullptr;
  const TW_UINT16 result = CallDataSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &page);
  if (result == TWRC_XFERDONE) {
    pageHandle_ = page;
    return;
  }
  transferFailed_ = true;
  TW_STATUS status{};
  if (result == TWRC_FAILURE &&
      CallDataSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS) {
    lastTransferCondition_ = status.ConditionCode;
  }
}

void TTwainScanner::TransferLoop() {
  lastPage_ = cancelRequested_ = transferFailed_ = false;
  pageHandle_ = nullptr;
  lastTransferCondition_ = TWCC_SUCCESS;
  bool done = false;
  while (!done) {
    if (OnScanStart) OnScanStart(*this);
    if (cancelRequested_) {
      lastPage_ = true;
      done = true;
    } else {
      NativeTransfer();
    }
    if (!done) {
      TW_PENDINGXFERS pending{};
      CallDataSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
      lastPage_ = pending.Count == 0;
      done = lastPage_;
    }
    if (transferFailed_ || cancelRequested_) {
      lastPage_ = true;
      done = true;
      TW_PENDINGXFERS pending{};
      CallDataSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    }
    if (!cancelRequested_) {
      if (OnScanReady) {
        OnScanReady(*this);
      } else {
        // Nobody takes the page over: it must not outlive the transfer.
        GlobalBlockFree(std::exchange(pageHandle_, nullptr));
      }
    }
  }
  if (sourceEnabled_) DisableDataSource();
  if (sourceOpen_) CloseDataSource();
  if (transferFailed_ && OnScanCancel) OnScanCancel(*this);
}

void TTwainScanner::SaveDefaultSourceEntry() {
  if (!savedDefaultSource_.empty()) return;
  savedDefaultSource_ = ReadDefaultSourceEntry(host_.WindowsDirectory());
}

void TTwainScanner::RestoreDefaultSourceEntry() {
  if (savedDefaultSource_.empty()) return;
  WriteDefaultSourceEntry(host_.WindowsDirectory(), savedDefaultSource_);
  savedDefaultSource_.clear();
}

void TTwainScanner::RaiseCondition(TW_IDENTITY* destination, const std::string& module) {
  TW_STATUS status{};
  if (CallDataSourceManager(destination, DG_CONTROL, DAT_STATUS, MSG_GET, &status) !=
      TWRC_SUCCESS) {
    throw ETwainError(ERR_STATUS);
  }
  const std::string condition = Condition2String(status.ConditionCode);
  std::string text = ERR_DSM;
  const auto first = text.find("%s");
  text.replace(first, 2, module);
  text.replace(text.find("%s", first + module.size()), 2, condition);
  throw ETwainError(text);
}

void TTwainScanner::RaiseLastDataSourceManagerCondition(const std::string& module) {
  RaiseCondition(nullptr, module);
}

void TTwainScanner::RaiseLastDataSourceCondition(const std::string& module) {
  RaiseCondition(&sourceId_, module);
}

}  // namespace tessaro::twain
