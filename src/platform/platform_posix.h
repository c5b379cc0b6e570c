// The platform over POSIX system calls (Linux). Names are proper UTF-8 on
// disk; attribute words become mode bits and the user.DOSATTRIB extended
// attribute; creation times cannot be set and are dropped.
#pragma once

#include <sys/types.h>

#include "dump/name_codec.h"
#include "platform/platform.h"
#include "platform/time_stamp_counter.h"

class PosixPlatform final : public Platform {
 public:
  PosixPlatform(int argc, char** argv);

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
  bool cycles_are_time_stamp_counter() override { return kHasTimeStampCounter; }
  const char* native_help_switch() override { return nullptr; }
  NameRules name_rules() override { return NameRules::kPosix; }
  char path_separator() override { return '/'; }
  bool path_is_directory(const char16_t* path) override;
  void error_write(const char* text, std::uint32_t length) override;

 private:
  // Converts an entry name into path_, or fails with EINVAL for a name that
  // is not a plain entry.
  bool entry_path(const char16_t* name);
  bool fail();  // keeps errno for error_text; always false
  Handle protect(int fd);
  bool is_protected(dev_t device, ino_t inode) const;
  int create_exclusive();

  int argc_;
  char** argv_;
  int last_errno_ = 0;
  mode_t file_mode_;
  bool stdout_is_terminal_;
  bool copy_in_kernel_ = true;
  struct Identity {
    dev_t device;
    ino_t inode;
  };
  Identity protected_[4] = {};
  int protected_count_ = 0;
  char path_[kEncodedNameBytes + 1];
};
