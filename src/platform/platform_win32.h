// The platform over the Win32 file, console and message services. Arguments
// come from the wide command line, so a base path or target with characters
// outside the ANSI code page arrives as typed.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "platform/time_stamp_counter.h"

class Win32Platform final : public Platform {
 public:
  Win32Platform(int argc, wchar_t** argv);

  int arg_count() override;
  bool arg_is(int i, const char* ascii) override;
  std::uint32_t arg_to_name(int i, char16_t* out, std::uint32_t capacity) override;
  bool enter_target(int i) override;
  void console_write(const char* text, std::uint32_t length) override;
  void console_write_arg(int i) override;
  void console_flush() override;
  Handle open_stream(const char16_t* path) override;
  Handle create_log() override;
  Handle create_file(const char16_t* name) override;
  Handle open_dir(const char16_t* name) override;
  std::uint32_t read(Handle h, void* buffer, std::uint32_t count) override;
  void write(Handle h, const void* data, std::uint32_t count) override;
  std::uint32_t copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) override;
  void close(Handle h) override;
  bool make_dir(const char16_t* name) override;
  void set_attr(const char16_t* name, std::uint16_t attr) override;
  void set_times(Handle h, FileTime creation, FileTime access, FileTime write) override;
  bool enter_dir(const char16_t* name) override;
  bool leave_dir() override;
  void error_text(char* out, std::uint32_t capacity) override;
  std::uint32_t tick_ms() override;
  std::uint64_t cycles() override;
  bool cycles_are_time_stamp_counter() override { return true; }
  const char* native_help_switch() override { return "/?"; }
  NameRules name_rules() override { return NameRules::kWindows; }
  char path_separator() override { return '\\'; }
  bool path_is_directory(const char16_t* path) override;
  void error_write(const char* text, std::uint32_t length) override;

 private:
  bool fail();                     // keeps GetLastError() for error_text; always false
  Handle handle_or_fail(HANDLE h);  // both failure values become none
  Handle protect(HANDLE h);
  bool is_protected(const BY_HANDLE_FILE_INFORMATION& info) const;
  bool refuse_invalid(const wchar_t* name);
  bool is_entry_itself(HANDLE existing, const wchar_t* name);

  static constexpr DWORD kPathChars = 2 * 32768 + 2;

  int argc_;
  wchar_t** argv_;
  DWORD last_error_ = 0;
  bool stdout_is_console_;
  struct Identity {
    DWORD volume;
    DWORD index_high;
    DWORD index_low;
  };
  Identity protected_[4] = {};
  int protected_count_ = 0;
};
