// The "$errors" log: one line for every entry the restore leaves out or
// restores incompletely, and for every fault of the dump. Each line reaches
// the file with one write once it is complete and its turn has come (with
// writers, once every earlier entry is finished), so a run that is
// interrupted or killed keeps every failure met before. A log that cannot
// be written is remembered with the system's text, for the driver to report
// at the end.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/entry_lines.h"
#include "report/failure.h"
#include "report/line_writer.h"
#include "report/loss_report.h"
#include "report/path_text.h"

// Called before a line is written: a parallel restore waits there until
// every earlier entry is finished, so lines keep the dump's order.
class LineTurn {
 public:
  // Before a line: returns once the line may be written.
  virtual void wait_turn() = 0;
  // After it (and the losses it tells) was written.
  virtual void line_done() {}

 protected:
  ~LineTurn() = default;
};

class ErrorLog {
 public:
  ErrorLog(Platform& platform, NameReader& names)
      : platform_(platform), names_(names), lines_(platform, LineSink::kFile, buffer_, sizeof buffer_) {}

  // Writes from now on to the newly created "$errors" file; false when it
  // is none.
  bool write_to(Handle file);
  void set_turn(LineTurn* turn) { turn_ = turn; }
  // Each entry line also goes to losses, the entry named by the path last
  // placed in paths (the name buffer's entry, or for a chdir line the
  // directory it could not enter) and by the record given to naming().
  void report_losses(LossReport* losses, const PathText* paths) {
    losses_ = losses;
    paths_ = paths;
  }
  // The record (counted from 0) of the entry the next lines name.
  void naming(std::uint64_t record) { record_ = record; }
  // The record given to naming() lies in a subtree passed over, which holds
  // the entries of `depth`; and the end of such a run.
  void passed_over(int depth);
  void end_passed_over();
  void close();
  // Whether every line reached the file, and if not, why.
  bool incomplete() const { return incomplete_; }
  const char* failure_text() const { return failure_text_; }
  // The lines written (or tried): those naming an entry that was not
  // restored whole (chdir, mkdir, createfile, write, content), and those
  // telling of a damaged dump (names, nodes).
  std::uint64_t entry_lines() const { return entry_lines_; }
  std::uint64_t dump_lines() const { return dump_lines_; }

  // The last line of an interrupted run; called instead of the main thread,
  // which never runs again (see platform/interruption.h), so its buffers
  // are free. "interrupted while restoring <a.txt>, attr=0020, size=5"
  // names the file the interruption cut, which keeps neither its times nor
  // its attribute word and may be short.
  void interrupted_in_file(std::uint16_t attr, std::uint64_t size);
  // "interrupted between entries", "interrupted before the first entry".
  void interrupted(const char* when);

  // Entries are named by the name in the name buffer.
  void chdir_failed(std::uint16_t attr, const Failure& why);  // the named directory cannot be entered
  void mkdir_failed(std::uint16_t attr, const Failure& why);  // the named directory cannot be created
  void createfile_failed(std::uint16_t attr, std::uint64_t size, const Failure& why);
  void write_failed(std::uint16_t attr, std::uint64_t size, const Failure& why);  // a body not written whole
  void nodes_failed(const Failure& why);  // reading "$fsnodes" failed
  void names_failed(const Failure& why);  // reading "$fsnames" failed

  // Faults of the dump itself.
  void content_short(std::uint16_t attr, std::uint64_t size, std::uint64_t missing);
  void names_ended();
  void nodes_stray(std::uint32_t bytes);
  // record counts from 1.
  void depth_jump(int from, int to, std::uint64_t record);
  void first_record_deep(int depth);

 private:
  EntryText entry();
  void lost(LossKind kind, std::uint16_t attr, std::uint64_t size, const Failure* why);
  // A line's turn, from its start to the end of the call that writes it.
  class Turn {
   public:
    explicit Turn(LineTurn* turn) : turn_(turn) {
      if (turn_ != nullptr) turn_->wait_turn();
    }
    ~Turn() {
      if (turn_ != nullptr) turn_->line_done();
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

   private:
    LineTurn* turn_;
  };
  const char* words(const Failure& why);
  // Remembers the first failure to write the log, with the system's text.
  void written(bool ok);
  void entry_line(bool ok) {
    ++entry_lines_;
    written(ok);
  }
  void dump_line(bool ok) {
    ++dump_lines_;
    written(ok);
  }

  Platform& platform_;
  NameReader& names_;
  Handle handle_;
  LineTurn* turn_ = nullptr;
  LossReport* losses_ = nullptr;
  const PathText* paths_ = nullptr;
  std::uint64_t record_ = 0;
  bool incomplete_ = false;
  std::uint64_t entry_lines_ = 0;
  std::uint64_t dump_lines_ = 0;
  // Room for the longest line: the longest encoded name and a system text.
  char buffer_[kEncodedNameBytes + kFailureTextBytes + 256];
  LineWriter lines_;
  char words_[kFailureTextBytes];
  char failure_text_[kFailureTextBytes];
};
