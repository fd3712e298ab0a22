// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/twain/TwainManager.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "scanning/twain/DibBuilder.h"
#include "scanning/twain/GlobalBlock.h"
#include "scanning/twain/WinIni.h"

namespace tessaro::twain {
namespace {

TwainManager* installed = nullptr;

constexpr char kFeeder[] = "Automatic Document Feeder";
// The pending count of a feeder that has another sheet ready: the number is not known.
constexpr TW_UINT16 kUnknownCount = 0xFFFF;

void CopyName(char (&field)[34], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), std::min<std::size_t>(text.size(), 32));
}

std::string NameOf(const char (&field)[34]) { return std::string(field, strnlen(field, 34)); }

}  // namespace

TW_UINT16 ConditionOf(ScanStatus status) {
  switch (status) {
    case ScanStatus::kGood:
    case ScanStatus::kEndOfFrame: return TWCC_SUCCESS;
    case ScanStatus::kUnsupported: return TWCC_CAPUNSUPPORTED;
    case ScanStatus::kInvalid: return TWCC_BADVALUE;
    case ScanStatus::kDeviceBusy: return TWCC_MAXCONNECTIONS;
    case ScanStatus::kJammed:
    case ScanStatus::kCoverOpen: return TWCC_PAPERJAM;
    case ScanStatus::kNoMemory: return TWCC_LOWMEMORY;
    case ScanStatus::kAccessDenied: return TWCC_DENIED;
    case ScanStatus::kNoDocuments:
    case ScanStatus::kCancelled:
    case ScanStatus::kIoError:
    case ScanStatus::kShortFrame: return TWCC_BUMMER;
  }
  return TWCC_BUMMER;
}

struct TwainManager::Source {
  TW_IDENTITY identity{};
  std::string deviceName;
  std::unique_ptr<ScannerDevice> device;
  int state = 4;
  std::deque<TW_UINT16> messages;
  bool frameStarted = false;
  // Read once the dialog has set the options: asking a scanner across the network again between
  // sheets would go to a server that may be gone, and its SANE client can fail badly then.
  bool feeder = false;
  double dpi = 0;  // the same, for the resolution; kept up to date by ICAP_XRESOLUTION
  // A failure met while preparing the next sheet; the next transfer reports it.
  std::optional<ScanStatus> pendingFailure;
  // The last transfer failed or was cancelled: ending it ends the batch.
  bool transferFailed = false;
  TW_UINT16 condition = TWCC_SUCCESS;
};

TwainManager::TwainManager(ScannerSource& scanners, std::string windowsDirectory)
    : scanners_(scanners), windowsDirectory_(std::move(windowsDirectory)) {}

TwainManager::~TwainManager() {
  if (installed == this) installed = nullptr;
}

void TwainManager::Install(TwainManager* manager) { installed = manager; }

TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat,
                    TW_UINT16 msg, TW_MEMREF data) {
  if (installed == nullptr) return TWRC_FAILURE;
  return installed->Entry(origin, destination, dg, dat, msg, data);
}

DsmEntryProc LoadTwainModule() { return installed != nullptr ? &DSM_Entry : nullptr; }

TW_UINT16 TwainManager::Fail(TW_UINT16 condition) {
  condition_ = condition;
  return TWRC_FAILURE;
}

