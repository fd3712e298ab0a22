// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace tessaro::bench {

// A distribution of measured durations, in microseconds.
class Samples {
 public:
  void Add(std::chrono::nanoseconds d) { us_.push_back(static_cast<double>(d.count()) / 1000.0); }
  double Percentile(double p) const {
    if (us_.empty()) return 0;
    std::vector<double> s = us_;
    std::sort(s.begin(), s.end());
    const size_t i =
        std::min(s.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(s.size())));
    return s[i];
  }
  size_t size() const { return us_.size(); }
  void Print(const std::string& name) const {
    std::printf("%-46s n=%-5zu p50 %8.1f us  p90 %8.1f us  p99 %8.1f us  max %8.1f us\n",
                name.c_str(), size(), Percentile(50), Percentile(90), Percentile(99),
                Percentile(100));
  }

 private:
  std::vector<double> us_;
};

inline void PrintRatio(const std::string& name, const Samples& measured, const Samples& reference) {
  const double ref = reference.Percentile(50);
  std::printf(
      "%-46s p50 ratio %.2f  p90 ratio %.2f\n", name.c_str(),
      ref > 0 ? measured.Percentile(50) / ref : 0.0,
      reference.Percentile(90) > 0 ? measured.Percentile(90) / reference.Percentile(90) : 0.0);
}

}  // namespace tessaro::bench
