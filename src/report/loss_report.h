// What a restore left out, told three ways beside the log: counted by
// record, the first kToldLosses named on standard error at the end of the
// run, and each one an object of the --report file (JSON Lines).
//
// An entry is "not restored" when its record was not restored whole: a log
// line names it (mkdir, createfile, write, content, or chdir for a directory
// that exists but could not be entered), or it lies in a subtree passed
// over (below a directory not made or not entered, or at the levels a
// damaged dump's depths skip). A record counts once, whatever lines it has.
// A chdir line about a file (a record below a file) does not count the
// file, which is whole: only the records passed over below it count.
//
// Calls come in the log's order, under its turn (see LineTurn): from the
// reading thread or from the writer whose batch holds the entry, one at a
// time, so nothing here needs a lock. The count is atomic for the last
// words, which read it while writers may still go on.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "report/entry_lines.h"
#include "report/failure.h"
#include "report/line_writer.h"
#include "report/path_text.h"

// Entries named on standard error at the end; the rest are counted.
constexpr int kToldLosses = 20;

enum class LossKind : std::uint8_t { kMkdir, kChdir, kCreatefile, kWrite, kContent };

// One log line about an entry.
struct Loss {
  LossKind kind = LossKind::kCreatefile;
  EntryText path;
  std::uint64_t record = 0;  // counted from 0
  std::uint16_t attr = 0;
  std::uint64_t size = 0;  // for a file
  const char* words = "";
  const Failure* why = nullptr;  // nullptr for content: no call failed
};

// The run's totals, for the report's last object.
struct LossTotals {
  std::uint64_t entries = 0;  // records read
  std::uint64_t kept = 0;     // --resume: files already whole, kept
  std::uint64_t passed = 0;   // --only: records passed over
  std::uint64_t bytes = 0;    // content bytes read
  int status = 0;
  // Interrupted: where ("while restoring", "between entries", "before the
  // first entry"), and the file cut, if any; nullptr when not interrupted.
  const char* interrupted = nullptr;
  const EntryText* interrupted_path = nullptr;
};

class LossReport {
 public:
  explicit LossReport(Platform& platform)
      : platform_(platform), report_(platform, LineSink::kFile, buffer_, sizeof buffer_) {}

  // Writes the objects from now on to this file (the --report file).
  void write_to(Handle file);
  void close();
  bool has_report() const { return file_.valid(); }
  // Whether every object reached the file, and if not, why.
  bool incomplete() const { return incomplete_; }
  const char* failure_text() const { return failure_text_; }

  void entry(const Loss& loss);
  // The record is passed over: it lies in a subtree not entered, which
  // holds the entries at `directory` (its path). A run of such records
  // ends with end_passed_over(); one that follows a chdir line belongs to
  // the entry that line named.
  void passed_over(std::uint64_t record, const EntryText& directory);
  void end_passed_over();

  std::uint64_t not_restored() const { return not_restored_.load(std::memory_order_relaxed); }
  // "fsrestore: PATH: WHAT: WORDS" for each entry told, then
  // "fsrestore: N more in $errors" (or the log named by log_path) for
  // those past kToldLosses.
  void tell(LineWriter& err, const char16_t* log_path = nullptr) const;
  // The report's last object. In the last words too: it uses a buffer of
  // its own, and reads only what the stopped reading thread left.
  void totals(const LossTotals& totals);

 private:
  struct Told {
    char text[kPathTextBytes + 512];  // "PATH: WHAT: WORDS"
    std::uint32_t length = 0;
    std::uint64_t record = 0;
    std::uint64_t below = 0;  // entries passed over below it
    bool has_below = false;
  };

  void count(std::uint64_t record);
  void tell_later(const EntryText& path, const char* what, const char* words, std::uint64_t record);
  void object(const Loss& loss);
  void written(bool ok);

  Platform& platform_;
  Handle file_;
  bool incomplete_ = false;
  std::atomic<std::uint64_t> not_restored_{0};
  std::uint64_t last_counted_ = ~std::uint64_t{0};
  std::uint64_t last_told_ = ~std::uint64_t{0};  // the record of the last entry told or reported
  // The run of records passed over: its directory, how many, and whether it
  // belongs to the entry of a chdir line (which then says how many).
  bool in_run_ = false;
  std::uint64_t run_count_ = 0;
  std::uint64_t run_holder_ = 0;
  bool run_held_ = false;
  int run_line_ = -1;  // the line on standard error that tells the run's count
  bool chdir_pending_ = false;  // a chdir line came, its run not yet begun
  std::uint64_t chdir_record_ = 0;
  PathText run_path_;
  char run_words_[512] = {};
  int told_ = 0;                 // entries with a line on standard error, all of them
  Told lines_[kToldLosses];
  char buffer_[kPathTextBytes + kFailureTextBytes + 512];
  LineWriter report_;
  char last_buffer_[1024];
  char failure_text_[kFailureTextBytes];
};
