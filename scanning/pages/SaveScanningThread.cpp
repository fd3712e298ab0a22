// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/pages/SaveScanningThread.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "scanning/pages/ImageFormats.h"
#include "scanning/pages/JpegCodec.h"
#include "scanning/pages/PageNames.h"
#include "scanning/pages/PdfBuilder.h"

namespace tessaro {

namespace {

// Compresses the pages of a run on several threads and hands them over in page order, so
// messages and files come out as if one thread had done them one after the other. The taker
// flushes and names each page while the workers compress the next ones, so a page's wait for
// the disk overlaps their work; they run at most a few pages ahead, so the pages waiting for
// their name (and their open files) stay few.
class OrderedConversion {
 public:
  using Work = std::function<std::optional<EncodedPage>(JpegEncoder&, int32_t page)>;

  OrderedConversion(int32_t pages, unsigned workers, Work work)
      : pages_(pages), ahead_(2 * static_cast<int32_t>(workers)), work_(std::move(work)),
        results_(static_cast<size_t>(pages) + 1) {
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Serve(); });
  }
  ~OrderedConversion() {
    {
      std::lock_guard lock(mutex_);
      abandoned_ = true;  // a taker that left early must not leave workers waiting for it
    }
    changed_.notify_all();
    for (auto& t : threads_) t.join();
  }

  // Waits for page `page` (1-based, taken in order) and gives its result.
  std::optional<EncodedPage> Take(int32_t page) {
    std::unique_lock lock(mutex_);
    auto& slot = results_[static_cast<size_t>(page)];
    changed_.wait(lock, [&] { return slot.has_value(); });
    std::optional<EncodedPage> result = std::move(*slot);
    slot.reset();
    taken_ = page;
    changed_.notify_all();
    return result;
  }

 private:
  void Serve() {
    JpegEncoder encoder;  // one codec per thread, reused for all its pages
    for (;;) {
      int32_t page = 0;
      {
        std::unique_lock lock(mutex_);
        page = next_++;
        if (page > pages_) return;
        changed_.wait(lock, [&] { return abandoned_ || page - taken_ <= ahead_; });
        if (abandoned_) return;
      }
      std::optional<EncodedPage> result;
      try {
        result = work_(encoder, page);
      } catch (const std::exception&) {
        result.reset();  // out of memory on one page fails that page, not the program
      }
      std::lock_guard lock(mutex_);
      results_[static_cast<size_t>(page)] = std::move(result);
      changed_.notify_all();
    }
  }

  const int32_t pages_;
  const int32_t ahead_;  // pages past the last one taken that may be started
  Work work_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int32_t next_ = 1;
  int32_t taken_ = 0;
  bool abandoned_ = false;
  std::vector<std::optional<std::optional<EncodedPage>>> results_;
  std::vector<std::thread> threads_;
};

// Processors this process may run on (its affinity), not merely those the machine has.
unsigned UsableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

unsigned WorkerCount(unsigned asked, int32_t pages) {
  const unsigned cores = UsableProcessors();
  const unsigned wanted = asked == 0 ? cores : asked;
  return std::max(1u, std::min(wanted, static_cast<unsigned>(std::max(pages, 1))));
}

}  // namespace

TSaveScanningThread::TSaveScanningThread(ScanSaveHost& host, MainThread& mainThread, UiPort& ui,
                                         SaveRun run, SaveOptions options)
    : host_(host), main_(mainThread), ui_(ui), run_(run), options_(options) {}

TSaveScanningThread::~TSaveScanningThread() {
  if (thread_.joinable()) thread_.join();
}

void TSaveScanningThread::Start() {
  if (!thread_.joinable() && !finished_) thread_ = std::thread([this] { Execute(); });
}

void TSaveScanningThread::ReportFailure(const std::string& file) {
  failed_ = true;
  main_.RunSync([&] {
    ui_.ShowMessage({kSaveMessageCaption, kSaveErrorText + file, mb::kOk | mb::kIconWarning, true});
  });
}

