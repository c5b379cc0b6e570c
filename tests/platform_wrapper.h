// A Platform that hands every call to another one, the way a fault-injecting
// environment wraps a real system: a test picks one call of one operation to
// fail with a system error code of its choosing, and the run sees that
// failure through last_error() and error_text() as if the system had
// reported it, worded by the wrapped platform.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform_ops.h"

class PlatformWrapper final : public Platform {
 public:
  explicit PlatformWrapper(Platform& inner) : inner_(inner) {}

  // Makes the nth call of op (1-based, counted from now) fail with code.
  // The failing call does not reach the wrapped platform, except that a
  // failing close still closes and a failing copy_block (its write) still
  // takes the block from the source, as the interface promises.
  void fail(PlatformOp op, int nth, std::uint32_t code) {
    op_ = op;
    calls_left_ = nth;
    code_ = code;
  }
  bool injected() const { return injected_count_ > 0; }

  int arg_count() override { return inner_.arg_count(); }
  bool arg_is(int i, const char* ascii) override { return inner_.arg_is(i, ascii); }
  std::uint32_t arg_to_name(int i, char16_t* out, std::uint32_t capacity) override {
    return inner_.arg_to_name(i, out, capacity);
  }
  void console_write(const char* text, std::uint32_t length) override { inner_.console_write(text, length); }
  void console_write_arg(int i) override { inner_.console_write_arg(i); }
  void console_flush() override { inner_.console_flush(); }
  void error_write(const char* text, std::uint32_t length) override { inner_.error_write(text, length); }

  Handle open_start_dir() override {
    return fails(PlatformOp::kOpenStartDir) ? Handle::none() : inner_.open_start_dir();
  }
  Handle open_target(int i) override { return fails(PlatformOp::kOpenTarget) ? Handle::none() : inner_.open_target(i); }
  Handle open_stream(const char16_t* path) override {
    return fails(PlatformOp::kOpenStream) ? Handle::none() : inner_.open_stream(path);
  }
  Handle open_parent(const char16_t* path, const char16_t** last) override {
    return fails(PlatformOp::kOpenParent) ? Handle::none() : inner_.open_parent(path, last);
  }
  Handle create_file(Handle dir, const char16_t* name) override {
    return fails(PlatformOp::kCreateFile) ? Handle::none() : inner_.create_file(dir, name);
  }
  Handle make_dir(Handle dir, const char16_t* name, bool* made) override {
    *made = false;
    return fails(PlatformOp::kMakeDir) ? Handle::none() : inner_.make_dir(dir, name, made);
  }
  Handle open_dir(Handle dir, const char16_t* name) override {
    return fails(PlatformOp::kOpenDir) ? Handle::none() : inner_.open_dir(dir, name);
  }
  Handle open_file_read(Handle dir, const char16_t* name) override {
    return fails(PlatformOp::kOpenFileRead) ? Handle::none() : inner_.open_file_read(dir, name);
  }
  bool describe_open(Handle h, OpenState* out) override {
    return !fails(PlatformOp::kDescribeOpen) && inner_.describe_open(h, out);
  }
  Handle open_listing(Handle dir) override {
    return fails(PlatformOp::kOpenListing) ? Handle::none() : inner_.open_listing(dir);
  }
  Listed next_listed(Handle listing, char16_t* name, std::uint32_t capacity) override {
    return fails(PlatformOp::kNextListed) ? Listed::kFailed : inner_.next_listed(listing, name, capacity);
  }
  bool inspect(Handle dir, const char16_t* name, EntryInfo* info) override {
    return !fails(PlatformOp::kInspect) && inner_.inspect(dir, name, info);
  }
  bool remove_file(Handle dir, const char16_t* name) override {
    return !fails(PlatformOp::kRemoveFile) && inner_.remove_file(dir, name);
  }
  bool rename_file(Handle dir, const char16_t* from, const char16_t* to) override {
    return !fails(PlatformOp::kRenameFile) && inner_.rename_file(dir, from, to);
  }
  bool identity(Handle h, FileIdentity* out) override {
    return !fails(PlatformOp::kIdentity) && inner_.identity(h, out);
  }
  Shown shows_entry(Handle dir, const char16_t* name, Handle entry) override {
    return inner_.shows_entry(dir, name, entry);
  }
  bool failed_because_exists() override { return !injected_ && inner_.failed_because_exists(); }
  NameRules name_rules() override { return inner_.name_rules(); }
  bool folds_names(Handle dir) override { return inner_.folds_names(dir); }

