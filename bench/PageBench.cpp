// SPDX-License-Identifier: GPL-2.0-or-later
// Page saving benchmark: tessaro-cli save-pages against the scripted tools, measured side by
// side in one run on 10 generated A4 pages at 300 dpi:
//  1. the 10-page JPG save (all processors, and pinned to one) against `cjpeg -quality 75` on
//     each page, one process a page as a script would run it;
//  2. the 10-page PDF save against cjpeg on each page followed by img2pdf;
//  3. the peak resident size of the saving process for 1 and for 10 pages.
// Each figure is the median of a few repetitions; the ratios are ours / reference.
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "bench/ScanPage.h"
#include "bench/Stats.h"
#include "bench/TimedRun.h"
#include "scanning/pages/PageNames.h"
#include "tests/TestPaths.h"
#include "tests/support/Process.h"

using namespace tessaro;
using namespace tessaro::bench;
namespace fs = std::filesystem;

namespace {

constexpr int kPages = 10;
constexpr int kDpi = 300;
constexpr uint64_t kSeed = 2026;
const std::string kCli = std::string(tessaro::testing::kBinaryDir) + "/cli/tessaro-cli";

std::string Page(const std::string& folder, int k, const std::string& ext) {
  return PageFileName(folder + "/page", k, ext);
}

double Ms(const Samples& s) { return s.Percentile(50) / 1000.0; }
double KbToMb(long kb) { return static_cast<double>(kb) / 1024.0; }
double BytesToMb(uintmax_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

long Median(std::vector<long> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The pages are painted in child processes, one per processor, so that this process stays
// small: the children it times start with its resident size.
void MakePages(const std::string& folder, unsigned workers) {
  std::vector<pid_t> children;
  for (unsigned w = 0; w < workers; ++w) {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      bool ok = true;
      for (int k = 1 + static_cast<int>(w); k <= kPages; k += static_cast<int>(workers))
        ok = ok && WriteBmp24(Page(folder, k, ".bmp"), MakeScanPage(k - 1, kSeed), kDpi);
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  bool ok = true;
  for (pid_t pid : children) {
    int status = 0;
    ok = ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
  }
  if (!ok) throw std::runtime_error("could not write the generated pages to " + folder);
}

// A fresh folder holding the first `count` pages as the scan window leaves them. Hard links:
// the saving removes its page files, the originals stay for the next run.
void Stage(const std::string& pages, const std::string& run, int count) {
  fs::remove_all(run);
  fs::create_directories(run);
  for (int k = 1; k <= count; ++k) {
    std::error_code ec;
    fs::create_hard_link(Page(pages, k, ".bmp"), Page(run, k, ".bmp"), ec);
    if (ec) fs::copy_file(Page(pages, k, ".bmp"), Page(run, k, ".bmp"));
  }
}

class PageBench {
 public:
  explicit PageBench(const std::string& folder) : folder_(folder), pages_(folder + "/pages") {
    fs::create_directories(pages_);
  }
  const std::string& pages() const { return pages_; }

  // tessaro-cli save-pages on `count` pages staged in the folder `name`, timed to its exit.
  RunResult Ours(const std::string& format, int count, bool oneCore, const std::string& name) {
    const std::string run = folder_ + "/" + name;
    Stage(pages_, run, count);
    Settle();
    return Checked(kCli,
                   {"save-pages", format, std::to_string(kDpi), std::to_string(count),
                    run + "/page." + format},
                   oneCore);
  }

  // cjpeg on each page, one process after the other; the wall times add up.
  RunResult Cjpeg(const std::string& name) {
    const std::string run = folder_ + "/" + name;
    fs::remove_all(run);
    fs::create_directories(run);
    Settle();
    RunResult total{0, {}, 0};
    for (int k = 1; k <= kPages; ++k)
      Add(total, Checked("cjpeg", {"-quality", "75", "-outfile", Page(run, k, ".jpg"),
                                   Page(pages_, k, ".bmp")}));
    return total;
  }

  RunResult CjpegImg2pdf(const std::string& name) {
    RunResult total = Cjpeg(name);
    const std::string run = folder_ + "/" + name;
    std::vector<std::string> args{"-o", run + "/page.pdf"};
    for (int k = 1; k <= kPages; ++k) args.push_back(Page(run, k, ".jpg"));
    Add(total, Checked("img2pdf", args));
    return total;
  }

  // The resident size any child of this process starts with.
  RunResult Floor() { return Checked("true", {}); }

 private:
  // Nothing of an earlier step left to write back: our save flushes its files to disk, and a
  // flush would otherwise also wait for the pages just made or the reference's output.
  static void Settle() { ::sync(); }
  static void Add(RunResult& total, const RunResult& r) {
    total.wall += r.wall;
    total.peakResidentKb = std::max(total.peakResidentKb, r.peakResidentKb);
  }
  RunResult Checked(const std::string& program, const std::vector<std::string>& args,
                    bool oneCore = false) {
    const std::string errors = folder_ + "/stderr.txt";
    const RunResult r = TimedRun(program, args, {oneCore, errors});
    if (r.exitCode == 127)
      throw std::runtime_error(program +
                               " could not be started (./tessaro.sh installs cjpeg and img2pdf)");
    if (r.exitCode != 0)
      throw std::runtime_error(program + " ended with " + std::to_string(r.exitCode) + ": " +
                               ReadText(errors));
    return r;
  }

  std::string folder_;
  std::string pages_;
};

uintmax_t FolderBytes(const std::string& folder, const std::string& ext) {
  uintmax_t sum = 0;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ext) sum += e.file_size();
  return sum;
}

// The JPEG from its first quantisation table on: the headers differ (JFIF density), the
// image data must not when both use the accurate DCT at quality 75 with 4:2:0 sampling.
std::string ImageData(const std::string& path) {
  const std::string bytes = ReadText(path);
  const size_t at = bytes.find("\xFF\xDB");
  return at == std::string::npos ? std::string() : bytes.substr(at);
}

int SameImageData(const std::string& ours, const std::string& reference) {
  int same = 0;
  for (int k = 1; k <= kPages; ++k) {
    const std::string a = ImageData(Page(ours, k, ".jpg"));
    same += !a.empty() && a == ImageData(Page(reference, k, ".jpg"));
  }
  return same;
}

struct Timing {
  Samples ours;
  Samples reference;
  std::vector<long> peakKb;
};

struct Results {
  Timing jpg, jpgOneCore, pdf, pdfOneCore;
  std::vector<long> jpgOnePageKb, pdfOnePageKb, floorKb;
  int sameImageData = 0;
  uintmax_t ourJpgBytes = 0, refJpgBytes = 0, ourPdfBytes = 0, refPdfBytes = 0, onePagePdfBytes = 0;
};

Results Measure(PageBench& bench, const std::string& dir, int repetitions) {
  Results m;
  for (int rep = 0; rep < repetitions; ++rep) {
    // Ours and the reference alternate, so a slower moment of the machine hits both.
    RunResult r = bench.Ours("jpg", kPages, false, "jpg");
    m.jpg.ours.Add(r.wall);
    m.jpg.peakKb.push_back(r.peakResidentKb);
    m.jpg.reference.Add(bench.Cjpeg("cjpeg").wall);
    if (rep == 0) {
      m.sameImageData = SameImageData(dir + "/jpg", dir + "/cjpeg");
      m.ourJpgBytes = FolderBytes(dir + "/jpg", ".jpg");
      m.refJpgBytes = FolderBytes(dir + "/cjpeg", ".jpg");
    }
    m.jpgOneCore.ours.Add(bench.Ours("jpg", kPages, true, "jpg").wall);

    r = bench.Ours("pdf", kPages, false, "pdf");
    m.pdf.ours.Add(r.wall);
    m.pdf.peakKb.push_back(r.peakResidentKb);
    m.pdf.reference.Add(bench.CjpegImg2pdf("img2pdf").wall);
    m.pdfOneCore.ours.Add(bench.Ours("pdf", kPages, true, "pdf").wall);

    m.jpgOnePageKb.push_back(bench.Ours("jpg", 1, false, "jpg1").peakResidentKb);
    m.pdfOnePageKb.push_back(bench.Ours("pdf", 1, false, "pdf1").peakResidentKb);
    m.floorKb.push_back(bench.Floor().peakResidentKb);
  }
  m.ourPdfBytes = fs::file_size(dir + "/pdf/page.pdf");
  m.refPdfBytes = fs::file_size(dir + "/img2pdf/page.pdf");
  m.onePagePdfBytes = fs::file_size(dir + "/pdf1/page.pdf");
  return m;
}

void PrintTime(const char* name, const Samples& s) {
  std::printf("  %-44s median %8.1f ms  (min %7.1f, max %7.1f)\n", name, Ms(s),
              s.Percentile(0) / 1000.0, s.Percentile(100) / 1000.0);
}

bool PrintGoal(const char* name, double value, double limit, const char* unit) {
  const bool met = value <= limit;
  std::printf("  %-44s %7.2f%s  goal <= %.2f%s  %s\n", name, value, unit, limit, unit,
              met ? "met" : "NOT MET");
  return met;
}

void Report(const Results& m, unsigned cores) {
  std::printf("\nJPG, %d pages\n", kPages);
  PrintTime("tessaro-cli save-pages jpg, all processors", m.jpg.ours);
  PrintTime("tessaro-cli save-pages jpg, one processor", m.jpgOneCore.ours);
  PrintTime("reference: cjpeg -quality 75 on each page", m.jpg.reference);
  std::printf(
      "  output: ours %.2f MB, cjpeg %.2f MB; image data equal to cjpeg's on %d of %d pages\n",
      BytesToMb(m.ourJpgBytes), BytesToMb(m.refJpgBytes), m.sameImageData, kPages);
  std::printf("\nPDF, %d pages\n", kPages);
  PrintTime("tessaro-cli save-pages pdf, all processors", m.pdf.ours);
  PrintTime("tessaro-cli save-pages pdf, one processor", m.pdfOneCore.ours);
  PrintTime("reference: cjpeg on each page, then img2pdf", m.pdf.reference);
  std::printf("  output: ours %.2f MB, cjpeg + img2pdf %.2f MB\n", BytesToMb(m.ourPdfBytes),
              BytesToMb(m.refPdfBytes));

  std::printf(
      "\npeak resident size of the saving process (a child of this benchmark starts at %.1f MB)\n",
      KbToMb(Median(m.floorKb)));
  std::printf("  JPG  1 page %6.1f MB   %d pages %6.1f MB\n", KbToMb(Median(m.jpgOnePageKb)),
              kPages, KbToMb(Median(m.jpg.peakKb)));
  std::printf("  PDF  1 page %6.1f MB   %d pages %6.1f MB\n", KbToMb(Median(m.pdfOnePageKb)),
              kPages, KbToMb(Median(m.pdf.peakKb)));

  std::printf("\nratios ours / reference (medians) and goals\n");
  bool all = true;
  all &= PrintGoal("JPG save, one processor / cjpeg", Ms(m.jpgOneCore.ours) / Ms(m.jpg.reference),
                   0.5, "x");
  if (cores >= 2)
    all &= PrintGoal("JPG save, all processors / cjpeg", Ms(m.jpg.ours) / Ms(m.jpg.reference), 0.3,
                     "x");
  all &= PrintGoal("PDF save, all processors / cjpeg + img2pdf",
                   Ms(m.pdf.ours) / Ms(m.pdf.reference), 0.45, "x");
  std::printf("  %-44s %7.2fx  (no goal)\n", "PDF save, one processor / cjpeg + img2pdf",
              Ms(m.pdfOneCore.ours) / Ms(m.pdf.reference));
  // The PDF's JPEG data stay in memory until the document is written; beyond them, 64 MB.
  all &= PrintGoal("peak memory, JPG, 1 page", KbToMb(Median(m.jpgOnePageKb)), 64, " MB");
  all &= PrintGoal("peak memory, JPG, 10 pages", KbToMb(Median(m.jpg.peakKb)), 64, " MB");
  all &= PrintGoal("peak memory, PDF, 1 page (64 MB + its PDF)", KbToMb(Median(m.pdfOnePageKb)),
                   64 + BytesToMb(m.onePagePdfBytes), " MB");
  all &= PrintGoal("peak memory, PDF, 10 pages (64 MB + its PDF)", KbToMb(Median(m.pdf.peakKb)),
                   64 + BytesToMb(m.ourPdfBytes), " MB");
  std::printf("%s\n", all ? "all goals met" : "some goals NOT met");
}

int Run(int repetitions) {
  tessaro::testing::TempDir dir("/tmp/tessaro-bench-pages.");
  PageBench bench(dir.path());
  // The processors this benchmark may use (taskset limits them), not all the machine has: the
  // two-processor goal is only judged where two can be used.
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  const unsigned cores =
      ::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0
          ? static_cast<unsigned>(CPU_COUNT(&allowed))
          : std::max(1u, std::thread::hardware_concurrency());
  const auto start = std::chrono::steady_clock::now();
  MakePages(bench.pages(), cores);
  std::printf(
      "page saving: %d generated A4 pages, %d x %d, 24-bit bottom-up BMP, %.1f MB each, made in "
      "%.1f "
      "s\n",
      kPages, kA4Width300, kA4Height300,
      BytesToMb(static_cast<uintmax_t>(fs::file_size(Page(bench.pages(), 1, ".bmp")))),
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  std::printf("%d repetitions, medians; %u processors\n", repetitions, cores);
  Report(Measure(bench, dir.path(), repetitions), cores);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = 5;
  if (argc == 3 && std::string(argv[1]) == "--repetitions")
    repetitions = std::max(1, std::atoi(argv[2]));
  else if (argc != 1) {
    std::fprintf(stderr, "usage: bench_pages [--repetitions N]\n");
    return 2;
  }
  try {
    return Run(repetitions);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_pages: %s\n", e.what());
    return 1;
  }
}
