// An in-memory platform for unit tests: a plain file system of directories,
// files, links and FIFOs reached through handles; dump streams served from
// memory (or generated, for bodies too large to hold) and delivered in
// pieces on demand; a captured console and standard error; a clock and
// cycle counter the test sets; any operation made to fail on demand; and a
// record of every call in order ("make_dir docs", "read $content 10 -> 10").
//
// It keeps only the rules a real file system has (exclusive creation, links
// never followed, case folding, name length limits) and none of the
// restore's own: which names are refused, what is replaced and what is
// protected is EntryGuard's, so the tests test the real policy.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/entry_name.h"
#include "platform/platform.h"
#include "platform_ops.h"

class FakePlatform : public Platform {
 public:
  using Op = PlatformOp;
  static const char* op_name(Op op) { return platform_op_name(op); }

  using Kind = EntryKind;  // never kAbsent

  struct Node {
    std::u16string name;
    Kind kind = Kind::kFile;
    std::uint64_t id = 0;
    std::uint16_t attr = 0;
    bool attr_set = false;  // set_attr reached it
    FileTime creation = 0, access = 0, write = 0;
    bool times_set = false;
    std::string body;        // kept while keep_bodies
    std::uint64_t size = 0;  // bytes written
    Node* parent = nullptr;
    std::map<std::u16string, std::unique_ptr<Node>> children;  // keyed by key(name)
    Node* link = nullptr;     // what a link points at
    Node* hard_of = nullptr;  // the file this is another name of
    std::uint32_t links = 1;  // names of this file (add_hard_link adds one)
    bool unverified = false;  // the system cannot show it as itself (it follows a link)
    bool write_failed = false;  // a write or copy through a handle on it failed
    bool directory() const { return kind == Kind::kDirectory; }
  };

  struct Failure {
    Op op;
    std::u16string name;  // an entry's name or a stream's path; empty: any
    int times = -1;       // -1: always
    std::string text = "injected failure";
    int skip = 0;  // matching calls to let through first
    // For kWrite and kCopyBlock: bytes that still arrive before the failure.
    std::uint32_t partial = 0;
  };

  FakePlatform();

  // --- set-up ---
  std::vector<std::string> args;  // UTF-8, after the program name
  NameRules rules = NameRules::kPosix;
  bool keep_bodies = true;
  std::uint32_t read_chunk = 0;  // most bytes a read delivers; 0: all asked for
  bool streams_read_at_offsets = false;  // the streams are files, not pipes
  // handle_limit(), and past it every open fails ("Too many open files"),
  // as a process's descriptor limit makes it; 0: none.
  std::uint32_t handles_allowed = 0;
  void add_stream(const std::u16string& path, std::string bytes);
  // A stream of `size` bytes that fill(offset, out, n) produces on demand,
  // for bodies too large to hold.
  using Fill = std::function<void(std::uint64_t offset, std::uint8_t* out, std::uint32_t n)>;
  void add_generated_stream(const std::u16string& path, std::uint64_t size, Fill fill);
  void add_dump(const std::string& nodes, const std::string& names, const std::string& content,
                const std::u16string& basepath = u"");
  // Most bytes one read of this stream delivers, overriding read_chunk.
  void stream_chunk(const std::u16string& path, std::uint32_t bytes) { streams_[path].chunk = bytes; }
  // Makes the stream the body of a file of the tree, so its identity is
  // that file's (a dump kept in the directory restored into).
  void stream_is_file(const std::u16string& path, Node* file) { streams_[path].file = file; }
  Node* mkdir_p(const std::u16string& path) { return walk(path, true); }  // "a/b" from the root
  Node* add_file(const std::u16string& path, const std::string& body);
  Node* add_symlink(const std::u16string& path, Node* to);
  Node* add_hard_link(const std::u16string& path, Node* to);
  Node* add_fifo(const std::u16string& path);
  // Replaces an entry by a link to `to`, as someone writing in the target
  // would; the entry moves out of the tree the test reads, and handles open
  // on it stay usable.
  Node* swap_for_link(Node* entry, Node* to);
  void inject(const Failure& failure) { failures_.push_back(failure); }
  // For a second run over the same tree: the next log made is the log, and the records of calls and output start afresh.
  void start_again() {
    log_created_ = false;
    log_placed_ = false;
    log_.clear();
    log_attempted_.clear();
    calls.clear();
    console.clear();
    errors_out.clear();
  }
  // Makes every later call of op fail (for the given name only, if one is
  // given) `times` times (-1: always), with text as the system's text.
  void fail(Op op, const std::u16string& name = u"", int times = -1, const std::string& text = "injected failure") {
    inject(Failure{op, name, times, text});
  }
  // Readings of the cycle counter and the clock; each reading then advances
  // by its step.
  std::uint64_t cycle_value = 0, cycle_step = 0;
  std::uint32_t tick_value = 0, tick_step = 0;
  // The directory the program starts in; the root unless set.
  Node* start;
  // process_id(); the log is the first "$errors" or "$errors.<pid>.tmp" made.
  std::uint32_t pid = 4242;

