// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/SetupWizard.h"

#include <algorithm>

#include "base/AsciiText.h"
#include "setup/SetupTexts.h"

namespace tessaro::setup {
namespace {

std::vector<std::string> NamesExcept(const std::vector<ChoiceEntry>& entries, int skip) {
  std::vector<std::string> names;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (static_cast<int>(i) != skip) names.push_back(entries[i].printerName);
  }
  return names;
}

}  // namespace

std::string PrinterRowTip(int mark) {
  switch (mark) {
    case 1:
    case 3:
    case 5:
    case 6:
    case 7: return text::kTipUnsuitablePort;
    case kMarkSameKindTaken: return text::kTipSameKindTaken;
    case kMarkOtherKindTaken: return text::kTipOtherKindTaken;
    case kMarkOtherMaker: return text::kTipOtherMaker;
    default: return {};
  }
}

SetupWizard::SetupWizard(SetupDeviceLink& device, SetupDialogs& dialogs, SetupSleeper& sleeper,
                         SetupSources& sources)
    : deviceLink_(device), dialogs_(dialogs), sleeper_(sleeper), sources_(sources) {}

void SetupWizard::StartPrinterRun(const SetupDevice& device, const OpeningInput& opening,
                                  SetupLists lists, int entryIndex) {
  setup::StartPrinterRun(state_, opening, static_cast<int>(lists.printers.size()), entryIndex);
  Begin(device, opening, std::move(lists));
}

void SetupWizard::StartScannerRun(const SetupDevice& device, const OpeningInput& opening,
                                  SetupLists lists) {
  setup::StartScannerRun(state_, opening);
  Begin(device, opening, std::move(lists));
}

void SetupWizard::Begin(const SetupDevice& device, const OpeningInput& opening, SetupLists lists) {
  device_ = device;
  lists_ = std::move(lists);
  olderWindows_ = opening.olderWindows;
  scannerLike_ = IsScannerLike(device.identity.type);
  mfp_ = IsMfp(device.identity.type);
  unknownDevice_ = UpperAsciiText(device.identity.type) == "UNKNOWN";
  end_ = RunEnd::Running;
  installYes_ = false;
  installing_ = false;
  // Only a plain printer asks; a scanner or an MFP scans by what it is.
  supportScan_ = scannerLike_ || mfp_ || state_.scanIndex != 0;
  troubleOption_ = 1;
  busy_ = false;
  printers_ = {};
  scanners_.clear();
  addedQueue_.clear();
  state_.makerIndex = FindMakerSection(lists_.makers, device.identity.key.vendorId);
  if (state_.setUp) {
    PrepareTrouble();
  } else {
    page_ = SetupPage::Install;
  }
}

PageLook SetupWizard::look() const {
  return LookOf(page_, {.scannerLike = scannerLike_,
                        .mfp = mfp_,
                        .installing = installing_,
                        .olderWindows = olderWindows_,
                        .unknownDevice = unknownDevice_});
}

void SetupWizard::SetSupportScan(bool checked) {
  if (mfp_ || scannerLike_) return;  // hidden and checked for them
  supportScan_ = checked;
}

bool SetupWizard::scannerListShown() const {
  switch (page_) {
    case SetupPage::Connect: return olderWindows_ && !installing_ && supportScan_;
    case SetupPage::ConnectScanner: return olderWindows_ && !installing_;
    case SetupPage::AutoScan: return true;
    case SetupPage::Trouble: return troubleOptionShown(3);
    default: return false;
  }
}

void SetupWizard::ClickPrinterRow(size_t index) {
  std::vector<PrinterRow>& rows = printers_.rows;
  if (index >= rows.size() || rows[index].state == RowState::Unavailable) return;
  const bool wasChecked = rows[index].state == RowState::Checked;
  for (PrinterRow& row : rows) {
    if (row.state == RowState::Checked) row.state = RowState::Unchecked;
  }
  if (!wasChecked) rows[index].state = RowState::Checked;
}

void SetupWizard::ClickScannerRow(size_t index) {
  if (index >= scanners_.size()) return;
  const bool wasChecked = scanners_[index].checked;
  for (ScannerRow& row : scanners_) row.checked = false;
  scanners_[index].checked = !wasChecked;
}

