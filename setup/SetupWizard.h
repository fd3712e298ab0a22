// SPDX-License-Identifier: GPL-2.0-or-later
// One run of the device setup wizard without any window: the page shown, what each page holds
// and what its buttons do. The form draws this state and forwards the user's clicks; the owner
// starts a run from the stored entry and stores its outcome once it has ended.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "setup/PrinterChoice.h"
#include "setup/PrinterChoiceList.h"
#include "setup/ScannerChoiceList.h"
#include "setup/SetupConnect.h"
#include "setup/SetupEntries.h"
#include "setup/SetupPages.h"
#include "setup/WizardState.h"

namespace tessaro::setup {

// The questions and notes of the wizard, beyond the error messages.
class SetupDialogs : public SetupPrompts {
 public:
  virtual bool AskYesNo(const std::string& question) = 0;
  virtual bool AskOkCancel(const std::string& question) = 0;
  virtual void ShowNote(const std::string& text) = 0;
};

// What the lists show, asked each time a list is filled so they follow the system.
class SetupSources {
 public:
  virtual ~SetupSources() = default;
  // The queues with their port types as marks; a queue whose port type is unknown has mark 0.
  virtual std::vector<PrinterRow> Printers() = 0;
  virtual bool PrinterExists(const std::string& name) = 0;
  virtual std::vector<std::string> ScannerSources() = 0;
  // Adds a print queue bound to the device: its name, or the failure said in words.
  virtual Result<std::string> AddPrintQueue(const SetupDeviceIdentity& device) = 0;
};

struct SetupDevice {
  SetupDeviceIdentity identity;
  std::string displayName;
};

// The auto-connect lists as the wizard edits them: copies, taken back by the owner on OK.
struct SetupLists {
  std::vector<ChoiceEntry> printers;
  std::vector<ChoiceEntry> faxes;
  std::vector<MakerSection> makers;
};

enum class RunEnd { Running, Ok, Cancel };

class SetupWizard {
 public:
  SetupWizard(SetupDeviceLink& device, SetupDialogs& dialogs, SetupSleeper& sleeper,
              SetupSources& sources);

  // The two openings; `entryIndex` is the device's entry in the printer list, -1 for none.
  void StartPrinterRun(const SetupDevice& device, const OpeningInput& opening, SetupLists lists,
                       int entryIndex);
  void StartScannerRun(const SetupDevice& device, const OpeningInput& opening, SetupLists lists);

  SetupPage page() const { return page_; }
  PageLook look() const;
  RunEnd end() const { return end_; }
  bool scannerLike() const { return scannerLike_; }
  bool unknownDevice() const { return unknownDevice_; }  // type word "UNKNOWN"
  bool mfp() const { return mfp_; }
  bool installing() const { return installing_; }
  bool olderWindows() const { return olderWindows_; }
  const SetupDevice& device() const { return device_; }
  const WizardState& state() const { return state_; }
  const SetupLists& lists() const { return lists_; }

  // Install page: "Yes" installs the device's software first; "No" is preselected.
  bool installYes() const { return installYes_; }
  void SetInstallYes(bool yes) { installYes_ = yes; }
  // Connect page: the support-scan check box (shown for a plain printer only).
  bool supportScanShown() const { return page_ == SetupPage::Connect && !mfp_; }
  bool supportScanChecked() const { return supportScan_; }
  void SetSupportScan(bool checked);
  // Whether the page's scanner list is shown (the connect page's depends on the check box).
  bool scannerListShown() const;

  const std::vector<PrinterRow>& printerRows() const { return printers_.rows; }
  const std::vector<ScannerRow>& scannerRows() const { return scanners_; }
  // A click on a row: toggles it unless it is unavailable; at most one row stays checked.
  void ClickPrinterRow(size_t index);
  void ClickScannerRow(size_t index);

  // Troubleshooting page: options 1 to 3, which of them are shown, and its OK button.
  int troubleOption() const { return troubleOption_; }
  bool troubleOptionShown(int option) const;
  bool troubleOkShown() const { return troubleOption_ == 2 || troubleOption_ == 3; }
  void ChooseTroubleOption(int option);
  void TroubleOk();

  // The system's answer to the install page: a queue for the device. Its name, or none after
  // the error was shown.
  std::optional<std::string> AddPrintQueue();

  // Ignored while the choice is being applied (the busy Next button).
  void Next();
  void Cancel() { end_ = RunEnd::Cancel; }

 private:
  void Begin(const SetupDevice& device, const OpeningInput& opening, SetupLists lists);
  void Connect(bool installing);
  void PrepareTrouble();
  void ShowAutoScan();
  void ShowAutoPrint();
  void FinishAutoPrint();
  void FillPrinters();
  void FillScanners();
  std::string CheckedScanner() const;
  std::optional<CheckedRow> CheckedPrinter() const;
  // The choice on the printer list taken into the lists: refused (nothing chosen or nothing
  // changed), declined (the user turned the not-recommended driver down) or gone (the queue
  // was deleted meanwhile; the list is filled again).
  enum class ChoiceOutcome { Accepted, Refused, Declined, Gone };
  ChoiceOutcome TakePrinterChoice();

  SetupDeviceLink& deviceLink_;
  SetupDialogs& dialogs_;
  SetupSleeper& sleeper_;
  SetupSources& sources_;

  WizardState state_;
  SetupDevice device_;
  SetupLists lists_;
  bool olderWindows_ = false;
  bool scannerLike_ = false;
  bool mfp_ = false;
  bool unknownDevice_ = false;
  SetupPage page_ = SetupPage::Install;
  RunEnd end_ = RunEnd::Running;
  bool installYes_ = false;
  bool installing_ = false;
  bool supportScan_ = false;
  int troubleOption_ = 1;
  bool busy_ = false;
  PrinterList printers_;
  std::vector<ScannerRow> scanners_;
  std::string addedQueue_;
};

// The tip of a printer row by its mark; empty for none.
std::string PrinterRowTip(int mark);

}  // namespace tessaro::setup
