// SPDX-License-Identifier: GPL-2.0-or-later
// The saving of a finished scan: turns the page BMPs into the group's final files off the main
// thread, and reports back to the scan window on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "base/Product.h"
#include "platform/MainThread.h"
#include "platform/UiPort.h"

namespace tessaro {

inline constexpr const char* kSaveErrorText = "Can't save file : ";
inline constexpr const char* kSaveMessageCaption = ProductName;

// The scan window as the saving sees it.
class ScanSaveHost {
 public:
  virtual ~ScanSaveHost() = default;
  // Read once, on the saving thread, when it starts; the window is disabled meanwhile.
  virtual std::string TargetFileName() const = 0;
  // Base of a PDF run's page BMPs and of its intermediate JPEGs, the window's previews.
  virtual std::string PdfTempBase() const = 0;
  // Called on the main thread after every PDF run, with the intermediate JPEGs that this run
  // created, in page order. The window deletes exactly these at its next scan or when it closes:
  // a name that was already taken is not among them, since that file is not the run's to delete.
  virtual void SetPdfPagesPending(std::vector<std::string> createdFiles) = 0;
  // Called on the main thread when the group has several pages and none failed.
  virtual void EnableNavigation() = 0;
  // Called on the main thread at the end of every run, last; `anyFailed` when a page failed.
  virtual void SaveCompleted(bool anyFailed) = 0;
};

struct SaveRun {
  int32_t pageCount = 0;
  int32_t resolution = 0;  // dots per inch
  int32_t bitDepth = 0;    // carried along; the files keep the pages' own depth
};

struct SaveOptions {
  // Final files (JPEG pages, the PDF) never replace an existing file unless this is set.
  bool replaceExisting = false;
  // Threads converting pages at once; 0 means one per processor core.
  unsigned workers = 0;
};

class TSaveScanningThread {
 public:
  TSaveScanningThread(ScanSaveHost& host, MainThread& mainThread, UiPort& ui, SaveRun run,
                      SaveOptions options = {});
  TSaveScanningThread(const TSaveScanningThread&) = delete;
  TSaveScanningThread& operator=(const TSaveScanningThread&) = delete;
  // Waits for the run to end; the main thread must keep serving hand-overs until Finished().
  ~TSaveScanningThread();

  // Starts the run; a thread object runs once.
  void Start();
  bool Finished() const { return finished_.load(); }
  // Pages of the run dealt with so far, saved or failed: the saving window's progress.
  int32_t PagesDone() const { return pagesDone_.load(); }
  // Whether a page of the run failed (each failure was shown as it happened).
  bool Failed() const { return failed_.load(); }

 private:
  void Execute();
  void StampPages(const std::string& base);
  void ConvertPages(const std::string& base);
  void BuildPdf(const std::string& tempBase, const std::string& target);
  void ReportFailure(const std::string& file);

  ScanSaveHost& host_;
  MainThread& main_;
  UiPort& ui_;
  SaveRun run_;
  SaveOptions options_;
  std::atomic<bool> finished_{false};
  std::atomic<int32_t> pagesDone_{0};
  std::atomic<bool> failed_{false};
  std::thread thread_;
};

}  // namespace tessaro