TW_UINT16 TwainManager::Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg,
                              TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  if (origin == nullptr) return Fail(TWCC_BADPROTOCOL);
  if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
    auto* status = static_cast<TW_STATUS*>(data);
    if (status == nullptr) return Fail(TWCC_BADVALUE);
    TW_UINT16* condition = &condition_;
    if (destination != nullptr) {
      const auto found = sources_.find(TW_UINT32{destination->Id});
      if (found == sources_.end()) return Fail(TWCC_BADDEST);
      condition = &found->second->condition;
    }
    *status = TW_STATUS{std::exchange(*condition, TWCC_SUCCESS), 0};
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_PARENT) {
    if (msg == MSG_OPENDSM) {
      if (open_) return Fail(TWCC_SEQERROR);
      open_ = true;
      return TWRC_SUCCESS;
    }
    if (msg == MSG_CLOSEDSM) {
      if (!open_ || !sources_.empty()) return Fail(TWCC_SEQERROR);
      open_ = false;
      return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADPROTOCOL);
  }
  if (!open_) return Fail(TWCC_SEQERROR);
  if (dg == DG_CONTROL && dat == DAT_IDENTITY) return Identity(destination, msg, data);
  if (destination == nullptr) return Fail(TWCC_BADPROTOCOL);
  const auto found = sources_.find(TW_UINT32{destination->Id});
  if (found == sources_.end()) return Fail(TWCC_BADDEST);
  return ToSource(*found->second, dg, dat, msg, data);
}

TW_IDENTITY TwainManager::MakeIdentity(const ScannerDeviceInfo& device, TW_UINT32 id) const {
  TW_IDENTITY identity{};
  identity.Id = id;
  identity.Version.MajorNum = 1;
  identity.ProtocolMajor = 1;
  identity.ProtocolMinor = 7;
  identity.SupportedGroups = kSupportedGroups;
  CopyName(identity.Manufacturer, device.vendor);
  CopyName(identity.ProductFamily, device.model);
  CopyName(identity.ProductName, device.name);
  return identity;
}

std::vector<TW_IDENTITY> TwainManager::ListSources() {
  std::vector<TW_IDENTITY> list;
  for (const auto& device : scanners_.Devices()) list.push_back(MakeIdentity(device, 0));
  return list;
}