std::string SetupWizard::CheckedScanner() const {
  auto it = std::find_if(scanners_.begin(), scanners_.end(),
                         [](const ScannerRow& row) { return row.checked; });
  return it == scanners_.end() ? std::string() : it->name;
}

std::optional<CheckedRow> SetupWizard::CheckedPrinter() const {
  for (const PrinterRow& row : printers_.rows) {
    if (row.state == RowState::Checked) return CheckedRow{row.name, row.port};
  }
  return std::nullopt;
}

void SetupWizard::FillPrinters() {
  std::vector<ChoiceEntry>& same = state_.printerMode ? lists_.printers : lists_.faxes;
  const std::vector<ChoiceEntry>& other = state_.printerMode ? lists_.faxes : lists_.printers;
  PrinterListInput input;
  input.printers = sources_.Printers();
  input.sameKindTaken = NamesExcept(same, state_.entryIndex);
  input.otherKindTaken = NamesExcept(other, -1);
  input.makers = lists_.makers;
  input.deviceVendorId = device_.identity.key.vendorId;
  input.printerMode = state_.printerMode;
  if (state_.entryIndex >= 0 && state_.entryIndex < static_cast<int>(same.size())) {
    input.ownPrinterName = same[static_cast<size_t>(state_.entryIndex)].printerName;
  }
  printers_ = FillPrinterList(input);
  state_.makerIndex = printers_.makerIndex;
  if (input.ownPrinterName || addedQueue_.empty()) return;
  // The queue the user just added for this device is the likely choice.
  for (size_t i = 0; i < printers_.rows.size(); ++i) {
    if (printers_.rows[i].name == addedQueue_) ClickPrinterRow(i);
  }
}

void SetupWizard::FillScanners() {
  scanners_ = FillScannerList(sources_.ScannerSources(), lists_.makers, state_.makerIndex,
                              state_.scanIndex, state_.scanName);
}

SetupWizard::ChoiceOutcome SetupWizard::TakePrinterChoice() {
  const std::optional<CheckedRow> checked = CheckedPrinter();
  if (checked && !sources_.PrinterExists(checked->name)) {
    dialogs_.ShowError(text::kQueueGone);
    FillPrinters();
    return ChoiceOutcome::Gone;
  }
  ChoiceState choice{state_.printerMode ? &lists_.printers : &lists_.faxes, state_.entryIndex,
                     state_.replacedIndex, state_.printerEnabled};
  bool declined = false;
  const bool accepted = ApplyPrinterChoice(choice, checked, lists_.makers, state_.makerIndex,
                                           [&](const std::string& question) {
                                             declined = !dialogs_.AskOkCancel(question);
                                             return !declined;
                                           });
  state_.entryIndex = choice.entryIndex;
  state_.replacedIndex = choice.replacedIndex;
  state_.printerEnabled = choice.printerEnabled;
  if (accepted) return ChoiceOutcome::Accepted;
  return declined ? ChoiceOutcome::Declined : ChoiceOutcome::Refused;
}

void SetupWizard::Connect(bool installing) {
  const std::optional<SetupPage> next =
      ConnectForSetup(deviceLink_, dialogs_, sleeper_, scannerLike_);
  if (!next) return;
  installing_ = installing;
  page_ = *next;
  if (olderWindows_ && !installing_) FillScanners();
}

void SetupWizard::PrepareTrouble() {
  // Older systems see the device only while it is linked to this PC. A device that cannot be
  // had still gets its page: the stored choices can be changed without it.
  if (olderWindows_ && !unknownDevice_) ConnectForSetup(deviceLink_, dialogs_, sleeper_, false);
  state_.printerChanged = false;
  state_.scannerChanged = false;
  troubleOption_ = 1;
  page_ = SetupPage::Trouble;
  if (!scannerLike_) FillPrinters();
  if (olderWindows_) {
    FillScanners();
  } else if (!scannerLike_ || !state_.scanName.empty()) {
    scanners_ = {{state_.scanName, state_.scanIndex == 1}};
  }
}

bool SetupWizard::troubleOptionShown(int option) const {
  if (option == 1) return true;
  if (option == 2) return !scannerLike_;
  return option == 3 && !unknownDevice_;
}

