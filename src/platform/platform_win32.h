// The platform over the Win32 and NT file services. Entries of the target are
// opened with NtCreateFile relative to an open directory handle and a bare
// name, so no path is ever built and the process's current directory is never
// changed: depth is not limited by any path length. Arguments come from the
// wide command line, so a base path or target with characters outside the
// ANSI code page arrives as typed.
#pragma once

#include <windows.h>

#include "platform/platform.h"

class Win32Platform final : public Platform {
 public:
  Win32Platform(int argc, wchar_t** argv);

  int arg_count() override;
  bool arg_is(int i, const char* ascii) override;
  std::uint32_t arg_to_name(int i, char16_t* out, std::uint32_t capacity) override;
  void console_write(const char* text, std::uint32_t length) override;
  void console_write_arg(int i) override;
  void console_flush() override;
  void error_write(const char* text, std::uint32_t length) override;
  bool console_failed(SystemError* why) override;
  Handle open_start_dir() override;
  Handle open_target(int i) override;
  Handle open_stream(const char16_t* path) override;
  Handle open_parent(const char16_t* path, const char16_t** last) override;
  Handle create_file(Handle dir, const char16_t* name) override;
  Handle make_dir(Handle dir, const char16_t* name, bool* made) override;
  Handle open_dir(Handle dir, const char16_t* name) override;
  Handle open_file_read(Handle dir, const char16_t* name) override;
  bool describe_open(Handle h, OpenState* out) override;
  Handle open_listing(Handle dir) override;
  Listed next_listed(Handle listing, char16_t* name, std::uint32_t capacity) override;
  bool inspect(Handle dir, const char16_t* name, EntryInfo* info) override;
  bool remove_file(Handle dir, const char16_t* name) override;
  bool rename_file(Handle dir, const char16_t* from, const char16_t* to) override;
  bool identity(Handle h, FileIdentity* out) override;
  Shown shows_entry(Handle dir, const char16_t* name, Handle entry) override;
  bool failed_because_exists() override;
  NameRules name_rules() override { return NameRules::kWindows; }
  bool folds_names(Handle) override { return true; }  // case-insensitive
  std::uint32_t read(Handle h, void* buffer, std::uint32_t count) override;
  bool write(Handle h, const void* data, std::uint32_t count) override;
  CopyResult copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) override;
  bool reads_at_offsets(Handle h) override;
  std::uint32_t read_at(Handle h, std::uint64_t offset, void* buffer, std::uint32_t count) override;
  CopyResult copy_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) override;
  bool close(Handle h) override;
  void set_times(Handle h, FileTime creation, FileTime access, FileTime write) override;
  void set_attr(Handle h, std::uint16_t attr) override;
  // Kept per thread: writers fail and report on threads of their own.
  SystemError last_error() override;
  std::uint32_t process_id() override { return GetCurrentProcessId(); }
  int processor_count() override;
  // No handle limit that a restore meets: the system's is in the millions.
  std::uint32_t handle_limit() override { return 0; }
  // Console events arrive on a thread of their own, which stops the main
  // thread before it speaks (catch_interruptions): nothing to hold.
  void hold_interruptions(bool) override {}
  bool start_thread(void (*body)(void*), void* arg, ThreadRef* out) override;
  void join_thread(ThreadRef thread) override;
  void error_text(SystemError error, char* out, std::uint32_t capacity) override;
  const char* error_code_system() override { return "win32"; }
  std::uint32_t tick_ms() override;
  std::uint64_t cycles() override;
  const char* native_help_switch() override { return "/?"; }
  char path_separator() override { return '\\'; }
  bool path_is_directory(const char16_t* path) override;

  // Ends the console line and the process on Ctrl+C, Ctrl+Break and the
  // console window closing, with the exit code of an interrupted program.
  static void catch_interruptions();

 private:
  bool fail();                         // keeps GetLastError() for last_error; always false
  bool fail_with(DWORD error);         // keeps error; always false
  Handle handle_or_fail(HANDLE h);     // both failure values become none
  Handle open_directory(const wchar_t* path);
  // NtCreateFile of a bare name inside dir. On failure keeps the status as
  // a Win32 code and returns none.
  Handle open_relative(Handle dir, const char16_t* name, ACCESS_MASK access, ULONG attributes,
                       ULONG disposition, ULONG options);
  // The identity and attributes of an open handle; pipe when it is a FIFO
  // or pipe rather than a file or directory.
  bool describe(Handle h, FileIdentity* id, DWORD* attributes, bool* pipe);
  // Whether the system's own names of dir and entry say that entry is the
  // name inside dir.
  Shown named_as_entry(Handle dir, const char16_t* name, Handle entry);

  int argc_;
  wchar_t** argv_;
  bool stdout_is_console_;
  DWORD console_error_ = 0;  // the first failure of standard output but a closed pipe
  void console_written(bool ok);
};