  std::uint32_t read(Handle h, void* buffer, std::uint32_t count) override {
    return fails(PlatformOp::kRead) ? kReadFailed : inner_.read(h, buffer, count);
  }
  bool write(Handle h, const void* data, std::uint32_t count) override {
    return !fails(PlatformOp::kWrite) && inner_.write(h, data, count);
  }
  CopyResult copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) override {
    if (fails(PlatformOp::kCopyRead)) return CopyResult{0, true};
    if (!fails(PlatformOp::kCopyBlock)) return inner_.copy_block(from, to, buffer, count);
    return CopyResult{inner_.read_full(from, buffer, count), false};
  }
  bool reads_at_offsets(Handle h) override { return inner_.reads_at_offsets(h); }
  std::uint32_t read_at(Handle h, std::uint64_t offset, void* buffer, std::uint32_t count) override {
    return fails(PlatformOp::kRead) ? kReadFailed : inner_.read_at(h, offset, buffer, count);
  }
  CopyResult copy_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) override {
    if (fails(PlatformOp::kCopyRead)) return CopyResult{0, true};
    if (!fails(PlatformOp::kCopyBlock)) return inner_.copy_at(from, offset, to, buffer, count);
    return CopyResult{inner_.move_at(from, offset, Handle::none(), buffer, count).taken, false};
  }
  bool close(Handle h) override {
    const bool failing = h.valid() && fails(PlatformOp::kClose);
    return inner_.close(h) && !failing;
  }
  void set_times(Handle h, FileTime creation, FileTime access, FileTime write) override {
    if (!fails(PlatformOp::kSetTimes)) inner_.set_times(h, creation, access, write);
  }
  void set_attr(Handle h, std::uint16_t attr) override {
    if (!fails(PlatformOp::kSetAttr)) inner_.set_attr(h, attr);
  }

  SystemError last_error() override { return injected_ ? SystemError{code_} : inner_.last_error(); }
  void error_text(SystemError error, char* out, std::uint32_t capacity) override {
    inner_.error_text(error, out, capacity);
  }
  const char* error_code_system() override { return inner_.error_code_system(); }
  std::uint32_t process_id() override { return inner_.process_id(); }
  int processor_count() override { return inner_.processor_count(); }
  std::uint32_t handle_limit() override { return inner_.handle_limit(); }
  void hold_interruptions(bool held) override { inner_.hold_interruptions(held); }
  bool start_thread(void (*body)(void*), void* arg, ThreadRef* out) override {
    return inner_.start_thread(body, arg, out);
  }
  void join_thread(ThreadRef thread) override { inner_.join_thread(thread); }
  std::uint32_t tick_ms() override { return inner_.tick_ms(); }
  std::uint64_t cycles() override { return inner_.cycles(); }
  const char* native_help_switch() override { return inner_.native_help_switch(); }
  char path_separator() override { return inner_.path_separator(); }
  bool path_is_directory(const char16_t* path) override { return inner_.path_is_directory(path); }

 private:
  // True when this call is the one chosen to fail; its failure then is the
  // last one, until a later call of an operation that can fail.
  bool fails(PlatformOp op) {
    injected_ = op == op_ && calls_left_ > 0 && --calls_left_ == 0;
    injected_count_ += injected_;
    return injected_;
  }

  Platform& inner_;
  PlatformOp op_ = PlatformOp::kOpenStream;
  int calls_left_ = 0;
  std::uint32_t code_ = 0;
  bool injected_ = false;
  int injected_count_ = 0;
};
