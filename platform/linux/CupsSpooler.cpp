// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CupsSpooler.h"

#include <cups/cups.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>

#include "base/AsciiText.h"
#include "base/WinError.h"
#include "platform/linux/CupsEventPoller.h"
#include "platform/linux/CupsIpp.h"

namespace tessaro {
namespace {

constexpr int kSubscriptionLeaseSeconds = 3600;

using ipp::Connect;
using ipp::Http;
using ipp::NewRequest;
using ipp::Refused;
using ipp::Reply;
using ipp::Send;
using ipp::Text;

// The number at the end of a device path ("/dev/ttyS1" gives 1), or 0.
int TrailingNumber(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && !std::isdigit(static_cast<unsigned char>(path[end - 1]))) --end;
  size_t start = end;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(path[start - 1]))) --start;
  if (start == end || end - start > 6) return 0;
  return std::stoi(path.substr(start, end - start));
}

std::string WithoutUserInfo(const std::string& uri) {
  const size_t authority = uri.find("://");
  if (authority == std::string::npos) return uri;
  const size_t hostStart = authority + 3;
  const size_t pathStart = uri.find_first_of("/?#", hostStart);
  const size_t at = uri.rfind('@', pathStart == std::string::npos ? uri.size() : pathStart);
  if (at == std::string::npos || at < hostStart) return uri;
  return uri.substr(0, hostStart) + uri.substr(at + 1);
}

// One local queue as CUPS-Get-Printers lists it.
struct QueueListing {
  std::string name;
  std::string deviceUri;
  std::vector<std::string> members;
  bool isClass = false;
};

std::optional<std::vector<QueueListing>> ListQueues(const std::string& server) {
  Http http = Connect(server);
  ipp_t* request = NewRequest(IPP_OP_CUPS_GET_PRINTERS, "");
  static const char* const kWanted[] = {"printer-name", "device-uri", "printer-type",
                                        "member-names"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                kWanted);
  Reply reply = Send(http.get(), request, "/");
  // CUPS answers "not found" while it has no queues at all.
  if (reply.status == IPP_STATUS_ERROR_NOT_FOUND) return std::vector<QueueListing>{};
  if (!reply.ok() || !reply.response) return std::nullopt;
  std::vector<QueueListing> queues;
  QueueListing current;
  const auto finish = [&] {
    if (!current.name.empty()) queues.push_back(current);
    current = {};
  };
  for (ipp_attribute_t* attr = ippFirstAttribute(reply.response.get()); attr != nullptr;
       attr = ippNextAttribute(reply.response.get())) {
    const char* name = ippGetName(attr);
    if (name == nullptr) {  // the separator between two queues
      finish();
      continue;
    }
    if (ippGetGroupTag(attr) != IPP_TAG_PRINTER) continue;
    const std::string key = name;
    const char* value = ippGetString(attr, 0, nullptr);
    if (key == "printer-name" && value != nullptr) current.name = value;
    if (key == "device-uri" && value != nullptr) current.deviceUri = value;
    if (key == "printer-type") {
      const int type = ippGetInteger(attr, 0);
      current.isClass = (type & CUPS_PRINTER_CLASS) != 0;
    }
    if (key == "member-names") {
      for (int i = 0; i < ippGetCount(attr); ++i) {
        const char* member = ippGetString(attr, i, nullptr);
        if (member != nullptr) current.members.push_back(member);
      }
    }
  }
  finish();
  return queues;
}

// What GetPrinter would read of a queue.
struct QueueState {
  bool paused = false;
  std::string message;
  std::string deviceUri;
};

// A queue's jobs and state as last read. What a watched queue reads stays true until an event of
// its subscription says otherwise, so a monitor looking at an idle queue every two seconds asks
// cupsd nothing. A reading is trusted only once a wait found no event after it, and never for
// long, in case cupsd changed something without saying so.
template <typename T>
class Remembered {
 public:
  const T* Trusted() const { return value_ && trusted_ ? &*value_ : nullptr; }
  void Store(T value) {
    value_ = std::move(value);
    trusted_ = false;
    readAt_ = std::chrono::steady_clock::now();
  }
  void Trust() {
    if (std::chrono::steady_clock::now() - readAt_ > kTrustedFor) Forget();
    trusted_ = value_.has_value();
  }
  void Forget() {
    value_.reset();
    trusted_ = false;
  }

