#include "report/loss_report.h"

#include <cstring>

#include "report/json_line.h"
#include "report/number_text.h"
#include "report/open_failure.h"

namespace {

// Per kind of loss: the log line's word, and what failed as a person reads
// it on standard error; in the order of LossKind.
struct KindWords {
  const char* log;
  const char* what;
};
constexpr KindWords kKindWords[] = {
    {"mkdir", "cannot make directory"}, {"chdir", "cannot enter"},   {"createfile", "cannot create"},
    {"write", "cannot write"},          {"content", "body cut short"},
};
static_assert(sizeof kKindWords / sizeof kKindWords[0] == static_cast<int>(LossKind::kContent) + 1,
              "one entry per kind of loss");

const char* log_kind(LossKind kind) { return kKindWords[static_cast<int>(kind)].log; }
const char* what_failed(LossKind kind) { return kKindWords[static_cast<int>(kind)].what; }

constexpr char kSkippedLevelWords[] = "the dump's depths skip a level here";

// Appends text to out[used..capacity), as much as fits.
std::uint32_t append(char* out, std::uint32_t used, std::uint32_t capacity, const char* text, std::uint32_t length) {
  const std::uint32_t n = length < capacity - used ? length : capacity - used;
  std::memcpy(out + used, text, n);
  return used + n;
}

std::uint32_t append(char* out, std::uint32_t used, std::uint32_t capacity, const char* text) {
  return append(out, used, capacity, text, static_cast<std::uint32_t>(std::strlen(text)));
}

}  // namespace

void LossReport::write_to(Handle file) {
  file_ = file;
  report_.set_file(file);
}

void LossReport::close() {
  if (!file_.valid()) return;
  written(platform_.close(file_));
  file_ = Handle::none();
  report_.set_file(file_);
}

void LossReport::written(bool ok) {
  if (ok || incomplete_) return;
  incomplete_ = true;
  ::failure_text(platform_, Failure::of_last_call(platform_), failure_text_, sizeof failure_text_);
}

void LossReport::count(std::uint64_t record) {
  if (record == last_counted_) return;
  last_counted_ = record;
  not_restored_.fetch_add(1, std::memory_order_relaxed);
}

// A chdir line's entry holds the run of records passed over that follows;
// it is itself an entry not restored unless it is a file (a record below a
// file), which is whole.
void LossReport::entry(const Loss& loss) {
  const bool below_file = loss.why != nullptr && loss.why->refusal == Refusal::kNotBelowDirectory;
  // A run of records passed over follows its chdir line at once, or not at
  // all (--only passed the records over itself).
  chdir_pending_ = loss.kind == LossKind::kChdir;
  if (loss.kind == LossKind::kChdir) {
    chdir_record_ = loss.record;
    std::uint32_t n = append(run_words_, 0, sizeof run_words_ - 1, loss.words);
    run_words_[n] = 0;
  }
  if (below_file) return;
  count(loss.record);
  if (loss.record == last_told_) return;
  last_told_ = loss.record;
  object(loss);
  tell_later(loss.path, what_failed(loss.kind), loss.words, loss.record);
}

void LossReport::tell_later(const EntryText& path, const char* what, const char* words, std::uint64_t record) {
  if (told_++ >= kToldLosses) return;
  Told& t = lines_[told_ - 1];
  const std::uint32_t capacity = sizeof t.text;
  std::uint32_t n = 0;
  if (path.length == 0 && path.tail[0] == 0) {
    n = append(t.text, n, capacity, ".");
  } else {
    n = append(t.text, n, capacity, path.bytes, path.length);
    n = append(t.text, n, capacity, path.tail);
  }
  n = append(t.text, n, capacity, ": ");
  n = append(t.text, n, capacity, what);
  n = append(t.text, n, capacity, ": ");
  n = append(t.text, n, capacity, words);
  // A system's words may end in spaces where its line break was.
  while (n > 0 && t.text[n - 1] == ' ') --n;
  t.length = n;
  t.record = record;
  t.below = 0;
  t.has_below = false;
}