TW_UINT16 TwainManager::Identity(TW_IDENTITY* destination, TW_UINT16 msg, TW_MEMREF data) {
  auto* identity = static_cast<TW_IDENTITY*>(data);
  if (identity == nullptr) return Fail(TWCC_BADVALUE);
  switch (msg) {
    case MSG_GETFIRST:
      listed_ = ListSources();
      nextListed_ = 0;
      [[fallthrough]];
    case MSG_GETNEXT:
      if (nextListed_ >= listed_.size()) return TWRC_ENDOFLIST;
      *identity = listed_[nextListed_++];
      return TWRC_SUCCESS;
    case MSG_GETDEFAULT: {
      const auto list = ListSources();
      if (list.empty()) return Fail(TWCC_NODS);
      const std::string wanted = ReadDefaultSourceEntry(windowsDirectory_);
      const auto match = std::find_if(list.begin(), list.end(), [&](const TW_IDENTITY& source) {
        return NameOf(source.ProductName) == wanted;
      });
      *identity = match != list.end() ? *match : list.front();
      return TWRC_SUCCESS;
    }
    case MSG_USERSELECT: {
      const auto list = ListSources();
      if (list.empty()) return Fail(TWCC_NODS);
      std::vector<std::string> names;
      for (const auto& source : list) names.push_back(NameOf(source.ProductName));
      const std::string current = ReadDefaultSourceEntry(windowsDirectory_);
      std::optional<std::string> chosen = names.front();
      if (selectDialog_ != nullptr) chosen = selectDialog_->Choose(names, current);
      if (!chosen) return TWRC_CANCEL;
      const auto at = std::find(names.begin(), names.end(), *chosen);
      if (at == names.end()) return Fail(TWCC_NODS);
      *identity = list[static_cast<std::size_t>(at - names.begin())];
      // The choice becomes the default source, as the selection dialog has always done.
      WriteDefaultSourceEntry(windowsDirectory_, *chosen);
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS: return OpenSource(identity);
    case MSG_CLOSEDS: return CloseSource(identity);
    default: (void)destination; return Fail(TWCC_BADPROTOCOL);
  }
}

TW_UINT16 TwainManager::OpenSource(TW_IDENTITY* identity) {
  std::string name = NameOf(identity->ProductName);
  if (name.empty()) {
    TW_IDENTITY fallback{};
    if (Identity(nullptr, MSG_GETDEFAULT, &fallback) != TWRC_SUCCESS) return TWRC_FAILURE;
    name = NameOf(fallback.ProductName);
  }
  // The name in an identity holds 32 characters; a longer device name is found by its start.
  std::string deviceName;
  ScannerDeviceInfo info;
  for (const auto& device : scanners_.Devices()) {
    if (device.name.substr(0, 32) == name) {
      deviceName = device.name;
      info = device;
      break;
    }
  }
  if (deviceName.empty()) return Fail(TWCC_NODS);
  for (const auto& [id, open] : sources_) {
    if (open->deviceName == deviceName) return Fail(TWCC_MAXCONNECTIONS);
  }
  ScanStatus status = ScanStatus::kGood;
  auto device = scanners_.Open(deviceName, status);
  if (!device) {
    lastError_ = ScanStatusText(status);
    return Fail(status == ScanStatus::kDeviceBusy ? TWCC_MAXCONNECTIONS : TWCC_NODS);
  }
  auto source = std::make_unique<Source>();
  source->identity = MakeIdentity(info, nextId_++);
  source->deviceName = deviceName;
  source->device = std::move(device);
  *identity = source->identity;
  const TW_UINT32 id = source->identity.Id;
  sources_.emplace(id, std::move(source));
  return TWRC_SUCCESS;
}

TW_UINT16 TwainManager::CloseSource(TW_IDENTITY* identity) {
  const auto found = sources_.find(TW_UINT32{identity->Id});
  if (found == sources_.end()) return Fail(TWCC_BADDEST);
  if (found->second->state != 4) return Fail(TWCC_SEQERROR);
  sources_.erase(found);
  return TWRC_SUCCESS;
}

TW_UINT16 TwainManager::SourceFail(Source& source, TW_UINT16 condition, const std::string& text) {
  source.condition = condition;
  if (!text.empty()) lastError_ = text;
  return TWRC_FAILURE;
}

TW_UINT16 TwainManager::ToSource(Source& source, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                 TW_MEMREF data) {
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE) return UserInterface(source, msg);
  if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
    auto* event = static_cast<TW_EVENT*>(data);
    if (event == nullptr) return SourceFail(source, TWCC_BADVALUE, {});
    if (source.state < 5 || source.messages.empty()) {
      event->TWMessage = MSG_NULL;
      return TWRC_NOTDSEVENT;
    }
    event->TWMessage = source.messages.front();
    source.messages.pop_front();
    return TWRC_DSEVENT;
  }
  if (dg == DG_CONTROL && dat == DAT_CAPABILITY) {
    return Capability(source, msg, static_cast<TW_CAPABILITY*>(data));
  }
  if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS) {
    return PendingTransfers(source, msg, static_cast<TW_PENDINGXFERS*>(data));
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEINFO && msg == MSG_GET) {
    return ImageInfo(source, static_cast<TW_IMAGEINFO*>(data));
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET) {
    return NativeTransfer(source, static_cast<TW_HANDLE*>(data));
  }
  return SourceFail(source, TWCC_BADPROTOCOL, {});
}

TW_UINT16 TwainManager::UserInterface(Source& source, TW_UINT16 msg) {
  if (msg == MSG_ENABLEDS) {
    if (source.state != 4) return SourceFail(source, TWCC_SEQERROR, {});
    source.state = 5;
    source.messages.clear();
    const std::string name = NameOf(source.identity.ProductName);
    // The dialog is modal: the user's answer is known when enabling returns.
    const bool start = sourceDialog_ == nullptr || sourceDialog_->Run(name, *source.device);
    source.feeder = source.device->GetText(scan_option::kSource).value_or("") == kFeeder;
    source.dpi = source.device->GetNumber(scan_option::kResolution).value_or(0);
    if (start) {
      source.state = 6;
      source.messages.push_back(MSG_XFERREADY);
    } else {
      source.messages.push_back(MSG_CLOSEDSREQ);
    }
    return TWRC_SUCCESS;
  }
  if (msg == MSG_DISABLEDS) {
    if (source.state != 5) return SourceFail(source, TWCC_SEQERROR, {});
    source.state = 4;
    source.messages.clear();
    return TWRC_SUCCESS;
  }
  return SourceFail(source, TWCC_BADPROTOCOL, {});
}

