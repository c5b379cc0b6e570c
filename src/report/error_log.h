// The "$errors" log: one line for every entry the restore leaves out or
// restores incompletely, each ending with the system's text for the failure.
// Lines are buffered and written out when the buffer fills and on close.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/name_reader.h"
#include "platform/platform.h"

constexpr std::uint32_t kErrorTextBytes = 32768;

class ErrorLog {
 public:
  ErrorLog(Platform& platform, NameReader& names) : platform_(platform), names_(names) {}

  // Creates "$errors" in the current directory. False when it cannot.
  bool open();
  void close();

  // Each of these fetches the system's text for the failure that has just
  // happened before anything else reaches the platform, so call them right
  // after the failing operation. Names come from the name buffer.
  void chdir_failed(std::uint16_t attr);   // the named directory cannot be entered
  void step_up_failed();                   // ".." cannot be entered
  void createfile_failed(std::uint16_t attr, std::uint64_t size);

  // Faults of the dump itself; no system text.
  void content_short(std::uint16_t attr, std::uint64_t size, std::uint64_t missing);
  void names_ended();
  void nodes_stray(std::uint32_t bytes);

  // The system's text for the last failure, control characters turned into
  // spaces so a line stays one line.
  const char* system_error_text();

 private:
  // "<what> error with <NAME>, attr=XXXX, size=N: "
  void file_head(const char* what, std::uint16_t attr, std::uint64_t size);
  void text(const char* s);
  void bytes(const char* data, std::uint32_t length);
  void decimal(std::int64_t value);
  void hex4(std::uint32_t value);
  void end_line() { text("\n"); }
  void flush();

  Platform& platform_;
  NameReader& names_;
  Handle handle_;
  std::uint32_t used_ = 0;
  char buffer_[kLogBufferBytes];
  char error_text_[kErrorTextBytes];
};