void TSaveScanningThread::Execute() {
  const std::string target = host_.TargetFileName();
  const std::string tempBase = host_.PdfTempBase();
  const TargetParts parts = SplitTarget(target);
  switch (parts.format) {
    case SaveFormat::Bmp: StampPages(parts.base); break;
    case SaveFormat::Jpg: ConvertPages(parts.base); break;
    case SaveFormat::Pdf: BuildPdf(tempBase, target); break;
    case SaveFormat::Other: break;  // nothing is written
  }
  if (!failed_ && run_.pageCount > 1) main_.RunSync([this] { host_.EnableNavigation(); });
  main_.RunSync([this] { host_.SaveCompleted(failed_); });
  finished_ = true;
  main_.Post([] {});  // wakes a main thread that waits for hand-overs until Finished()
}

void TSaveScanningThread::StampPages(const std::string& base) {
  for (int32_t k = 1; k <= run_.pageCount; ++k) {
    const std::string page = PageFileName(base, k, ".bmp");
    if (!StampBmpResolution(page, run_.resolution)) ReportFailure(page);
    ++pagesDone_;
  }
}

void TSaveScanningThread::ConvertPages(const std::string& base) {
  const int32_t dpi = run_.resolution;
  const bool replace = options_.replaceExisting;
  OrderedConversion conversion(run_.pageCount, WorkerCount(options_.workers, run_.pageCount),
                               [&](JpegEncoder& encoder, int32_t k) {
                                 return EncodeBmpFile(encoder, PageFileName(base, k, ".bmp"),
                                                      PageFileName(base, k, ".jpg"), dpi);
                               });
  for (int32_t k = 1; k <= run_.pageCount; ++k) {
    const auto page = conversion.Take(k);
    if (page && page->file->Commit(replace)) {
      ::unlink(PageFileName(base, k, ".bmp").c_str());
    } else {
      // The BMP stays: it is the only copy of a page that could not be saved.
      ReportFailure(PageFileName(base, k, ".jpg"));
    }
    ++pagesDone_;
  }
}

void TSaveScanningThread::BuildPdf(const std::string& tempBase, const std::string& target) {
  const int32_t dpi = run_.resolution;
  PdfBuilder pdf;
  const bool pdfReady = pdf.ok();
  bool failed = !pdfReady;
  std::vector<std::string> previews;  // the intermediate JPEGs this run created
  {
    OrderedConversion conversion(run_.pageCount, WorkerCount(options_.workers, run_.pageCount),
                                 [&](JpegEncoder& encoder, int32_t k) {
                                   return EncodeBmpFile(encoder, PageFileName(tempBase, k, ".bmp"),
                                                        PageFileName(tempBase, k, ".jpg"), dpi);
                                 });
    for (int32_t k = 1; k <= run_.pageCount; ++k) {
      const std::string jpeg = PageFileName(tempBase, k, ".jpg");
      auto page = conversion.Take(k);
      // The document reads the page from the run's own temporary file, not from its name, which
      // may hold a file of someone else's. After a failure the later pages are still converted,
      // so that each failing one is reported, but no more go into the document.
      const bool added =
          page && (failed || pdf.AddJpegPage(page->file->tempPath(), page->width, page->height));
      // The JPEG stays for the window's preview, but only where its name is free: a file already
      // there is never replaced, and that page then simply has no preview.
      if (page && page->file->Commit(false)) previews.push_back(jpeg);
      page.reset();  // removes the temporary file when it got no name
      if (!added) {
        failed = true;
        ReportFailure(jpeg);
      }
      ++pagesDone_;
    }
  }
  const bool saved = !failed && pdf.Save(target, options_.replaceExisting);
  // A document that cannot be written is a failed save too, not a silent one.
  if (!pdfReady || (!failed && !saved)) ReportFailure(target);
  // Only once the whole document is flushed and named on disk are the BMPs no longer the only
  // copy of their pages. Until then every page keeps its BMP, whatever failed.
  if (saved) {
    for (int32_t k = 1; k <= run_.pageCount; ++k) {
      ::unlink(PageFileName(tempBase, k, ".bmp").c_str());
    }
  }
  main_.RunSync([&] { host_.SetPdfPagesPending(std::move(previews)); });
}

}  // namespace tessaro