TW_UINT16 TwainManager::Capability(Source& source, TW_UINT16 msg, TW_CAPABILITY* capability) {
  if (capability == nullptr) return SourceFail(source, TWCC_BADVALUE, {});
  if (msg != MSG_SET) return SourceFail(source, TWCC_CAPUNSUPPORTED, {});
  // Before a page starts, so the window may still bring the resolution down in state 6.
  if (source.state < 4 || source.state > 6) return SourceFail(source, TWCC_SEQERROR, {});
  if (capability->ConType != TWON_ONEVALUE ||
      GlobalBlockSize(capability->hContainer) < sizeof(TW_ONEVALUE)) {
    return SourceFail(source, TWCC_BADVALUE, {});
  }
  TW_ONEVALUE value;
  std::memcpy(&value, GlobalBlockLock(capability->hContainer), sizeof value);
  GlobalBlockUnlock(capability->hContainer);
  switch (capability->Cap) {
    case ICAP_XFERMECH:
      if (value.ItemType != TWTY_UINT16 || value.Item != TWSX_NATIVE) {
        return SourceFail(source, TWCC_BADVALUE, {});
      }
      return TWRC_SUCCESS;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      if (value.ItemType != TWTY_FIX32) return SourceFail(source, TWCC_BADVALUE, {});
      TW_FIX32 fix;
      std::memcpy(&fix, &value.Item, sizeof fix);
      const double dpi = Fix32ToDouble(fix);
      if (!(dpi > 0)) return SourceFail(source, TWCC_BADVALUE, {});
      // A scanner has one resolution for both directions.
      const ScanStatus status = source.device->SetNumber(scan_option::kResolution, dpi);
      if (status != ScanStatus::kGood) return SourceFail(source, ConditionOf(status), {});
      // The device may have rounded it to a step of its own.
      source.dpi = source.device->GetNumber(scan_option::kResolution).value_or(dpi);
      return TWRC_SUCCESS;
    }
    default: return SourceFail(source, TWCC_CAPUNSUPPORTED, {});
  }
}

TW_UINT16 TwainManager::ImageInfo(Source& source, TW_IMAGEINFO* info) {
  if (info == nullptr) return SourceFail(source, TWCC_BADVALUE, {});
  if (source.state < 6) return SourceFail(source, TWCC_SEQERROR, {});
  FrameParameters frame;
  const ScanStatus status = source.device->GetParameters(frame);
  if (status != ScanStatus::kGood) return SourceFail(source, ConditionOf(status), {});
  const double dpi = source.dpi;
  *info = TW_IMAGEINFO{};
  info->XResolution = info->YResolution = DoubleToFix32(std::clamp(dpi, 0.0, 32767.0));
  info->ImageWidth = frame.pixelsPerLine;
  info->ImageLength = frame.lines;
  const bool colour = frame.format != FrameFormat::kGray;
  info->SamplesPerPixel = colour ? 3 : 1;
  // What the page will hold: 16-bit samples are brought down to 8.
  const auto sampleBits = static_cast<TW_INT16>(frame.depth == 1 ? 1 : 8);
  for (int i = 0; i < info->SamplesPerPixel; ++i) info->BitsPerSample[i] = sampleBits;
  info->BitsPerPixel = static_cast<TW_INT16>(sampleBits * info->SamplesPerPixel);
  info->PixelType = colour ? TWPT_RGB : (frame.depth == 1 ? TWPT_BW : TWPT_GRAY);
  return TWRC_SUCCESS;
}

