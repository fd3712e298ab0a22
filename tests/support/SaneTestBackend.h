// SPDX-License-Identifier: GPL-2.0-or-later
// SANE's test backend, configured in a private folder: no file under /etc is read and no other
// backend is loaded. SANE reads its configuration once per process, when the first
// SaneScannerSource is made, and the test backend keeps option values set on a device for the
// life of the process: ctest runs every case in a process of its own.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tessaro::testing {

// The test backend's own defaults, written out so the installed copy plays no part. A
// `readDelayMicroseconds` above 0 makes the backend wait that long after each read.
inline std::string SaneTestBackendConfig(int devices, int readDelayMicroseconds = 0) {
  const std::string readDelay =
      readDelayMicroseconds > 0
          ? "read-delay true\nread-delay-duration " + std::to_string(readDelayMicroseconds) + "\n"
          : "read-delay false\n";
  return "number_of_devices " + std::to_string(devices) +
         "\n"
         "mode Gray\ndepth 8\nhand-scanner false\nthree-pass false\nresolution_min 1.0\n"
         "resolution_max 1200.0\nresolution_quant 1.0\nresolution 50.0\n"
         "test-picture \"Solid black\"\nread-limit false\n" +
         readDelay +
         "read-status-code \"Default\"\nfuzzy-parameters false\nppl-loss 0\n"
         "non-blocking false\nselect-fd false\nenable-test-options false\n"
         "geometry_min 0.0\ngeometry_max 200.0\ngeometry_quant 1.0\n"
         "tl_x 0.0\ntl_y 0.0\nbr_x 80.0\nbr_y 100.0\n";
}

class SaneTestBackend {
 public:
  explicit SaneTestBackend(int devices = 2) {
    char pattern[] = "/tmp/tessaro-sane.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder_ = pattern;
    std::ofstream(folder_ + "/dll.conf") << "test\n";
    std::ofstream(folder_ + "/test.conf") << SaneTestBackendConfig(devices);
    setenv("SANE_CONFIG_DIR", folder_.c_str(), 1);
  }
  ~SaneTestBackend() {
    unsetenv("SANE_CONFIG_DIR");
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  SaneTestBackend(const SaneTestBackend&) = delete;
  SaneTestBackend& operator=(const SaneTestBackend&) = delete;

  bool ok() const { return !folder_.empty(); }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

}  // namespace tessaro::testing