void SetupWizard::ChooseTroubleOption(int option) {
  if (page_ == SetupPage::Trouble && troubleOptionShown(option)) troubleOption_ = option;
}

void SetupWizard::TroubleOk() {
  if (page_ != SetupPage::Trouble || end_ != RunEnd::Running) return;
  if (troubleOption_ == 2) {
    const std::optional<CheckedRow> checked = CheckedPrinter();
    const ChoiceOutcome outcome = TakePrinterChoice();
    if (outcome == ChoiceOutcome::Accepted) state_.printerChanged = true;
    // A refused choice says nothing that is not so.
    if (outcome == ChoiceOutcome::Gone || outcome == ChoiceOutcome::Declined) return;
    dialogs_.ShowNote((checked ? text::kDirectPrint : text::kAutoConnectCanceled) +
                      device_.displayName);
  } else if (troubleOption_ == 3) {
    state_.scanName = CheckedScanner();
    state_.scanIndex = state_.scanName.empty() ? 0 : 1;
    dialogs_.ShowNote(state_.scanIndex == 1 ? text::kScannerRecognized : text::kScannerRemoved);
    state_.scannerChanged = true;
  }
}

std::optional<std::string> SetupWizard::AddPrintQueue() {
  const Result<std::string> name = sources_.AddPrintQueue(device_.identity);
  if (!name) {
    dialogs_.ShowError(name.error());
    return std::nullopt;
  }
  addedQueue_ = *name;
  return *name;
}

void SetupWizard::ShowAutoScan() {
  FillScanners();
  page_ = SetupPage::AutoScan;
}

void SetupWizard::ShowAutoPrint() {
  FillPrinters();
  page_ = SetupPage::AutoPrint;
}

void SetupWizard::FinishAutoPrint() {
  if (!(installYes_ && olderWindows_)) {
    state_.scanIndex = supportScan_ ? 1 : 0;
    if (olderWindows_) state_.scanName = CheckedScanner();
  }
  busy_ = true;
  const ChoiceOutcome outcome = TakePrinterChoice();
  busy_ = false;
  if (outcome == ChoiceOutcome::Accepted) {
    end_ = RunEnd::Ok;
  } else if (outcome != ChoiceOutcome::Gone && dialogs_.AskYesNo(kNoPrinterChosenQuestion)) {
    end_ = RunEnd::Cancel;
  }
}

void SetupWizard::Next() {
  if (busy_ || end_ != RunEnd::Running) return;
  const NextContext context{.yesChecked = installYes_,
                            .olderWindows = olderWindows_,
                            .scannerTypeWord = scannerLike_ && !unknownDevice_,
                            .scannerChanged = state_.scannerChanged,
                            .printerChanged = state_.printerChanged};
  switch (NextFrom(page_, context)) {
    case NextAction::ConnectNotInstalling: Connect(false); break;
    case NextAction::ShowCdRom: page_ = SetupPage::CdRom; break;
    case NextAction::ConnectInstalling: Connect(true); break;
    case NextAction::ShowAutoScan: ShowAutoScan(); break;
    case NextAction::ShowAutoPrint: ShowAutoPrint(); break;
    case NextAction::FinishConnectScanner: {
      const ScanChoice choice = FinishConnectScanner(olderWindows_, CheckedScanner());
      state_.scanIndex = choice.scanIndex;
      if (olderWindows_) state_.scanName = choice.scanName;
      end_ = choice.endsOk ? RunEnd::Ok : RunEnd::Cancel;
      break;
    }
    case NextAction::FinishAutoScan: {
      const ScanChoice choice = FinishAutoScan(scannerLike_, supportScan_, CheckedScanner());
      state_.scanIndex = choice.scanIndex;
      state_.scanName = choice.scanName;
      if (scannerLike_) {
        end_ = choice.endsOk ? RunEnd::Ok : RunEnd::Cancel;
      } else {
        ShowAutoPrint();
      }
      break;
    }
    case NextAction::FinishAutoPrint: FinishAutoPrint(); break;
    // The owner restarts the monitors when it takes the changed lists back.
    case NextAction::EndOk:
    case NextAction::ApplyMonitorsThenOk: end_ = RunEnd::Ok; break;
    case NextAction::Cancel: end_ = RunEnd::Cancel; break;
  }
}

}  // namespace tessaro::setup
