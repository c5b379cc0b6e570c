// A Platform that hands every call to another one, the way a fault-injecting
// environment wraps a real system: a test picks one call of one operation on
// one entry to fail with a system error code of its choosing, and the run
// sees that failure through last_error() and error_text() as if the system
// had reported it, worded by the wrapped platform.
//
// The call is chosen by its entry, not by its place among all calls, so the
// same call fails whichever thread makes it, however writers and the reading
// thread interleave. Writers may call at once: the choice and the count are
// kept under a mutex, and an injected failure is the last one only of the
// thread that met it, as the system keeps a last error per thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform_ops.h"

class PlatformWrapper final : public Platform {
 public:
  explicit PlatformWrapper(Platform& inner) : inner_(inner) {}

  // Makes the nth call of op (1-based, counted from now) that concerns the
  // entry `name` fail with code: a call that names it (a stream by its
  // path), or one on a handle opened by that name; a copy_block or copy_at
  // by the handle it writes to, and their reads (kCopyRead) by the one they
  // read from; open_start_dir and open_target by the empty name. The
  // failing call does not reach the wrapped platform, except that a failing
  // close still closes and a failing copy (its write) still takes the block
  // from the source, as the interface promises.
  void fail(PlatformOp op, const char16_t* name, int nth, std::uint32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    op_ = op;
    name_ = name;
    calls_left_ = nth;
    code_ = code;
  }
  bool injected() {
    std::lock_guard<std::mutex> lock(mutex_);
    return injected_count_ > 0;
  }

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
    return fails(PlatformOp::kOpenStartDir, u"") ? Handle::none() : inner_.open_start_dir();
  }
  Handle open_target(int i) override {
    return fails(PlatformOp::kOpenTarget, u"") ? Handle::none() : inner_.open_target(i);
  }
  Handle open_stream(const char16_t* path) override {
    return fails(PlatformOp::kOpenStream, path) ? Handle::none() : opened(path, inner_.open_stream(path));
  }
  Handle open_parent(const char16_t* path, const char16_t** last) override {
    return fails(PlatformOp::kOpenParent, path) ? Handle::none() : inner_.open_parent(path, last);
  }
  Handle create_file(Handle dir, const char16_t* name) override {
    return fails(PlatformOp::kCreateFile, name) ? Handle::none() : opened(name, inner_.create_file(dir, name));
  }
  Handle make_dir(Handle dir, const char16_t* name, bool* made) override {
    *made = false;
    return fails(PlatformOp::kMakeDir, name) ? Handle::none() : opened(name, inner_.make_dir(dir, name, made));
  }
  Handle open_dir(Handle dir, const char16_t* name) override {
    return fails(PlatformOp::kOpenDir, name) ? Handle::none() : opened(name, inner_.open_dir(dir, name));
  }
  Handle open_file_read(Handle dir, const char16_t* name) override {
    return fails(PlatformOp::kOpenFileRead, name) ? Handle::none() : opened(name, inner_.open_file_read(dir, name));
  }
  bool describe_open(Handle h, OpenState* out) override {
    return !fails(PlatformOp::kDescribeOpen, h) && inner_.describe_open(h, out);
  }
  Handle open_listing(Handle dir) override {
    return fails(PlatformOp::kOpenListing, dir) ? Handle::none() : inner_.open_listing(dir);
  }
  Listed next_listed(Handle listing, char16_t* name, std::uint32_t capacity) override {
    return fails(PlatformOp::kNextListed, listing) ? Listed::kFailed : inner_.next_listed(listing, name, capacity);
  }
  bool inspect(Handle dir, const char16_t* name, EntryInfo* info) override {
    return !fails(PlatformOp::kInspect, name) && inner_.inspect(dir, name, info);
  }
  bool remove_file(Handle dir, const char16_t* name) override {
    return !fails(PlatformOp::kRemoveFile, name) && inner_.remove_file(dir, name);
  }
  bool rename_file(Handle dir, const char16_t* from, const char16_t* to) override {
    return !fails(PlatformOp::kRenameFile, from) && inner_.rename_file(dir, from, to);
  }
  bool identity(Handle h, FileIdentity* out) override {
    return !fails(PlatformOp::kIdentity, h) && inner_.identity(h, out);
  }
  Shown shows_entry(Handle dir, const char16_t* name, Handle entry) override {
    return inner_.shows_entry(dir, name, entry);
  }
  bool failed_because_exists() override { return last_injected_ != this && inner_.failed_because_exists(); }
  NameRules name_rules() override { return inner_.name_rules(); }
  bool folds_names(Handle dir) override { return inner_.folds_names(dir); }

  std::uint32_t read(Handle h, void* buffer, std::uint32_t count) override {
    return fails(PlatformOp::kRead, h) ? kReadFailed : inner_.read(h, buffer, count);
  }
  bool write(Handle h, const void* data, std::uint32_t count) override {
    return !fails(PlatformOp::kWrite, h) && inner_.write(h, data, count);
  }
  CopyResult copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) override {
    if (fails(PlatformOp::kCopyRead, from)) return CopyResult{0, true};
    if (!fails(PlatformOp::kCopyBlock, to)) return inner_.copy_block(from, to, buffer, count);
    return CopyResult{inner_.read_full(from, buffer, count), false};
  }
  bool reads_at_offsets(Handle h) override { return inner_.reads_at_offsets(h); }
  std::uint32_t read_at(Handle h, std::uint64_t offset, void* buffer, std::uint32_t count) override {
    return fails(PlatformOp::kRead, h) ? kReadFailed : inner_.read_at(h, offset, buffer, count);
  }
  CopyResult copy_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) override {
    if (fails(PlatformOp::kCopyRead, from)) return CopyResult{0, true};
    if (!fails(PlatformOp::kCopyBlock, to)) return inner_.copy_at(from, offset, to, buffer, count);
    return CopyResult{inner_.move_at(from, offset, Handle::none(), buffer, count).taken, false};
  }
  bool close(Handle h) override {
    const bool failing = h.valid() && fails(PlatformOp::kClose, h);
    closed(h);
    return inner_.close(h) && !failing;
  }
  void set_times(Handle h, FileTime creation, FileTime access, FileTime write) override {
    if (!fails(PlatformOp::kSetTimes, h)) inner_.set_times(h, creation, access, write);
  }
  void set_attr(Handle h, std::uint16_t attr) override {
    if (!fails(PlatformOp::kSetAttr, h)) inner_.set_attr(h, attr);
  }

  SystemError last_error() override { return last_injected_ == this ? SystemError{code_} : inner_.last_error(); }
  void error_text(SystemError error, char* out, std::uint32_t capacity) override {
    inner_.error_text(error, out, capacity);
  }
  const char* error_code_system() override { return inner_.error_code_system(); }
  bool console_failed(SystemError* why) override { return inner_.console_failed(why); }
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
  // True when this call, of op on the entry by this name or handle, is the
  // one chosen to fail; its failure then is this thread's last one, until
  // its next call of an operation that can fail.
  bool fails(PlatformOp op, const char16_t* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts(op == op_ && name != nullptr && name_ == name);
  }
  bool fails(PlatformOp op, Handle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts(op == op_ && is_opened(h));
  }
  bool counts(bool concerned) {
    const bool now = concerned && calls_left_ > 0 && --calls_left_ == 0;
    injected_count_ += now;
    last_injected_ = now ? this : nullptr;
    return now;
  }
  bool is_opened(Handle h) const {
    return h.valid() && std::find(opened_.begin(), opened_.end(), h.raw) != opened_.end();
  }
  // Keeps the handles opened by the chosen entry's name until they close.
  Handle opened(const char16_t* name, Handle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (h.valid() && name_ == name) opened_.push_back(h.raw);
    return h;
  }
  void closed(Handle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(opened_, h.raw);
  }

  Platform& inner_;
  std::mutex mutex_;
  PlatformOp op_ = PlatformOp::kOpenStream;
  std::u16string name_;
  std::vector<std::intptr_t> opened_;
  int calls_left_ = 0;
  std::uint32_t code_ = 0;
  int injected_count_ = 0;
  // The wrapper whose injected failure is the calling thread's last one.
  static inline thread_local const PlatformWrapper* last_injected_ = nullptr;
};