void LossReport::object(const Loss& loss) {
  if (!file_.valid()) return;
  JsonLine o(report_);
  o.number("schema", 1).string("kind", log_kind(loss.kind));
  o.string("path", loss.path.bytes, loss.path.length, loss.path.tail);
  // A system's words may end in spaces where its line break was.
  std::uint32_t n = static_cast<std::uint32_t>(std::strlen(loss.words));
  while (n > 0 && loss.words[n - 1] == ' ') --n;
  o.string("words", loss.words, n);
  if (loss.why == nullptr) {
    o.null("code").null("code_system");
  } else if (loss.why->refusal != Refusal::kNone) {
    o.null("code").string("code_system", "fsrestore");
  } else {
    o.number("code", loss.why->system.code).string("code_system", platform_.error_code_system());
  }
  const bool file = loss.kind != LossKind::kMkdir && loss.kind != LossKind::kChdir;
  if (file) {
    o.number("size", static_cast<std::int64_t>(loss.size));
  } else {
    o.null("size");
  }
  if (loss.kind == LossKind::kChdir) {
    o.null("attr");
  } else {
    o.number("attr", loss.attr);
  }
  written(o.end());
}

void LossReport::passed_over(std::uint64_t record, const EntryText& directory) {
  count(record);
  if (in_run_) {
    ++run_count_;
    return;
  }
  in_run_ = true;
  run_count_ = 1;
  run_held_ = chdir_pending_;
  run_holder_ = chdir_record_;
  run_line_ = run_held_ && last_told_ == run_holder_ && told_ <= kToldLosses ? told_ - 1 : -1;
  if (!chdir_pending_) std::strcpy(run_words_, kSkippedLevelWords);
  chdir_pending_ = false;
  run_path_.place_in(directory, nullptr);
}

// The entry that holds the run says how many were passed over below it;
// one told without a line of its own (a file, or levels a damaged dump
// skips) gets its line now.
void LossReport::end_passed_over() {
  chdir_pending_ = false;
  if (!in_run_) return;
  in_run_ = false;
  const EntryText path = run_path_.last();
  if (file_.valid()) {
    JsonLine o(report_);
    o.number("schema", 1).string("kind", "subtree").string("path", path.bytes, path.length, path.tail);
    written(o.number("entries", static_cast<std::int64_t>(run_count_)).end());
  }
  const bool holder_told = run_held_ && (run_line_ >= 0 || last_told_ == run_holder_);
  if (!holder_told) {
    last_told_ = run_held_ ? run_holder_ : ~std::uint64_t{0};
    tell_later(path, what_failed(LossKind::kChdir), run_words_, last_told_);
    run_line_ = told_ <= kToldLosses ? told_ - 1 : -1;
  }
  if (run_line_ >= 0) {
    lines_[run_line_].below = run_count_;
    lines_[run_line_].has_below = true;
  }
}

void LossReport::tell(LineWriter& err, const char16_t* log_path) const {
  const int shown = told_ < kToldLosses ? told_ : kToldLosses;
  for (int i = 0; i < shown; ++i) {
    const Told& t = lines_[i];
    err.text("fsrestore: ").bytes(t.text, t.length);
    if (t.has_below) {
      err.text("; ").decimal(static_cast<std::int64_t>(t.below));
      err.text(t.below == 1 ? " entry" : " entries").text(" below it not restored");
    }
    err.end_line();
  }
  if (told_ <= kToldLosses) return;
  err.text("fsrestore: ").decimal(told_ - kToldLosses).text(" more in ");
  if (log_path != nullptr) {
    write_user_path(err, log_path);
  } else {
    err.text("$errors");
  }
  err.end_line();
}

void LossReport::totals(const LossTotals& t) {
  if (!file_.valid()) return;
  LineWriter last(platform_, LineSink::kFile, last_buffer_, sizeof last_buffer_);
  last.set_file(file_);
  const std::uint64_t lost = not_restored();
  const std::uint64_t skipped = t.kept + t.passed;
  const std::uint64_t restored = t.entries > lost + skipped ? t.entries - lost - skipped : 0;
  JsonLine o(last);
  o.number("schema", 1).string("kind", "totals");
  o.number("entries", static_cast<std::int64_t>(t.entries)).number("restored", static_cast<std::int64_t>(restored));
  o.number("not_restored", static_cast<std::int64_t>(lost));
  o.number("kept", static_cast<std::int64_t>(t.kept)).number("passed_over", static_cast<std::int64_t>(t.passed));
  o.number("bytes", static_cast<std::int64_t>(t.bytes));
  if (t.interrupted == nullptr) {
    o.number("status", t.status).null("interrupted").null("interrupted_path");
  } else {
    o.null("status").string("interrupted", t.interrupted);
    if (t.interrupted_path != nullptr) {
      o.string("interrupted_path", t.interrupted_path->bytes, t.interrupted_path->length, t.interrupted_path->tail);
    } else {
      o.null("interrupted_path");
    }
  }
  const bool ok = o.end();
  if (t.interrupted == nullptr) written(ok);
}
