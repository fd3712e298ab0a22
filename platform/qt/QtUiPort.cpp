// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/QtUiPort.h"

#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/qt/QtText.h"

namespace tessaro {
namespace {

std::string EscapeField(const std::string& field) {
  std::string out;
  for (char c : field) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

QMessageBox::StandardButtons ButtonsFor(uint32_t flags) {
  switch (flags & 0xF) {
    case mb::kOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case mb::kYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case mb::kYesNo: return QMessageBox::Yes | QMessageBox::No;
    case mb::kRetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
  }
}

QMessageBox::Icon IconFor(uint32_t flags) {
  switch (flags & 0xF0) {
    case mb::kIconError: return QMessageBox::Critical;
    case mb::kIconQuestion: return QMessageBox::Question;
    case mb::kIconWarning: return QMessageBox::Warning;
    case mb::kIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

int AnswerOf(int button) {
  switch (button) {
    case QMessageBox::Cancel: return answer::kCancel;
    case QMessageBox::Yes: return answer::kYes;
    case QMessageBox::No: return answer::kNo;
    case QMessageBox::Retry: return answer::kRetry;
    default: return answer::kOk;
  }
}

}  // namespace

int DefaultAnswer(uint32_t flags) {
  switch (flags & 0xF) {
    case mb::kYesNoCancel:
    case mb::kYesNo: return answer::kYes;
    case mb::kRetryCancel: return answer::kRetry;
    default: return answer::kOk;
  }
}

std::string UiLogLine(const std::string& kind, uint32_t flags, const std::string& caption,
                      const std::string& text) {
  return kind + "\t" + std::to_string(flags) + "\t" + EscapeField(caption) + "\t" +
         EscapeField(text) + "\n";
}

QtUiPort::QtUiPort() {
  if (const char* log = std::getenv("TESSARO_UI_LOG"); log != nullptr) logPath_ = log;
  if (const char* list = std::getenv("TESSARO_UI_ANSWERS"); list != nullptr) {
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) answers_.push_back(std::atoi(item.c_str()));
  }
}

int QtUiPort::Recorded(const std::string& kind, const std::string& caption, const std::string& text,
                       uint32_t flags, int defaultAnswer) {
  if (std::FILE* f = std::fopen(logPath_.c_str(), "a"); f != nullptr) {
    const std::string line = UiLogLine(kind, flags, caption, text);
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
  if (answers_.empty()) return defaultAnswer;
  const int next = answers_.front();
  answers_.pop_front();
  return next;
}

int QtUiPort::ShowMessage(const MessageRequest& request) {
  if (!logPath_.empty()) {
    return Recorded("message", request.caption, request.text, request.flags,
                    DefaultAnswer(request.flags));
  }
  QWidget* owner = request.ownedByMainWindow ? mainWindow_.data() : nullptr;
  QMessageBox box(IconFor(request.flags), ToQString(request.caption), ToQString(request.text),
                  ButtonsFor(request.flags), owner);
  if ((request.flags & mb::kTopMost) != 0) {
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  }
  return AnswerOf(box.exec());
}

int QtUiPort::RunDialog(const DialogRequest& request) {
  if (!logPath_.empty()) return Recorded("dialog", request.dialogId, request.text, 0, answer::kOk);
  const auto found = dialogs_.find(request.dialogId);
  return found == dialogs_.end() ? answer::kCancel : found->second(request);
}

}  // namespace tessaro
