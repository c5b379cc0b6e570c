// The "$errors" log: one line for every entry the restore leaves out or
// restores incompletely, each ending with the system's text for the failure.
// Each line reaches the file with one write as soon as it is complete, so a
// run that is interrupted or killed keeps every failure met before. A log
// that cannot be written is remembered with the system's text, for the
// driver to report at the end.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/name_reader.h"
#include "platform/platform.h"

constexpr std::uint32_t kErrorTextBytes = 32768;

class ErrorLog {
 public:
  ErrorLog(Platform& platform, NameReader& names) : platform_(platform), names_(names) {}

  // Takes the newly created "$errors" file; false when it is none.
  bool open(Handle file);
  void close();
  // Whether every line reached the file, and if not, why.
  bool incomplete() const { return incomplete_; }
  const char* failure_text() const { return failure_text_; }

  // Each of these fetches the system's text for the failure that has just
  // happened before anything else reaches the platform, so call them right
  // after the failing operation. Names come from the name buffer.
  void chdir_failed(std::uint16_t attr);  // the named directory cannot be entered
  void mkdir_failed(std::uint16_t attr);  // the named directory cannot be created
  void createfile_failed(std::uint16_t attr, std::uint64_t size);
  void write_failed(std::uint16_t attr, std::uint64_t size);  // a body not written whole
  void nodes_failed();                    // reading "$fsnodes" failed
  void names_failed();                    // reading "$fsnames" failed

  // Faults of the dump itself; no system text.
  void content_short(std::uint16_t attr, std::uint64_t size, std::uint64_t missing);
  void names_ended();
  void nodes_stray(std::uint32_t bytes);
  // record counts from 1.
  void depth_jump(int from, int to, std::uint64_t record);

  // The system's text for the last failure, control characters turned into
  // spaces so a line stays one line.
  const char* system_error_text();

 private:
  // "<what> error with <NAME><attr_label>XXXX: <system text>"
  void dir_line(const char* what, const char* attr_label, std::uint16_t attr);
  // "<what> error with <NAME>, attr=XXXX, size=N: <system text>"
  void file_line(const char* what, std::uint16_t attr, std::uint64_t size);
  // "<head><system text>"
  void stream_line(const char* head);
  // "<what> error with <NAME>, attr=XXXX, size=N: "
  void file_head(const char* what, std::uint16_t attr, std::uint64_t size);
  void text(const char* s);
  void bytes(const char* data, std::uint32_t length);
  void decimal(std::int64_t value);
  void hex4(std::uint32_t value);
  // Ends the line and writes it out.
  void end_line();
  // Remembers the first failure to write the log, with the system's text.
  void note_failure();

  Platform& platform_;
  NameReader& names_;
  Handle handle_;
  std::uint32_t used_ = 0;
  bool incomplete_ = false;
  // Room for the longest line: the longest encoded name and a system text.
  char buffer_[kEncodedNameBytes + kErrorTextBytes + 256];
  char error_text_[kErrorTextBytes];
  char failure_text_[kErrorTextBytes];
};