 private:
  static constexpr std::chrono::seconds kTrustedFor{120};
  std::optional<T> value_;
  bool trusted_ = false;
  std::chrono::steady_clock::time_point readAt_{};
};

struct JobList {
  size_t limit = 0;
  std::vector<int32_t> ids;
};

class CupsPrintQueue : public PrintQueue {
 public:
  CupsPrintQueue(Http http, std::string printerUri, std::shared_ptr<CupsEventPoller> events)
      : http_(std::move(http)), printerUri_(std::move(printerUri)), events_(std::move(events)) {}
  ~CupsPrintQueue() override { EndSubscription(); }

  // Reads the queue's state; nullopt with `status` set when it cannot.
  std::optional<QueueState> ReadState(ipp_status_t* status = nullptr) {
    ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printerUri_);
    static const char* const kWanted[] = {"printer-state", "printer-state-message", "device-uri"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  kWanted);
    Reply reply = Send(http_.get(), request, "/");
    if (status != nullptr) *status = reply.status;
    if (!reply.ok() || !reply.response) return std::nullopt;
    ipp_attribute_t* state = ippFindAttribute(reply.response.get(), "printer-state", IPP_TAG_ENUM);
    if (state == nullptr) return std::nullopt;
    QueueState result;
    result.paused = ippGetInteger(state, 0) == IPP_PSTATE_STOPPED;
    result.message = Text(reply.response.get(), "printer-state-message", IPP_TAG_TEXT);
    result.deviceUri = Text(reply.response.get(), "device-uri", IPP_TAG_URI);
    return result;
  }

  ipp_status_t Pause(const std::string& message) {
    state_.Forget();
    ipp_t* request = NewRequest(IPP_OP_PAUSE_PRINTER, printerUri_);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_TEXT, "printer-state-message", nullptr,
                 message.c_str());
    return Send(http_.get(), request, "/admin/").status;
  }

  ipp_status_t Resume() {
    state_.Forget();
    return Send(http_.get(), NewRequest(IPP_OP_RESUME_PRINTER, printerUri_), "/admin/").status;
  }

  std::optional<std::string> SetHold(QueueHold hold) override {
    std::optional<QueueState> state;
    if (const QueueState* known = state_.Trusted()) {
      state = *known;
    } else {
      state = ReadState();
      if (!state) return std::nullopt;
      if (subscription_ != 0) state_.Store(*state);
    }
    const auto port = PortOfDeviceUri(state->deviceUri);
    if (hold == QueueHold::Released) {
      if (state->paused) Resume();
    } else {
      const char* message = hold == QueueHold::Held ? kHeldQueueMessage : kParkedQueueMessage;
      if (!state->paused || state->message != message) Pause(message);
    }
    return port ? port->name : std::string();
  }

  std::optional<std::vector<int32_t>> Jobs(size_t limit) override {
    if (const JobList* known = jobs_.Trusted(); known != nullptr && known->limit == limit)
      return known->ids;
    ipp_t* request = NewRequest(IPP_OP_GET_JOBS, printerUri_);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 "not-completed");
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit",
                  static_cast<int>(std::min<size_t>(limit, 10000)));
    static const char* const kWanted[] = {"job-id", "job-state"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  kWanted);
    Reply reply = Send(http_.get(), request, "/");
    if (reply.status == IPP_STATUS_ERROR_NOT_FOUND) return std::nullopt;  // the queue went
    if (!reply.ok() || !reply.response) return std::nullopt;
    std::vector<int32_t> jobs;
    // One group per job; a job held (lp -H) waits for its owner, not for the device.
    int32_t id = 0;
    bool held = false;
    bool anyHeld = false;
    const auto endOfJob = [&] {
      anyHeld = anyHeld || (id > 0 && held);
      if (id > 0 && !held && jobs.size() < limit) jobs.push_back(id);
      id = 0;
      held = false;
    };
    for (ipp_attribute_t* attr = ippFirstAttribute(reply.response.get()); attr != nullptr;
         attr = ippNextAttribute(reply.response.get())) {
      const char* name = ippGetName(attr);
      if (name == nullptr) {
        endOfJob();
        continue;
      }
      if (std::string(name) == "job-id" && ippGetValueTag(attr) == IPP_TAG_INTEGER)
        id = ippGetInteger(attr, 0);
      if (std::string(name) == "job-state" && ippGetValueTag(attr) == IPP_TAG_ENUM)
        held = ippGetInteger(attr, 0) == IPP_JSTATE_HELD;
    }
    endOfJob();
    // A job cancelled while it waits comes with no event, so only "no jobs" can be remembered:
    // every new job is an event.
    // A held job may turn waiting without an event (one still arriving is held until its
    // document is in), so a list that left held jobs out is read again each time.
    if (subscription_ != 0 && jobs.empty() && !anyHeld) jobs_.Store(JobList{limit, jobs});
    return jobs;
  }

  bool DeleteJob(int32_t jobId, JobControl control) override {
    jobs_.Forget();
    ipp_t* request = NewRequest(IPP_OP_CANCEL_JOB, printerUri_);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    if (control == JobControl::Delete) ippAddBoolean(request, IPP_TAG_OPERATION, "purge-job", 1);
    return Send(http_.get(), request, "/jobs/").ok();
  }

  bool WatchChanges() override {
    EndSubscription();
    ipp_t* request = NewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, printerUri_);
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr,
                 "ippget");
    ipp::AddQueueEvents(request);
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  kSubscriptionLeaseSeconds);
    Reply reply = Send(http_.get(), request, "/");
    if (!reply.ok() || !reply.response) return false;
    ipp_attribute_t* id =
        ippFindAttribute(reply.response.get(), "notify-subscription-id", IPP_TAG_INTEGER);
    if (id == nullptr) return false;
    subscription_ = ippGetInteger(id, 0);
    renewAt_ =
        std::chrono::steady_clock::now() + std::chrono::seconds(kSubscriptionLeaseSeconds / 2);
    events_->Add(subscription_);
    return true;
  }

  ChangeWait WaitForChange(std::chrono::milliseconds timeout,
                           const std::atomic<bool>& stop) override {
    ChangeWait wait = ChangeWait::Failed;
    if (subscription_ != 0 && (std::chrono::steady_clock::now() < renewAt_ || Renew()))
      wait = events_->Wait(subscription_, timeout, stop);
    if (wait == ChangeWait::TimedOut) {
      jobs_.Trust();
      state_.Trust();
    } else {
      jobs_.Forget();
      state_.Forget();
    }
    return wait;
  }

 private:
  bool Renew() {
    ipp_t* request = NewRequest(IPP_OP_RENEW_SUBSCRIPTION, printerUri_);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                  subscription_);
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  kSubscriptionLeaseSeconds);
    if (!Send(http_.get(), request, "/").ok()) return false;
    renewAt_ =
        std::chrono::steady_clock::now() + std::chrono::seconds(kSubscriptionLeaseSeconds / 2);
    return true;
  }

  void EndSubscription() {
    jobs_.Forget();
    state_.Forget();
    if (subscription_ == 0) return;
    events_->Remove(subscription_);
    ipp_t* request = NewRequest(IPP_OP_CANCEL_SUBSCRIPTION, printerUri_);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                  subscription_);
    Send(http_.get(), request, "/");
    subscription_ = 0;
  }

  Http http_;
  std::string printerUri_;
  std::shared_ptr<CupsEventPoller> events_;
  int subscription_ = 0;
  std::chrono::steady_clock::time_point renewAt_{};
  Remembered<JobList> jobs_;
  Remembered<QueueState> state_;
};

}  // namespace

