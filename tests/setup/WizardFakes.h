// SPDX-License-Identifier: GPL-2.0-or-later
// A wizard over scripted parts: a device that links unless told not to, a user whose answers
// are queued, no pause, and queues and scanners held in memory.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "setup/SetupWizard.h"

namespace tessaro::setup {

struct Device : SetupDeviceLink {
  bool linkOk = true;
  int links = 0;
  bool Link() override { return ++links, linkOk; }
  bool Lock(int, int) override { return true; }
  bool Unlock(int, int) override { return true; }
  bool Unlink() override { return true; }
  bool UsedByThisPc() override { return links > 0; }
};

struct Dialogs : SetupDialogs {
  std::vector<std::string> shown;
  std::deque<bool> answers;  // for both kinds of question, in turn; true when none is left
  void ShowError(const std::string& text) override { shown.push_back("error: " + text); }
  void ShowNote(const std::string& text) override { shown.push_back("note: " + text); }
  bool Answer(const std::string& question) {
    shown.push_back("ask: " + question);
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool AskYesNo(const std::string& question) override { return Answer(question); }
  bool AskOkCancel(const std::string& question) override { return Answer(question); }
};

struct NoWait : SetupSleeper {
  void Pause(std::chrono::milliseconds) override {}
};

struct Sources : SetupSources {
  std::vector<PrinterRow> printers;
  std::vector<std::string> scanners;
  std::vector<PrinterRow> Printers() override { return printers; }
  bool PrinterExists(const std::string& name) override {
    for (const PrinterRow& row : printers)
      if (row.name == name) return true;
    return false;
  }
  std::vector<std::string> ScannerSources() override { return scanners; }
  Result<std::string> AddPrintQueue(const SetupDeviceIdentity& device) override {
    if (device.manufacturer.empty()) return Failure("no maker");
    const std::string name = device.manufacturer + "_" + device.product;
    printers.push_back({name, "tessaro://02-00-00-00-00-02/04B8/0005", 0});
    return name;
  }
};

inline SetupDevice DeviceOfType(const std::string& type) {
  SetupDevice device;
  device.identity = {
      "hub", {"10.0.0.2", "02:00:00:00:00:02", "04B8", "0005", "S1"}, type, "Acme", "Laser 1"};
  device.displayName = "Acme - Laser 1";
  return device;
}

inline SetupLists MakerLists() {
  SetupLists lists;
  lists.makers = {{"04B8", {"Acme"}}, {"03F0", {"Rival"}}};
  return lists;
}

struct Rig {
  Device device;
  Dialogs dialogs;
  NoWait sleeper;
  Sources sources;
  SetupWizard wizard{device, dialogs, sleeper, sources};
  Rig() {
    sources.printers = {{"Acme Laser", "tessaro://02-00-00-00-00-02/04B8/0005", 0},
                        {"Office file", "FILE:", 5},
                        {"Rival Jet", "usb://Rival/Jet", 0},
                        {"Acme Photo", "usb://Acme/Photo", 0},
                        {"Generic Printer", "usb://Generic/Printer", 0}};
    sources.scanners = {"Acme Scan", "Network Scanner X", "Rival Scan"};
  }
  size_t RowNamed(const std::string& name) const {
    const auto& rows = wizard.printerRows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].name == name) return i;
    return rows.size();
  }
};

}  // namespace tessaro::setup
