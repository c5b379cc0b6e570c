// An in-memory platform for unit tests: a directory tree with a current
// directory, dump streams served from memory (or generated, for bodies too
// large to hold), a captured console, a clock and cycle counter the test
// sets, any operation made to fail on demand, and a record of every call in
// order ("enter_dir docs", "read $content 10 -> 10", ...).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/entry_name.h"
#include "platform/platform.h"

class FakePlatform : public Platform {
 public:
  struct Node {
    std::u16string name;
    bool directory = false;
    std::uint16_t attr = 0;
    FileTime creation = 0, access = 0, write = 0;
    bool times_set = false;
    std::string body;            // kept while keep_bodies
    std::uint64_t size = 0;      // bytes written
    Node* parent = nullptr;
    std::map<std::u16string, std::unique_ptr<Node>> children;  // keyed by key(name)
    // A symbolic link (or, as a directory, a junction) pointing at link.
    Node* link = nullptr;
    // Another name of hard_of's file: its attributes are hard_of's.
    Node* hard_of = nullptr;
    // One of the run's own open files (a dump stream or the log): never
    // replaced, as the real platforms refuse by file identity.
    bool guarded = false;
  };

  FakePlatform();

  // --- set-up ---
  std::vector<std::string> args;  // UTF-8, after the program name
  NameRules rules = NameRules::kPosix;
  bool keep_bodies = true;
  std::uint32_t read_chunk = 0;  // most bytes a stream read delivers; 0: all asked for
  void add_stream(const std::u16string& path, std::string bytes);
  // A stream of `size` bytes that fill(offset, out, n) produces on demand,
  // for bodies too large to hold.
  using Fill = std::function<void(std::uint64_t offset, std::uint8_t* out, std::uint32_t n)>;
  void add_generated_stream(const std::u16string& path, std::uint64_t size, Fill fill);
  void add_dump(const std::string& nodes, const std::string& names, const std::string& content,
                const std::u16string& basepath = u"");
  Node* mkdir_p(const std::u16string& path);  // "a/b" from the root
  Node* add_file(const std::u16string& path, const std::string& body);
  // Makes every later call of op fail (for the given name only, if one is
  // given) `times` times (-1: always), with text as the system's text.
  void fail(const std::string& op, const std::u16string& name = u"", int times = -1,
            const std::string& text = "injected failure");
  // Readings of the cycle counter and the clock; each reading then advances
  // by its step.
  std::uint64_t cycle_value = 0, cycle_step = 0;
  std::uint32_t tick_value = 0, tick_step = 0;

  // --- the target's own rules, off by default ---
  // Names match case-insensitively (Windows).
  bool fold_case = false;
  // Components longer than the system allows (255 UTF-8 bytes on POSIX,
  // 255 UTF-16 units on Windows) are refused.
  bool limit_name_length = false;
  // Names that reach the "disk" are looked at the way Windows would take
  // them; anything other than a plain entry (a path, a stream, a device, a
  // console) is noted in anomalies. The platform layer must never let one
  // through.
  bool model_windows_names = false;
  std::vector<std::string> anomalies;
  // Failures of the n-th call (0-based, counted from now) of op, once.
  void fail_nth(const std::string& op, int n, const std::string& text = "injected failure");
  // Called at the end of every file-system operation with the node it
  // created, wrote, timed, attributed, entered or closed (or nullptr).
  std::function<void(const char* op, const Node* touched)> on_call;
  void add_symlink(const std::u16string& path, Node* to, bool as_junction);
  void add_hard_link(const std::u16string& path, Node* to);
  std::u16string key(const std::u16string& name) const;

  // --- inspection ---
  std::vector<std::string> calls;
  std::string console;
  Node root;
  Node* cwd;
  Node* find(const std::u16string& path);  // from the root; nullptr if absent
  std::string log_text() const;            // what was written to "$errors"
  int open_handles() const { return static_cast<int>(handles_.size()); }
  std::vector<std::string> calls_of(const std::string& op) const;  // calls starting with op
  std::string cwd_path() const;
  // Uses of a handle that is not open: never opened, or closed already.
  int bad_handle_uses = 0;
  // Successful steps into a directory and out of one.
  int entered = 0, left = 0;
  std::map<std::string, int> failed_calls;  // by operation
  std::vector<std::string> failed_reads;    // stream labels
  std::uint64_t stream_position(const std::u16string& path) const;
  // Open handles other than directories.
  int open_non_directory_handles() const;

  // --- Platform ---
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
  bool cycles_are_time_stamp_counter() override { return false; }
  const char* native_help_switch() override { return nullptr; }
  NameRules name_rules() override { return rules; }
  char path_separator() override { return rules == NameRules::kWindows ? '\\' : '/'; }
  bool path_is_directory(const char16_t* path) override;
  void error_write(const char* text, std::uint32_t length) override { error_output.append(text, length); }
  std::string error_output;  // what went to standard error

  static std::string utf8(const std::u16string& s);

 private:
  struct Stream {
    std::string bytes;
    std::uint64_t size = 0;
    Fill fill;
    std::uint64_t consumed = 0;  // furthest position read
  };
  struct Open {
    std::string label;
    Stream* stream = nullptr;
    std::uint64_t position = 0;
    Node* node = nullptr;
    bool is_log = false;
  };
  struct Failure {
    std::string op;
    std::u16string name;
    int times;
    std::string text;
    int skip = 0;  // matching calls to let through first
  };
  bool should_fail(const std::string& op, const std::u16string& name);
  bool refuse(const char16_t* name);
  void record(const std::string& entry) { calls.push_back(entry); }
  Handle open_handle(Open open);
  Open* lookup(Handle h);
  Node* child(Node* dir, const char16_t* name);
  void failed(const std::string& op) { ++failed_calls[op]; }
  void notify(const char* op, const Node* touched) {
    if (on_call) on_call(op, touched);
  }
  void look_like_windows(const char16_t* name, bool by_create_file);

  std::map<std::u16string, Stream> streams_;
  std::map<std::intptr_t, Open> handles_;
  std::intptr_t next_handle_ = 3;
  std::vector<Failure> failures_;
  std::string last_error_ = "";
  std::string log_;
};