TW_UINT16 TwainManager::NativeTransfer(Source& source, TW_HANDLE* page) {
  if (page == nullptr) return SourceFail(source, TWCC_BADVALUE, {});
  *page = nullptr;
  if (source.state != 6) return SourceFail(source, TWCC_SEQERROR, {});
  ScannerDevice& device = *source.device;
  auto failed = [&](ScanStatus status, const std::string& text) {
    device.Cancel();
    source.frameStarted = false;
    source.transferFailed = true;
    source.state = 7;  // the application ends the transfer (MSG_ENDXFER or MSG_RESET)
    if (status == ScanStatus::kCancelled) return TWRC_CANCEL;
    return SourceFail(source, ConditionOf(status), text);
  };
  if (source.pendingFailure) {
    const ScanStatus status = *std::exchange(source.pendingFailure, std::nullopt);
    return failed(status, ScanStatusText(status));
  }
  if (!source.frameStarted) {
    const ScanStatus started = device.Start();
    if (started != ScanStatus::kGood) return failed(started, ScanStatusText(started));
    source.frameStarted = true;
  }
  FrameParameters frame;
  const ScanStatus got = device.GetParameters(frame);
  if (got != ScanStatus::kGood) return failed(got, ScanStatusText(got));
  const auto planned = PlanDib(frame);
  if (!planned) return failed(ScanStatus::kIoError, planned.error());
  const double dpi = source.dpi;
  DibAssembler assembler(*planned, static_cast<int32_t>(std::clamp(dpi, 0.0, 65535.0)));
  FrameRowReader reader(device, frame.bytesPerLine);
  std::vector<uint8_t> row;
  for (;;) {
    const ScanStatus status = reader.NextRow(row);
    if (status == ScanStatus::kEndOfFrame) break;
    if (status != ScanStatus::kGood) return failed(status, ScanStatusText(status));
    if (!assembler.AddRow(row)) return failed(ScanStatus::kIoError, assembler.Error());
  }
  source.frameStarted = false;
  source.transferFailed = false;
  TW_HANDLE dib = assembler.Finish();
  if (dib == nullptr) return failed(ScanStatus::kShortFrame, assembler.Error());
  *page = dib;
  source.state = 7;
  return TWRC_XFERDONE;
}

void TwainManager::EndBatch(Source& source) {
  source.device->Cancel();
  source.frameStarted = false;
  source.pendingFailure.reset();
  source.transferFailed = false;
  source.state = 5;
}

TW_UINT16 TwainManager::PendingTransfers(Source& source, TW_UINT16 msg, TW_PENDINGXFERS* pending) {
  if (pending == nullptr) return SourceFail(source, TWCC_BADVALUE, {});
  if (source.state < 6) return SourceFail(source, TWCC_SEQERROR, {});
  pending->Reserved = 0;
  if (msg == MSG_RESET) {
    EndBatch(source);
    pending->Count = 0;
    return TWRC_SUCCESS;
  }
  if (msg != MSG_ENDXFER) return SourceFail(source, TWCC_BADPROTOCOL, {});
  // A flatbed gives one page; a feeder as many as it has sheets, which only the next start
  // tells.
  if (source.feeder && !source.frameStarted && !source.transferFailed) {
    const ScanStatus next = source.device->Start();
    if (next == ScanStatus::kGood) {
      source.frameStarted = true;
    } else if (next != ScanStatus::kNoDocuments) {
      source.pendingFailure = next;  // the next transfer reports it; earlier pages stay
    }
    if (next != ScanStatus::kNoDocuments) {
      source.state = 6;
      pending->Count = kUnknownCount;
      return TWRC_SUCCESS;
    }
  }
  EndBatch(source);
  pending->Count = 0;
  return TWRC_SUCCESS;
}

}  // namespace tessaro::twain
