// SPDX-License-Identifier: GPL-2.0-or-later
// The TWAIN component: opens the data source manager with the application's identity, opens and
// enables one data source, routes the application's messages to it and runs the transfer loop,
// with an event before and after every page. A page is a packed DIB in a global block that the
// owner takes over in OnScanReady.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "scanning/twain/TwainTypes.h"

namespace tessaro::twain {

enum TImageType {
  ffTIFF,
  ffPICT,
  ffBMP,
  ffXBM,
  ffJFIF,
  ffFPX,
  ffTIFFMULTI,
  ffPNG,
  ffSPIFF,
  ffEXIF,
  ffUNKNOWN
};
enum TTransferType { xfNative, xfMemory, xfFile };
enum TLanguageType {
  lgDutch,
  lgEnglish,
  lgFrench,
  lgGerman,
  lgAmerican,
  lgItalian,
  lgSpanish,
  lgNorwegian,
  lgFinnish,
  lgDanish,
  lgRussian,
  lgPortuguese,
  lgSwedish,
  lgPolish,
  lgGreek,
  lgTurkish
};
enum TCountryType {
  ctNetherlands,
  ctEngland,
  ctFrance,
  ctGermany,
  ctUSA,
  ctSpain,
  ctItaly,
  ctDenmark,
  ctFinland,
  ctNorway,
  ctRussia,
  ctPortugal,
  ctSweden,
  ctPoland,
  ctGreece,
  ctTurkey
};

inline constexpr char ERR_TWAIN_NOT_LOADED[] = "Unable to load or find: TWAIN_32.DLL";
inline constexpr char ERR_DSM_OPEN[] =
    "Unable to close the Data Source Manager. Maybe a source is still in use";
inline constexpr char ERR_STATUS[] = "Unable to get the status";
inline constexpr char ERR_DSM[] = "Data Source Manager error in module %s:\r\n%s";

class ETwainError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A call made out of order (a programming error, never a scanner's fault).
class ETwainAssertion : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// One message of the application's message loop.
struct AppMessage {
  uint32_t window = 0;
  uint32_t id = 0;
};
using MessageHandler = std::function<void(const AppMessage& message, bool& handled)>;

// The application as the component sees it.
class TwainHost {
 public:
  virtual ~TwainHost() = default;
  virtual uint32_t MainWindowHandle() = 0;
  // The emulated Windows folder (WIN.INI, TWAIN_32).
  virtual std::string WindowsDirectory() = 0;
  // Installs `handler` for every message the loop retrieves; returns the one it replaces.
  virtual MessageHandler ReplaceMessageHandler(MessageHandler handler) = 0;
  virtual int ScreenCursor() = 0;
  virtual void SetScreenCursor(int cursor) = 0;
};

std::string Condition2String(TW_UINT16 condition);
// TWAIN codes of the language and country tables; an unknown code reads as the first entry.
TW_UINT16 LanguageCode(TLanguageType language);
TLanguageType LanguageFromCode(TW_UINT16 code);
TW_UINT16 CountryCode(TCountryType country);
TCountryType CountryFromCode(TW_UINT16 code);

class TTwainScanner {
 public:
  using NotifyEvent = std::function<void(TTwainScanner& sender)>;

  explicit TTwainScanner(TwainHost& host);
  TTwainScanner(const TTwainScanner&) = delete;
  TTwainScanner& operator=(const TTwainScanner&) = delete;
  ~TTwainScanner();

  NotifyEvent OnScanReady, OnScanStart, OnScanCancel, OnScanClose;

  // Properties.
  TTransferType Destination() const { return destination_; }
  void SetDestination(TTransferType value) { destination_ = value; }
  bool TwainDriverFound() { return IsTwainDriverAvailable(); }
  std::string Productname() const;
  void SetProductname(const std::string& value);
  std::string Manufacturer() const;
  void SetManufacturer(const std::string& value);
  std::string ProductFamily() const;
  void SetProductFamily(const std::string& value);
  std::string VersionInfo() const;
  void SetVersionInfo(const std::string& value);
  TW_UINT16 VersionMajor() const { return appId_.Version.MajorNum; }
  void SetVersionMajor(TW_UINT16 value) { appId_.Version.MajorNum = value; }
  TW_UINT16 VersionMinor() const { return appId_.Version.MinorNum; }
  void SetVersionMinor(TW_UINT16 value) { appId_.Version.MinorNum = value; }
  TLanguageType Language() const { return LanguageFromCode(appId_.Version.Language); }
  void SetLanguage(TLanguageType value) { appId_.Version.Language = LanguageCode(value); }
  TCountryType Country() const { return CountryFromCode(appId_.Version.Country); }
  void SetCountry(TCountryType value) { appId_.Version.Country = CountryCode(value); }
  bool ShowUI() const { return showUi_; }
  void SetShowUI(bool value) { showUi_ = value; }
  int Cursor() { return host_.ScreenCursor(); }
  void SetCursor(int value) { host_.SetScreenCursor(value); }
  TImageType FileFormat() const;
  void SetFileFormat(TImageType value);
  std::string Filename() const;
  void SetFilename(const std::string& value);

  // Operations.
  bool IsTwainDriverAvailable();
  void InitTWAIN();
  void OpenDataSourceManager();
  void CloseDataSourceManager();
  bool IsDataSourceManagerOpen() const { return managerOpen_; }
  void OpenDataSource();
  void CloseDataSource();
  bool IsDataSourceOpen() const { return sourceOpen_; }
  TW_UINT16 EnableDataSource();
  void DisableDataSource();
  bool IsDataSourceEnabled() const { return sourceEnabled_; }
  void SelectDataSource();
  void SetDataSource(const TW_IDENTITY& identity) { sourceId_ = identity; }
  const TW_IDENTITY& DataSource() const { return sourceId_; }
  TW_UINT16 CallDataSourceManager(TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat,
                                  TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 CallDataSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  void XferMech();
  TW_UINT16 Acquire(const void* bitmap);
  bool ProcessSourceMessage(const AppMessage& message);
  TW_UINT16 GetImageInfo(TW_IMAGEINFO& info);
  bool SetImageInfo(const TW_IMAGEINFO& info);
  bool IsLastPage() const { return lastPage_; }
  TW_HANDLE GetBmpHandle() const { return pageHandle_; }
  void SetCanel(bool cancel) { cancelRequested_ = cancel; }
  void SaveDefaultSourceEntry();
  void RestoreDefaultSourceEntry();
  [[noreturn]] void RaiseLastDataSourceManagerCondition(const std::string& module);
  [[noreturn]] void RaiseLastDataSourceCondition(const std::string& module);
  const void* TargetBitmap() const { return targetBitmap_; }
  // The condition the source gave for the last failed transfer (TWCC_SUCCESS when none).
  TW_UINT16 LastTransferCondition() const { return lastTransferCondition_; }

 private:
  bool LoadDsm();
  void UnloadDsm();
  void MessageHook(const AppMessage& message, bool& handled);
  void TransferLoop();
  void NativeTransfer();
  bool SetOneValue(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 item, bool both);
  [[noreturn]] void RaiseCondition(TW_IDENTITY* destination, const std::string& module);

  TwainHost& host_;
  const void* targetBitmap_ = nullptr;
  bool dsmLoaded_ = false;
  TW_IDENTITY appId_{};
  TW_IDENTITY sourceId_{};
  uint32_t parentWindow_ = 0;
  TTransferType destination_ = xfNative;
  bool managerOpen_ = false, sourceOpen_ = false, sourceEnabled_ = false;
  bool lastPage_ = false, cancelRequested_ = false, transferFailed_ = false;
  TW_HANDLE pageHandle_ = nullptr;
  std::string savedDefaultSource_;
  bool defaultSourceSaved_ = false;
  MessageHandler previousHandler_;
  bool hookInstalled_ = false;
  bool showUi_ = true;
  char filename_[256] = {};
  TW_UINT16 imageType_ = ffBMP;
  TW_UINT16 lastTransferCondition_ = TWCC_SUCCESS;
};

}  // namespace tessaro::twain