  // --- the target's own rules, off by default ---
  // Names match case-insensitively (Windows).
  bool fold_case = false;
  // Names longer than the system allows (255 UTF-8 bytes on POSIX, 255
  // UTF-16 units on Windows) fail with "File name too long".
  bool limit_name_length = false;
  // Names that reach the "disk" are looked at the way Windows would take
  // them; anything other than a plain entry (a path, a stream, a device, a
  // console) is noted in anomalies. With POSIX rules a "/", "", "." or ".."
  // reaching it is always an anomaly.
  bool model_windows_names = false;
  std::vector<std::string> anomalies;
  // Called at the start of every operation on the file system or a
  // stream, before it takes effect: a test may change the tree there.
  std::function<void(Op op)> before_call;
  // Called at the end of every such operation with the node it created,
  // wrote, timed, attributed, opened, inspected, removed or closed (or
  // nullptr). Writes to the log are reported as "log_write".
  std::function<void(const char* op, const Node* touched)> on_call;

  // --- inspection ---
  std::vector<std::string> calls;
  std::string console;
  std::string errors_out;  // standard error
  Node root;
  Node* find(const std::u16string& path) { return walk(path, false); }  // from the root; nullptr if absent
  std::string log_text() const { return log_; }  // what reached "$errors"
  // Every line the restorer tried to write to "$errors", failed ones too.
  std::string log_attempted() const { return log_attempted_; }
  int open_handles() const { return static_cast<int>(handles_.size()); }
  std::vector<std::string> open_labels() const;
  std::vector<std::string> calls_of(const std::string& op) const;  // calls starting with op
  // Uses of a handle that is not open: never opened, or closed already.
  int bad_handle_uses = 0;
  std::map<Op, int> failed_calls;     // by operation
  std::map<Op, int> exists_failures;  // of those, the ones for a name that exists
  bool log_failed = false;            // a write to or the close of "$errors" failed
  bool log_created() const { return log_created_; }
  // The log took its final name: the run's start-up succeeded.
  bool log_placed() const { return log_placed_; }
  // Open handles on anything but a directory: streams, the log, files.
  int open_non_directory_handles() const;
  std::uint64_t stream_position(const std::u16string& path) const;
  // The node an open handle is on (nullptr for a stream or none).
  const Node* node_of(Handle h);
  static std::string utf8(const std::u16string& s);

