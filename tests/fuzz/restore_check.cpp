#include "restore_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "dump/fs_node.h"
#include "fake_platform.h"
#include "log_line_parser.h"
#include "inspect/dump_check.h"
#include "inspect/inspection.h"
#include "report/exit_status.h"
#include "inline_executor.h"
#include "restore/writer_pool.h"
#include "unit/test_restorer.h"

namespace {

using Node = FakePlatform::Node;

// Operations whose failure the input can inject. The start-up's own (the
// streams, the directories, the identities that protect the streams) are
// left to the unit tests.
const Op kFailOps[] = {Op::kCreateFile, Op::kMakeDir, Op::kOpenDir,  Op::kInspect, Op::kRemoveFile,
                       Op::kRead,       Op::kCopyRead, Op::kWrite,   Op::kCopyBlock, Op::kClose,
                       Op::kSetTimes,   Op::kSetAttr};
constexpr int kFailOpCount = sizeof kFailOps / sizeof kFailOps[0];

// The texts the fake gives for its failures; a log line ends with one.
const char* const kSystemTexts[] = {"injected failure",
                                    "Invalid argument",
                                    "File name too long",
                                    "No such file or directory",
                                    "Not a directory",
                                    "Is a directory",
                                    "File exists",
                                    "Device or resource busy",
                                    "Too many levels of symbolic links",
                                    "Permission denied",
                                    // the restore's own refusals, which follow no failed call
                                    "the name is refused on this system",
                                    "a directory has this name",
                                    "the name leads to one of this run's own files",
                                    "the entry cannot be shown as itself",
                                    "the system keeps this file (read-only, hidden or system)",
                                    "an entry restored in this run has this name",
                                    "the record before it is not a directory"};

constexpr std::size_t kFirstRefusalText = 10;  // kSystemTexts from here on are refusals

constexpr std::size_t kMaxViolations = 16;

bool is_refusal_line(const std::string& line) {
  for (std::size_t i = kFirstRefusalText; i < sizeof kSystemTexts / sizeof kSystemTexts[0]; ++i) {
    if (line.ends_with(std::string(": ") + kSystemTexts[i])) return true;
  }
  return false;
}

std::uint32_t load24(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16; }

// A file record's share of "$content", if the stream is consumed in order.
struct Expected {
  FsNode node;
  std::uint64_t offset = 0, taken = 0;
};

bool under(const Node* dir, const Node* node) {
  for (; node != nullptr; node = node->parent) {
    if (node == dir) return true;
  }
  return false;
}

int depth_below(const Node* dir, const Node* node) {
  int depth = 0;
  for (; node != nullptr; node = node->parent, ++depth) {
    if (node == dir) return depth;
  }
  return -1;
}

std::string path_of(const Node* node) {
  std::u16string path;
  for (; node != nullptr && node->parent != nullptr; node = node->parent) path = u"/" + node->name + path;
  return FakePlatform::utf8(path);
}

// Everything that must survive the run unchanged, as text.
void snapshot(const Node& node, std::string& out) {
  out += FakePlatform::utf8(node.name) + " kind=" + std::to_string(static_cast<int>(node.kind)) +
         " attr=" + std::to_string(node.attr) + " times=" + std::to_string(node.creation) + "," +
         std::to_string(node.access) + "," + std::to_string(node.write) + (node.times_set ? "!" : "") +
         " link=" + path_of(node.link) + " size=" + std::to_string(node.size) + " body=" + node.body + "\n";
  for (const auto& [key, child] : node.children) snapshot(*child, out);
}

void collect(Node* dir, std::vector<Node*>& out) {
  for (auto& [key, child] : dir->children) {
    out.push_back(child.get());
    collect(child.get(), out);
  }
}

// The line kinds each failure of an operation may be reported as.
std::set<std::string> kinds_for(const std::string& event) {
  if (event == "make_dir") return {"mkdir"};
  if (event == "create_file" || event == "create_file exists" || event == "remove_file") return {"createfile"};
  if (event == "inspect") return {"createfile", "mkdir"};  // replacing a file, or reusing a directory
  if (event == "write") return {"write"};
  if (event == "read $fsnodes") return {"nodes-failed"};
  if (event == "read $fsnames") return {"names-failed"};
  return {};
}

// --check over a fake of its own, with the same dump.
struct CheckRun {
  FakePlatform fake;
  Inspection inspection{fake};
};

}  // namespace

