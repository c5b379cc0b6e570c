// The platform over POSIX system calls (Linux). Entries are reached with the
// *at calls relative to open directory descriptors. Names are proper UTF-8
// on disk; attribute words become mode bits and the user.DOSATTRIB extended
// attribute; creation times cannot be set and are dropped.
#pragma once

#include <sys/types.h>

#include <atomic>

#include "platform/platform.h"

class PosixPlatform final : public Platform {
 public:
  PosixPlatform(int argc, char** argv);

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
  Shown shows_entry(Handle, const char16_t*, Handle) override { return Shown::kItself; }  // O_NOFOLLOW
  bool failed_because_exists() override;
  NameRules name_rules() override { return NameRules::kPosix; }
  bool folds_names(Handle dir) override;
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
  void error_text(SystemError error, char* out, std::uint32_t capacity) override;
  const char* error_code_system() override { return "errno"; }
  std::uint32_t process_id() override;
  int processor_count() override;
  std::uint32_t handle_limit() override;
  void hold_interruptions(bool held) override;
  bool start_thread(void (*body)(void*), void* arg, ThreadRef* out) override;
  void join_thread(ThreadRef thread) override;
  std::uint32_t tick_ms() override;
  std::uint64_t cycles() override;
  const char* native_help_switch() override { return nullptr; }
  char path_separator() override { return '/'; }
  bool path_is_directory(const char16_t* path) override;

 private:
  // Converts an entry name into the calling thread's path buffer.
  const char* entry_path(const char16_t* name);
  bool fail();  // keeps errno for error_text; always false
  // copy_block from the stream's position (at: nullptr) or from *at.
  CopyResult copy_from(Handle from, const std::uint64_t* at, Handle to, void* buffer, std::uint32_t count);
  Handle handle_or_fail(int fd);

  int argc_;
  char** argv_;
  int console_errno_ = 0;  // the first failure of standard output but EPIPE
  void console_written(bool ok);
  mode_t file_mode_;
  // How the kernel moves bodies itself: copy_file_range within a file
  // system, sendfile across file systems (copy_file_range refuses those),
  // or not at all (through the buffer). Lowered, for good, at a refusal.
  enum class KernelCopy { kCopyFileRange, kSendfile, kNone };
  std::atomic<KernelCopy> kernel_copy_{KernelCopy::kCopyFileRange};
  // The entries of the listing being read, as the kernel gave them.
  int listing_fd_ = -1;
  long listing_at_ = 0;
  long listing_end_ = 0;
  alignas(8) char listing_[65536];
};
