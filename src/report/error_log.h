// The "$errors" log: one line for every entry the restore leaves out or
// restores incompletely, and for every fault of the dump. Each line reaches
// the file with one write as soon as it is complete, so a run that is
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

// Called before a line is written: a parallel restore waits there until
// every earlier entry is finished, so lines keep the dump's order.
class LineTurn {
 public:
  virtual void wait_turn() = 0;

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
  void close();
  // Whether every line reached the file, and if not, why.
  bool incomplete() const { return incomplete_; }
  const char* failure_text() const { return failure_text_; }

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
  void turn() {
    if (turn_ != nullptr) turn_->wait_turn();
  }
  const char* words(const Failure& why);
  // Remembers the first failure to write the log, with the system's text.
  void written(bool ok);

  Platform& platform_;
  NameReader& names_;
  Handle handle_;
  LineTurn* turn_ = nullptr;
  bool incomplete_ = false;
  // Room for the longest line: the longest encoded name and a system text.
  char buffer_[kEncodedNameBytes + kFailureTextBytes + 256];
  LineWriter lines_;
  char words_[kFailureTextBytes];
  char failure_text_[kFailureTextBytes];
};