std::optional<SpoolerPort> PortOfDeviceUri(const std::string& uri) {
  const size_t colon = uri.find(':');
  if (uri.empty() || colon == std::string::npos || colon == 0) return std::nullopt;
  const std::string scheme = UpperAsciiText(uri.substr(0, colon));
  const std::string path = uri.substr(colon + 1, uri.find('?') - colon - 1);
  if (scheme == "FILE") return SpoolerPort{"FILE:", "Local Port"};
  if (scheme == "PARALLEL")
    return SpoolerPort{"LPT" + std::to_string(TrailingNumber(path) + 1) + ":", "Local Port"};
  if (scheme == "SERIAL")
    return SpoolerPort{"COM" + std::to_string(TrailingNumber(path) + 1) + ":", "Local Port"};
  std::string description;
  if (scheme == "SOCKET" || scheme == "LPD") description = "Standard TCP/IP Port";
  if (scheme == "SMB") description = "LAN Manager Printer Port";
  if (scheme == "IPP" || scheme == "IPPS" || scheme == "HTTP" || scheme == "HTTPS" ||
      scheme == "DNSSD")
    description = "Internet Port";
  if (scheme == "USB" || scheme == "TESSARO") description = "Virtual printer port for USB";
  return SpoolerPort{WithoutUserInfo(uri), description};
}