std::string classify_fake_log_line(const std::string& line) {
  static const std::vector<std::string> texts(std::begin(kSystemTexts), std::end(kSystemTexts));
  return classify_log_line(line, &texts);
}

std::string make_fuzz_input(std::uint8_t mode, FuzzFailure a, FuzzFailure b, FuzzSwap swap, const std::string& nodes,
                            const std::string& names, const std::string& content) {
  std::string out;
  for (std::uint8_t byte : {mode, a.op, a.nth, b.op, b.nth, swap.at_call, swap.choice}) out += static_cast<char>(byte);
  for (std::size_t length : {nodes.size(), names.size()}) {
    for (int i = 0; i < 3; ++i) out += static_cast<char>(length >> (8 * i));
  }
  return out + nodes + names + content;
}

std::vector<std::string> check_restore(const std::uint8_t* data, std::size_t size) {
  std::uint8_t header[kFuzzHeaderBytes] = {};
  std::copy(data, data + std::min(size, kFuzzHeaderBytes), header);
  std::size_t at = std::min(size, kFuzzHeaderBytes);
  auto take = [&](std::size_t want) {
    const std::size_t n = std::min(want, size - at);
    std::string bytes(reinterpret_cast<const char*>(data) + at, n);
    at += n;
    return bytes;
  };
  const std::uint8_t mode = header[0];
  const std::string nodes = take(load24(header + 7));
  const std::string names = take(load24(header + 10));
  const std::string content = take(size);

  std::vector<std::string> violations;
  auto violated = [&](const std::string& what) {
    if (violations.size() < kMaxViolations) violations.push_back(what);
  };

  // What a run that reads every stream in order must come to.
  const std::size_t records = nodes.size() / kFsNodeBytes;
  const std::size_t lines = static_cast<std::size_t>(std::count(names.begin(), names.end(), '\n'));
  const std::size_t handled = std::min(records, lines);
  std::vector<Expected> expected(handled);
  std::uint64_t consumed = 0;
  int dirs = 0, short_bodies = 0;
  for (std::size_t i = 0; i < handled; ++i) {
    Expected& e = expected[i];
    e.node = decode_fs_node(reinterpret_cast<const std::uint8_t*>(nodes.data()) + i * kFsNodeBytes);
    e.offset = consumed;
    if (e.node.is_directory()) {
      ++dirs;
      continue;
    }
    e.taken = std::min<std::uint64_t>(e.node.size, content.size() - consumed);
    if (e.taken < e.node.size) ++short_bodies;
    consumed += e.taken;
  }

  const std::unique_ptr<TestRestorer> r(new TestRestorer);
  FakePlatform& f = r->fake;
  // Several writers, as the fake allows: batches run on this thread, out of
  // order, so lines, directory times and counts must come out as with one.
  InlineExecutor executor;
  std::unique_ptr<WriterPool> pool;
  if (mode & kModeWriters) {
    pool = std::make_unique<WriterPool>(f, &executor);
    r->driver.use_pool(pool.get(), 0);
  }
  const bool windows = (mode & kModeWindows) != 0;
  f.rules = windows ? NameRules::kWindows : NameRules::kPosix;
  f.fold_case = windows;
  f.model_windows_names = windows;
  f.limit_name_length = true;
  // A sentinel tree outside the target: a file, and a directory with a file.
  Node* outside = f.mkdir_p(u"outside");
  Node* secret = f.add_file(u"outside/secret", "sentinel body");
  Node* outside_dir = f.mkdir_p(u"outside/dir");
  f.add_file(u"outside/dir/inner", "inner body");
  Node* target = f.mkdir_p(u"target");
  if (mode & kModeHostileTarget) {
    // Links where a directory or a file may go, a hard link and a FIFO, and
    // old entries.
    f.add_symlink(u"target/dlink", outside_dir);
    f.add_symlink(u"target/flink", secret);
    f.add_hard_link(u"target/hlink", secret);
    f.add_fifo(u"target/fifo");
    f.add_file(u"target/sub/keep", "kept");
    f.add_file(u"target/exist", "old");
  }
  f.add_dump(nodes, names, content);
  std::vector<Node*> own;
  if (mode & kModeRunInTarget) {
    // No arguments: the streams and the log are read and written in the
    // directory restored into, and must survive entries of the same names.
    for (const char16_t* name : {u"$content", u"$fsnames", u"$fsnodes"}) {
      Node* node = f.add_file(std::u16string(u"target/") + name, "stream");
      f.stream_is_file(name, node);
      own.push_back(node);
    }
    f.add_file(u"target/$errors", "old log");
    f.start = target;
  } else {
    f.args = {"", "target"};
  }
  if (mode & kModeClockRuns) {
    f.cycle_step = 60000000;
    f.tick_step = 300;
  }
  if (mode & kModePieces) {
    f.stream_chunk(u"$fsnodes", 13);
    f.stream_chunk(u"$fsnames", 3);
  } else {
    // Files, not pipes: bodies are read at offsets, long ones by writers.
    f.streams_read_at_offsets = true;
  }
  for (int i = 0; i < 2; ++i) {
    const int op = header[1 + 2 * i] % (kFailOpCount + 1), nth = header[2 + 2 * i];
    if (op == 0) continue;
    FakePlatform::Failure failure{kFailOps[op - 1], u""};
    if (nth == 0xFF) {
      failure.times = -1;
    } else {
      failure.times = 1;
      failure.skip = nth;
    }
    if (mode & kModePartialWrites) failure.partial = 100;
    f.inject(failure);
  }

  std::string sentinel_before;
  snapshot(*outside, sentinel_before);
  for (const Node* g : own) snapshot(*g, sentinel_before);

  // Someone writing in the target swaps entries for links to the outside.
  const int swap_at = header[5];
  const bool swap_repeats = (header[6] & 0x80) != 0;
  int calls_made = 0, swaps = 0;
  f.before_call = [&](Op) {
    ++calls_made;
    if (swap_at == 0 || (swap_repeats ? calls_made % swap_at != 0 : calls_made != swap_at)) return;
    std::vector<Node*> entries;
    collect(target, entries);
    if (entries.empty()) return;
    f.swap_for_link(entries[(header[6] & 0x3F) % entries.size()], (header[6] & 0x40) ? outside_dir : secret);
    ++swaps;
  };

  // With writers, a batch's calls and lines come between the reading
  // thread's: its failures are matched with its own lines by count.
  int writer_failures = 0;
  // The failure met and not yet logged, and the log text seen so far.
  std::string pending;
  bool dir_failure_seen = false;  // a directory could not be made or opened
  std::size_t log_seen = 0;
  std::map<std::string, int> kinds;
  std::map<const Node*, std::size_t> created;  // by the run, to its record
  std::set<const Node*> made_dirs, write_failed;
  bool content_read_failed = false, stream_read_failed = false;
  const Node* log_node = nullptr;
  // A writer's call is for the record of the job it runs.
  const auto running_job = [&]() -> const FileJob* {
    return pool != nullptr && executor.running() ? pool->job_running_in(executor.context()) : nullptr;
  };
  auto record_index = [&] {
    if (running_job() != nullptr) return static_cast<std::size_t>(running_job()->record);
    return static_cast<std::size_t>(r->counters.dirs + r->counters.files) - 1;
  };
  auto record_depth = [&] {
    const std::size_t i = record_index();
    return running_job() != nullptr && i < expected.size() ? int{expected[i].node.depth}
                                                                                    : int{r->cursor.depth()};
  };

  // With writers, a batch's calls and lines come between the reading
  // thread's: its failures are matched with its own lines by count.
  f.on_call = [&](const char* op_text, const Node* touched) {
    const std::string op = op_text;
    const bool in_batch = pool != nullptr && executor.running();
    const std::string what = " after " + op;
    for (const std::string& a : f.anomalies) violated("windows would not take it as a plain entry: " + a + what);
    f.anomalies.clear();
    if (touched != nullptr && under(outside, touched)) violated("touched " + path_of(touched) + " outside" + what);
    if (touched != nullptr && op != "identity" && op != "inspect" &&
        std::find(own.begin(), own.end(), touched) != own.end()) {
      violated("touched the run's own file " + path_of(touched) + what);
    }
    if (op == "log_write") {
      const std::string attempted = f.log_attempted();
      std::string line = attempted.substr(log_seen);
      log_seen = attempted.size();
      if (line.empty() || line.back() != '\n') {
        violated("log write <" + line + "> is not one whole line");
        return;
      }
      line.pop_back();
      const std::string kind = classify_fake_log_line(line);
      if (kind.empty()) violated("malformed log line <" + line + ">");
      ++kinds[kind];
      if (in_batch) {
        const bool for_failure = kind == "write" || (kind == "createfile" && !is_refusal_line(line));
        if (for_failure && writer_failures-- == 0) violated("line <" + line + "> for no failure of a writer");
        if (kind != "write" && kind != "content" && kind != "createfile") violated("line <" + line + "> from a writer");
        return;
      }
      const bool dump_fault = kind == "content" || kind == "names" || kind == "nodes" || kind == "depth";
      // A directory that failed is reported when its record is handled or,
      // for the directory it could not give, when a record rises into it.
      const bool held = (kind == "chdir" || kind == "mkdir") && dir_failure_seen;
      if (pending.empty() && !dump_fault && !kind.empty() && !is_refusal_line(line) && !held) {
        violated("line <" + line + "> for no failure");
      }
      if (!pending.empty() && kinds_for(pending).count(kind) == 0) {
        violated("line <" + line + "> for a failure of " + pending);
      }
      pending.clear();
      return;
    }
    if (pending == "create_file exists") pending.clear();  // the guard went on
    if (!pending.empty() && op != "identity" && !in_batch) {
      violated("failure of " + pending + " not logged before " + op);
      pending.clear();
    }
    // Which operations just failed in a way that is the log's business.
    std::string event;
    const std::string last_read = f.calls.empty() ? "" : f.calls.back();
    if (op == "read" && last_read.ends_with("-> failed")) {
      if (last_read.starts_with("read $content")) {
        content_read_failed = true;
      } else {
        stream_read_failed = true;
        event = last_read.starts_with("read $fsnodes") ? "read $fsnodes" : "read $fsnames";
      }
    }
    if (op == "refuse") event = "refuse";
    if (op == "write failed") {
      if (write_failed.count(touched)) violated("wrote again to " + path_of(touched) + " after its write failed");
      write_failed.insert(touched);
      event = "write";
    }
    if (op == "write" && write_failed.count(touched)) violated("wrote again to " + path_of(touched));
    if (op == "close failed" && touched != nullptr && touched != log_node && created.count(touched) &&
        !made_dirs.count(touched) && !write_failed.count(touched)) {
      write_failed.insert(touched);
      event = "write";
    }
    if (op == "create_file" && f.log_created() && log_node == nullptr) log_node = touched;
    if (op == "create_file" && touched != log_node) created[touched] = record_index();
    if (op == "make_dir") {
      created[touched] = record_index();
      made_dirs.insert(touched);
    }
    if ((op == "create_file" || op == "make_dir") && touched != log_node && swaps == 0) {
      // A rise of several levels enters one directory, so below a jump the
      // real depth may lag behind the record's, but never exceed it.
      const int depth = depth_below(target, touched->parent);
      if (depth > record_depth() || (kinds["depth"] == 0 && depth != record_depth())) {
        violated("created " + path_of(touched) + " at real depth " + std::to_string(depth) + " for a record at " +
                 std::to_string(record_depth()));
      }
    }
    if (op == "close" && created.count(touched) && !write_failed.count(touched)) {
      const std::size_t i = created[touched];
      // A time the system failed to set is not the restorer's to report.
      if (i < expected.size() && !stream_read_failed && f.failed_calls[Op::kSetTimes] == 0) {
        const Expected& e = expected[i];
        if (!touched->times_set || touched->creation != e.node.creation_time ||
            touched->write != e.node.write_time || touched->access != e.node.write_time) {
          violated("times of " + path_of(touched) + " not the record's when closed");
        }
        if (!made_dirs.count(touched) && !content_read_failed &&
            touched->body != content.substr(static_cast<std::size_t>(e.offset), static_cast<std::size_t>(e.taken))) {
          violated("body of " + path_of(touched) + " (record " + std::to_string(i) + ", " +
                   std::to_string(touched->body.size()) + " bytes) is not its slice of $content (" +
                   std::to_string(e.taken) + " bytes at " + std::to_string(e.offset) + ")");
        }
      }
    }
    if (!event.empty() && in_batch) {
      ++writer_failures;
    } else if (!event.empty()) {
      pending = event;
    }
  };
  // Failed name operations report no node; they are seen from the fake's
  // failure counts instead, before the next call can be made.
  const auto base_call = f.on_call;
  std::map<Op, int> failures_before, exists_before;
  // Whether the last call came from a batch: a failure seen at the next call
  // is that call's, whoever makes the next one.
  bool last_in_batch = false;
  auto scan_failures = [&] {
    // A rise in the fake's failure counts since the last call, other than
    // an existing name, is a failure the log must report.
    for (Op op : {Op::kCreateFile, Op::kMakeDir, Op::kOpenMadeDir, Op::kOpenDir, Op::kInspect, Op::kRemoveFile}) {
      const int failures = f.failed_calls[op], exists = f.exists_failures[op];
      if (failures == failures_before[op]) continue;
      const bool for_existing = exists != exists_before[op];
      failures_before[op] = failures;
      exists_before[op] = exists;
      if (!f.log_placed()) continue;  // start-up: a failure there ends the run
      if (op == Op::kMakeDir || op == Op::kOpenMadeDir || op == Op::kOpenDir) dir_failure_seen = true;
      // Opening a directory is the guard's business first: reusing an
      // existing one that fails looks at the name again before any line.
      if (op == Op::kOpenMadeDir || op == Op::kOpenDir) continue;
      if (last_in_batch) {
        if (!for_existing) ++writer_failures;  // a writer's create_file or its inspect
      } else if (for_existing && op == Op::kCreateFile) {
        // The retry after a removal met a name that came back: the writer
        // may log it; the first attempt is only the guard's cue.
        if (pending.empty()) pending = "create_file exists";
      } else if (!for_existing) {
        if (!pending.empty() && pending != "create_file exists") {
          violated("failure of " + pending + " not logged before another failure");
        }
        pending = FakePlatform::op_name(op);
      }
    }
  };
  auto note_caller = [&] { last_in_batch = pool != nullptr && executor.running(); };
  f.on_call = [&](const char* op, const Node* touched) {
    scan_failures();
    note_caller();
    base_call(op, touched);
  };
  f.before_call = [before = f.before_call, &scan_failures, &note_caller](Op op) {
    scan_failures();
    note_caller();
    before(op);
  };

  const int status = r->run_program();
  scan_failures();
  if (writer_failures != 0) violated(std::to_string(writer_failures) + " failures of writers not logged");
  // For reading a finding: every call the run made, and its log.
  if (std::getenv("FSRESTORE_FUZZ_TRACE") != nullptr) {
    for (const std::string& call : f.calls) std::fprintf(stderr, "  %s\n", call.c_str());
    std::fprintf(stderr, "log:\n%s", f.log_attempted().c_str());
  }
  f.on_call = nullptr;
  f.before_call = nullptr;
  if (!pending.empty() && pending != "create_file exists") violated("failure of " + pending + " never logged");

  // Start-up can only fail when the log could not be made or put in place.
  const int want_status = !f.log_placed() ? kExitStartFailed : f.log_failed ? kExitLogIncomplete : kExitDone;
  if (status != want_status) violated("exit status " + std::to_string(status) + " for " + std::to_string(want_status));
  if (status == kExitLogIncomplete && !f.errors_out.ends_with(": the log is incomplete\n")) {
    violated("no standard error line for the incomplete log: <" + f.errors_out + ">");
  }
  std::string sentinel_after;
  snapshot(*outside, sentinel_after);
  for (const Node* g : own) snapshot(*g, sentinel_after);
  if (sentinel_after != sentinel_before) violated("sentinel changed:\n" + sentinel_before + "became\n" + sentinel_after);
  if (f.bad_handle_uses > 0) violated(std::to_string(f.bad_handle_uses) + " uses of a handle not open");
  if (status == kExitStartFailed) return violations;

  const std::string log = f.log_attempted();
  if (!log.empty() && log.back() != '\n') violated("log does not end with a line feed");

  // A file not written whole: one line, and neither times nor attributes
  // (a close that fails comes after both and cannot take them back).
  int write_lines_owed = 0;
  for (const Node* n : write_failed) {
    ++write_lines_owed;
    if (n->write_failed && (n->times_set || n->attr_set)) violated(path_of(n) + " not written whole but timed");
  }
  if (kinds["write"] != write_lines_owed) {
    violated(std::to_string(kinds["write"]) + " write lines for " + std::to_string(write_lines_owed) + " files");
  }

  // The stream is read ahead, never by more than one read-ahead beyond the
  // bytes handed to bodies; outbytes counts the handed bytes.
  const std::uint64_t read = f.stream_position(u"$content");
  if (r->counters.outbytes > read || read - r->counters.outbytes > kReadAheadBytes) {
    violated("outbytes " + std::to_string(r->counters.outbytes) + " but " + std::to_string(read) + " read");
  }
  const bool names_stopped = kinds["names"] > 0 || kinds["names-failed"] > 0;
  if (!stream_read_failed && !content_read_failed) {
    const int got = r->counters.dirs + r->counters.files;
    if (got != static_cast<int>(handled) || r->counters.dirs != dirs) {
      violated("dirs " + std::to_string(r->counters.dirs) + " + files " + std::to_string(r->counters.files) +
               " for " + std::to_string(handled) + " records of which " + std::to_string(dirs) + " directories");
    }
    if (r->counters.outbytes != consumed) {
      violated("took " + std::to_string(r->counters.outbytes) + " bytes of $content for " +
               std::to_string(consumed) + " owed");
    }
    auto count_is = [&](const std::string& kind, int want) {
      if (kinds[kind] != want) {
        violated(std::to_string(kinds[kind]) + " " + kind + " lines for " + std::to_string(want) + " expected");
      }
    };
    count_is("content", short_bodies);
    count_is("names", records > lines ? 1 : 0);
    count_is("nodes", records <= lines && nodes.size() % kFsNodeBytes != 0 ? 1 : 0);
  } else if (!content_read_failed && read > content.size()) {
    violated("read past the end of $content");
  }

  // Directories still held when the names stop keep their handles; nothing
  // else stays open but the starting directory and the target.
  const int start_and_target = (mode & kModeRunInTarget) ? 1 : 2;
  if (names_stopped) {
    if (f.open_non_directory_handles() != 0) violated("a stream, log or file left open");
  } else if (f.open_handles() != start_and_target) {
    std::string open;
    for (const std::string& l : f.open_labels()) open += " <" + l + ">";
    violated(std::to_string(f.open_handles()) + " handles left open:" + open);
  }

  // A dump --check passes restores into an empty target without a line,
  // where nothing but the dump can fail.
  const bool only_the_dump = header[1] % (kFailOpCount + 1) == 0 && header[3] % (kFailOpCount + 1) == 0 &&
                             swap_at == 0 && (mode & (kModeHostileTarget | kModeRunInTarget)) == 0;
  if (only_the_dump) {
    const std::unique_ptr<CheckRun> check(new CheckRun);
    check->fake.rules = f.rules;
    check->fake.add_dump(nodes, names, content);
    const int check_status = check_dump(check->fake, check->inspection.walk, -1, check->inspection.out,
                                        check->inspection.err);
    if (check_status == kExitDone && !log.empty()) violated("--check passed the dump, yet the log holds:\n" + log);
  }
  return violations;
}