  // --- Platform ---
  int arg_count() override { return static_cast<int>(args.size()); }
  bool arg_is(int i, const char* ascii) override { return args[i] == ascii; }
  std::uint32_t arg_to_name(int i, char16_t* out, std::uint32_t capacity) override;
  void console_write(const char* text, std::uint32_t length) override { console.append(text, length); }
  void console_write_arg(int i) override { console += args[i]; }
  void console_flush() override {}
  void error_write(const char* text, std::uint32_t length) override { errors_out.append(text, length); }
  // Its standard output never fails.
  bool console_failed(SystemError*) override { return false; }
  Handle open_start_dir() override;
  Handle open_target(int i) override;
  Handle open_stream(const char16_t* path) override;
  // '/' separates; a path from '/' starts at the root, any other at start.
  Handle open_parent(const char16_t* path, const char16_t** last) override;
  Handle create_file(Handle dir, const char16_t* name) override;
  Handle make_dir(Handle dir, const char16_t* name, bool* made) override;
  Handle open_dir(Handle dir, const char16_t* name) override;
  Handle open_file_read(Handle dir, const char16_t* name) override;
  bool folds_names(Handle) override { return fold_case; }
  std::uint32_t handle_limit() override { return handles_allowed; }
  // One processor, so a run over the fake takes no writers unless asked.
  int processor_count() override { return 1; }
  void hold_interruptions(bool) override {}
  // Threads run for real; fail(Op::kStartThread) refuses them.
  bool start_thread(void (*body)(void*), void* arg, ThreadRef* out) override;
  void join_thread(ThreadRef thread) override;
  bool describe_open(Handle h, OpenState* out) override;
  Handle open_listing(Handle dir) override;
  Listed next_listed(Handle listing, char16_t* name, std::uint32_t capacity) override;
  bool inspect(Handle dir, const char16_t* name, EntryInfo* info) override;
  bool remove_file(Handle dir, const char16_t* name) override;
  // Handles open on the entry show its new name from then on.
  bool rename_file(Handle dir, const char16_t* from, const char16_t* to) override;
  std::uint32_t process_id() override { return pid; }
  bool identity(Handle h, FileIdentity* out) override;
  Shown shows_entry(Handle dir, const char16_t* name, Handle entry) override;
  bool failed_because_exists() override { return exists_; }
  NameRules name_rules() override { return rules; }
  std::uint32_t read(Handle h, void* buffer, std::uint32_t count) override;
  bool write(Handle h, const void* data, std::uint32_t count) override;
  CopyResult copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) override;
  bool reads_at_offsets(Handle h) override;
  std::uint32_t read_at(Handle h, std::uint64_t offset, void* buffer, std::uint32_t count) override;
  CopyResult copy_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) override;
  bool close(Handle h) override;
  void set_times(Handle h, FileTime creation, FileTime access, FileTime write) override;
  void set_attr(Handle h, std::uint16_t attr) override;
  SystemError last_error() override;
  void error_text(SystemError error, char* out, std::uint32_t capacity) override;
  const char* error_code_system() override { return "fake"; }
  std::uint32_t tick_ms() override;
  std::uint64_t cycles() override;
  const char* native_help_switch() override { return nullptr; }
  char path_separator() override { return rules == NameRules::kWindows ? '\\' : '/'; }
  bool path_is_directory(const char16_t* path) override;

 private:
  struct Stream {
    std::string bytes;
    std::uint64_t size = 0;
    Fill fill;
    std::uint32_t chunk = 0;
    Node* file = nullptr;
    std::uint64_t id = 0;
    std::uint64_t consumed = 0;  // furthest position read
  };
  struct Open {
    std::string label;
    Stream* stream = nullptr;
    Node* node = nullptr;
    bool is_log = false;
    std::uint64_t position = 0;
    bool reading = false;                // a file opened by open_file_read
    std::vector<std::u16string> listing = {};  // the names an open_listing handle gives
  };
  // What a handle must be open on for an operation.
  enum class Need { kAny, kStream, kFile, kDirectory, kNode };

  std::u16string key(const std::u16string& name) const;
  Node* walk(const std::u16string& path, bool make);
  Node* child(Node* dir, const std::u16string& name);
  Node* new_node(Node* dir, const std::u16string& name, Kind kind);
  FileIdentity identity_of(const Node* node) const;

  // The steps every operation shares. call: the test's hook and the
  // record. fails: the operation failed with this text (always false).
  void call(Op op, const std::string& shown = "");
  bool fails(Op op, const std::string& text);
  const Failure* should_fail(Op op, const std::u16string& name);
  // An operation on a name in an open directory: the call, the directory,
  // the system's own name rules and an injected failure. The directory, or
  // nullptr when the operation fails there.
  Node* at_name(Op op, Handle dir, const char16_t* name);
  // open_dir and open_file_read: the entry by that name, not a link.
  Node* to_open(Op op, Handle dir, const char16_t* name);
  // create_file and make_dir, exclusive as O_CREAT|O_EXCL|O_NOFOLLOW:
  // whatever has the name, a link included, makes them fail.
  Node* create(Op op, Handle dir, const char16_t* name, Kind kind);
  // An operation on an open handle: the hook, and a bad use recorded as
  // "<op> <bad handle>" when the handle is not open on what it needs.
  Open* use(Op op, Handle h, Need need);
  Open* lookup(Handle h, Need need = Need::kAny);
  void bad_use(Op op);
  Handle opened(Op op, Open open);
  // An open past handles_allowed: fails op, as the descriptor limit does.
  bool out_of_handles(Op op);
  void notify(const char* op, const Node* touched) {
    if (on_call) on_call(op, touched);
  }
  void look_like_windows(const std::u16string& name, bool by_create_file);
  std::uint32_t take(Open& open, void* buffer, std::uint32_t count, bool full, Op op);
  bool put(Open& open, const void* data, std::uint32_t count, Op op);

  std::map<std::u16string, Stream> streams_;
  std::map<std::intptr_t, Open> handles_;
  std::vector<std::unique_ptr<std::thread>> threads_;
  std::vector<std::unique_ptr<Node>> removed_;  // kept so pointers to them stay valid
  std::intptr_t next_handle_ = 3;
  std::uint64_t next_id_ = 1;
  std::vector<Failure> failures_;
  std::string last_error_;
  std::vector<std::string> error_texts_;  // a failure's code is its text's place here, plus one
  bool exists_ = false;
  bool log_created_ = false;
  bool log_placed_ = false;
  std::string log_, log_attempted_;
};