bool IsQueueName(const std::string& name) {
  if (name.empty() || name.size() > 127) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F || c == ' ' || c == '/' || c == '\\' || c == '?' || c == '#' ||
           c == '\'' || c == '"';
  });
}

CupsSpooler::CupsSpooler(std::string server, CupsNotificationTiming timing)
    : server_(std::move(server)), events_(std::make_shared<CupsEventPoller>(server_, timing)) {}

OpenedQueue CupsSpooler::OpenPrinter(const std::string& printerName, uint32_t access) {
  if (!IsQueueName(printerName)) return {nullptr, winerr::kInvalidPrinterName};
  Http http = Connect(server_);
  if (!http) return {nullptr, winerr::kServerUnavailable};
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                       "/printers/%s", printerName.c_str()) != HTTP_URI_STATUS_OK)
    return {nullptr, winerr::kInvalidPrinterName};
  auto queue = std::make_unique<CupsPrintQueue>(std::move(http), uri, events_);
  ipp_status_t status = IPP_STATUS_OK;
  const auto state = queue->ReadState(&status);
  if (!state) {
    if (status == IPP_STATUS_ERROR_NOT_FOUND) return {nullptr, winerr::kInvalidPrinterName};
    if (Refused(status)) return {nullptr, winerr::kAccessDenied};
    return {nullptr, winerr::kServerUnavailable};
  }
  if ((access & printeraccess::kAdminister) != 0) {
    // Asking for the state the queue already has changes nothing but shows whether CUPS lets
    // this user pause and resume it.
    const ipp_status_t probe = state->paused ? queue->Pause(state->message) : queue->Resume();
    if (Refused(probe)) return {nullptr, winerr::kAccessDenied};
  }
  return {std::move(queue), winerr::kSuccess};
}

std::optional<std::vector<SpoolerPort>> CupsSpooler::Ports() {
  const auto queues = ListQueues(server_);
  if (!queues) return std::nullopt;
  std::vector<SpoolerPort> ports;
  for (const QueueListing& queue : *queues) {
    const auto port = PortOfDeviceUri(queue.deviceUri);
    if (!port) continue;
    const bool listed = std::any_of(ports.begin(), ports.end(),
                                    [&](const SpoolerPort& p) { return p.name == port->name; });
    if (!listed) ports.push_back(*port);
  }
  return ports;
}

std::optional<std::vector<SpoolerPrinter>> CupsSpooler::Printers() {
  const auto queues = ListQueues(server_);
  if (!queues) return std::nullopt;
  std::map<std::string, std::string> portOf;
  for (const QueueListing& queue : *queues) {
    if (const auto port = PortOfDeviceUri(queue.deviceUri)) portOf[queue.name] = port->name;
  }
  std::vector<SpoolerPrinter> printers;
  for (const QueueListing& queue : *queues) {
    SpoolerPrinter printer{queue.name, {}};
    if (queue.isClass) {
      for (const std::string& member : queue.members) {
        if (!printer.portName.empty()) printer.portName += ",";
        printer.portName += portOf[member];
      }
    } else {
      printer.portName = portOf[queue.name];
    }
    printers.push_back(printer);
  }
  return printers;
}

}  // namespace tessaro
