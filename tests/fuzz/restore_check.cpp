#include "restore_check.h"

#include <algorithm>
#include <map>
#include <memory>

#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "fake_platform.h"
#include "unit/test_restorer.h"
#include "report/error_log.h"
#include "report/progress_line.h"
#include "restore/dir_cursor.h"
#include "restore/entry_writer.h"
#include "restore/restore_counters.h"
#include "restore/restore_driver.h"

namespace {

using Node = FakePlatform::Node;

// Operations whose failure the input can inject; 7 makes every step up fail.
const char* const kFailOps[8] = {nullptr, "leave_dir", "enter_dir", "create_file",
                                 "make_dir", "open_dir", "read", "leave_dir"};

// The texts the fake gives for its failures; a log line ends with one.
const char* const kSystemTexts[] = {"injected failure",  "Invalid argument", "File name too long",
                                    "No such file or directory", "Not a directory", "Is a directory",
                                    "File exists", "Device or resource busy", "Too many levels of symbolic links"};

constexpr std::size_t kMaxViolations = 16;

using Restorer = TestRestorer;

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
  out += FakePlatform::utf8(node.name) + (node.directory ? "/" : "") + " attr=" + std::to_string(node.attr) +
         " times=" + std::to_string(node.creation) + "," + std::to_string(node.access) + "," +
         std::to_string(node.write) + (node.times_set ? "!" : "") + " link=" + path_of(node.link) +
         " size=" + std::to_string(node.size) + " body=" + node.body + "\n";
  for (const auto& [key, child] : node.children) snapshot(*child, out);
}

bool is_hex4(const std::string& s) {
  return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
         });
}

bool is_decimal(const std::string& s) {
  return !s.empty() && s.size() < 20 && (s == "0" || s[0] != '0') &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool cut_prefix(std::string& s, const std::string& prefix) {
  if (s.compare(0, prefix.size(), prefix) != 0) return false;
  s.erase(0, prefix.size());
  return true;
}

// Cuts ": <system text>" from the end of s.
bool cut_system_text(std::string& s) {
  for (const char* text : kSystemTexts) {
    const std::string tail = std::string(": ") + text;
    if (s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0) {
      s.resize(s.size() - tail.size());
      return true;
    }
  }
  return false;
}

// "<name>, attr=XXXX, size=N" with the name taken greedily; names may hold
// anything but a line feed.
bool name_attr_size(std::string s) {
  const std::size_t at = s.rfind(">, attr=");
  if (at == std::string::npos) return false;
  std::string rest = s.substr(at + 8);
  if (rest.size() < 11 || !is_hex4(rest.substr(0, 4)) || rest.compare(4, 7, ", size=") != 0) return false;
  return is_decimal(rest.substr(11));
}

}  // namespace

std::string classify_log_line(const std::string& line) {
  std::string s = line;
  if (line.find('\n') != std::string::npos) return "";
  if (cut_prefix(s, "chdir error with <..>: ") && cut_system_text(s = ": " + s) && s.empty()) return "chdir-up";
  s = line;
  if (cut_prefix(s, "chdir error with <") && cut_system_text(s)) {
    const std::size_t at = s.rfind("> attr=");
    if (at != std::string::npos && is_hex4(s.substr(at + 7))) return "chdir";
    return "";
  }
  s = line;
  if (cut_prefix(s, "createfile error with <") && cut_system_text(s) && name_attr_size("<" + s)) return "createfile";
  s = line;
  if (cut_prefix(s, "content error with <")) {
    const std::string tail = " bytes missing";
    if (s.size() <= tail.size() || s.compare(s.size() - tail.size(), tail.size(), tail) != 0) return "";
    s.resize(s.size() - tail.size());
    const std::size_t colon = s.rfind(": ");
    if (colon == std::string::npos || !is_decimal(s.substr(colon + 2)) || s.substr(colon + 2) == "0") return "";
    return name_attr_size("<" + s.substr(0, colon)) ? "content" : "";
  }
  if (line == "names error: $fsnames ended before $fsnodes") return "names";
  s = line;
  if (cut_prefix(s, "nodes error: $fsnodes ends with ") && s.size() > 12 &&
      s.compare(s.size() - 12, 12, " stray bytes") == 0) {
    const std::string n = s.substr(0, s.size() - 12);
    if (is_decimal(n) && std::stoi(n) >= 1 && std::stoi(n) <= 31) return "nodes";
  }
  return "";
}

std::string make_fuzz_input(std::uint8_t mode, std::uint8_t fail_a, std::uint8_t fail_b, const std::string& nodes,
                            const std::string& names, const std::string& content) {
  std::string out;
  out += static_cast<char>(mode);
  out += static_cast<char>(fail_a);
  out += static_cast<char>(fail_b);
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
  const std::string nodes = take(load24(header + 3));
  const std::string names = take(load24(header + 6));
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

  const std::unique_ptr<Restorer> r(new Restorer);
  FakePlatform& f = r->fake;
  const bool windows = (mode & kModeWindows) != 0;
  f.rules = windows ? NameRules::kWindows : NameRules::kPosix;
  f.fold_case = windows;
  f.model_windows_names = windows;
  f.limit_name_length = true;
  // A sentinel tree outside the target: a file, and a directory with a file.
  Node* secret = f.add_file(u"outside/secret", "sentinel body");
  f.add_file(u"outside/dir/inner", "inner body");
  Node* target = f.mkdir_p(u"target");
  if (mode & kModeHostileTarget) {
    // A link where a directory may go (a junction on Windows), a link and a
    // hard link where a file may go, all to the sentinel; and old entries.
    f.add_symlink(u"target/dlink", f.find(u"outside/dir"), windows);
    f.add_symlink(u"target/flink", secret, false);
    f.add_hard_link(u"target/hlink", secret);
    f.add_file(u"target/sub/keep", "kept");
    f.add_file(u"target/exist", "old");
  }
  f.add_dump(nodes, names, content);
  std::vector<Node*> guarded;
  if (mode & kModeRunInTarget) {
    // No arguments: the streams and the log are read and written in the
    // directory restored into, and must survive entries of the same names.
    for (const char16_t* name : {u"$content", u"$fsnames", u"$fsnodes", u"$errors"}) {
      Node* node = f.add_file(std::u16string(u"target/") + name, "");
      node->guarded = true;
      guarded.push_back(node);
    }
    f.cwd = target;
  } else {
    f.args = {"", "target"};
  }
  if (mode & kModeClockRuns) {
    f.cycle_step = 60000000;
    f.tick_step = 300;
  }
  for (int i = 1; i <= 2; ++i) {
    const int op = header[i] & 7, n = header[i] >> 3;
    if (op == 7) {
      f.fail(kFailOps[op]);
    } else if (op != 0) {
      f.fail_nth(kFailOps[op], n);
    }
  }

  std::string sentinel_before;
  snapshot(*f.find(u"outside"), sentinel_before);
  for (const Node* g : guarded) snapshot(*g, sentinel_before);

  bool started = (mode & kModeRunInTarget) != 0;
  std::map<const Node*, std::size_t> open_files, open_dirs;
  auto content_in_order = [&] {
    return std::find(f.failed_reads.begin(), f.failed_reads.end(), "$content") == f.failed_reads.end();
  };
  f.on_call = [&](const char* op, const Node* touched) {
    const std::string what = std::string(" after ") + op;
    for (const std::string& a : f.anomalies) violated("windows would not take it as a plain entry: " + a + what);
    f.anomalies.clear();
    if (!started && op == std::string("enter_target")) started = true;
    if (!started) return;
    const int depth = depth_below(target, f.cwd);
    if (depth < 0) violated("current directory " + path_of(f.cwd) + " outside the target" + what);
    if (depth != f.entered - f.left) {
      violated("real depth " + std::to_string(depth) + " but " + std::to_string(f.entered) + " entered and " +
               std::to_string(f.left) + " left" + what);
    }
    if (touched == nullptr) return;
    if (!under(target, touched)) violated("touched " + path_of(touched) + " outside the target" + what);
    if (touched->guarded) violated("touched the run's own file " + path_of(touched) + what);
    const std::string name = std::string(op);
    const std::size_t index = static_cast<std::size_t>(r->counters.dirs + r->counters.files) - 1;
    if (name == "create_file" || name == "make_dir") {
      if (depth > r->cursor.depth()) {
        violated("created at real depth " + std::to_string(depth) + " for a record at depth " +
                 std::to_string(r->cursor.depth()) + what);
      }
    }
    if (name == "create_file") open_files[touched] = index;
    if (name == "open_dir") open_dirs[touched] = index;
    if (name != "close") return;
    const bool file = open_files.count(touched) != 0;
    if (!file && open_dirs.count(touched) == 0) return;
    const std::size_t i = file ? open_files[touched] : open_dirs[touched];
    (file ? open_files : open_dirs).erase(touched);
    if (i >= expected.size()) return;  // a read of the node or names stream failed
    const Expected& e = expected[i];
    if (!touched->times_set || touched->creation != e.node.creation_time || touched->write != e.node.write_time ||
        touched->access != e.node.write_time) {
      violated("times of " + path_of(touched) + " not the record's when closed");
    }
    if (file && f.failed_reads.empty() &&
        touched->body != content.substr(static_cast<std::size_t>(e.offset), static_cast<std::size_t>(e.taken))) {
      violated("body of " + path_of(touched) + " (record " + std::to_string(i) + ", " +
               std::to_string(touched->body.size()) + " bytes) is not its slice of $content (" +
               std::to_string(e.taken) + " bytes at " + std::to_string(e.offset) + ")");
    }
  };

  const int status = r->driver.run();
  f.on_call = nullptr;

  if (status != kExitDone) violated("exit status " + std::to_string(status));
  std::string sentinel_after;
  if (Node* outside = f.find(u"outside")) snapshot(*outside, sentinel_after);
  for (const Node* g : guarded) {
    if (f.find(u"target/" + g->name) == g) snapshot(*g, sentinel_after);
  }
  if (sentinel_after != sentinel_before) violated("sentinel changed:\n" + sentinel_before + "became\n" + sentinel_after);
  if (f.bad_handle_uses > 0) violated(std::to_string(f.bad_handle_uses) + " uses of a handle not open");

  // The log: one well-formed line per failure.
  const std::string log = f.log_text();
  std::map<std::string, int> kinds;
  if (!log.empty() && log.back() != '\n') violated("log does not end with a line feed");
  for (std::size_t start = 0; start < log.size();) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    const std::string kind = classify_log_line(line);
    if (kind.empty()) violated("malformed log line <" + line + ">");
    ++kinds[kind];
    start = end + 1;
  }
  const bool names_ended = kinds["names"] > 0;
  auto count_is = [&](const std::string& kind, int want) {
    if (kinds[kind] != want) {
      violated(std::to_string(kinds[kind]) + " " + kind + " lines for " + std::to_string(want) + " failures");
    }
  };
  count_is("chdir", f.failed_calls["enter_dir"]);
  count_is("chdir-up", f.failed_calls["leave_dir"]);
  count_is("createfile", f.failed_calls["create_file"]);

  const std::uint64_t read = f.stream_position(u"$content");
  if (r->counters.outbytes != read) {
    violated("outbytes " + std::to_string(r->counters.outbytes) + " but " + std::to_string(read) + " read");
  }
  if (f.failed_reads.empty()) {
    const int got = r->counters.dirs + r->counters.files;
    if (got != static_cast<int>(handled) || r->counters.dirs != dirs) {
      violated("dirs " + std::to_string(r->counters.dirs) + " + files " + std::to_string(r->counters.files) +
               " for " + std::to_string(handled) + " records of which " + std::to_string(dirs) + " directories");
    }
    if (read != consumed) {
      violated("read " + std::to_string(read) + " bytes of $content for " + std::to_string(consumed) + " owed");
    }
    count_is("content", short_bodies);
    count_is("names", records > lines ? 1 : 0);
    count_is("nodes", records <= lines && nodes.size() % kFsNodeBytes != 0 ? 1 : 0);
    if (records <= lines && nodes.size() % kFsNodeBytes != 0 &&
        log.find("ends with " + std::to_string(nodes.size() % kFsNodeBytes) + " stray") == std::string::npos) {
      violated("nodes error line with the wrong count");
    }
  } else if (content_in_order() && read > content.size()) {
    violated("read past the end of $content");
  }

  if (names_ended) {
    // Directories still held keep their handles; nothing else may stay open.
    if (f.open_non_directory_handles() != 0) violated("a stream, log or file left open");
  } else {
    if (f.open_handles() != 0) violated(std::to_string(f.open_handles()) + " handles left open");
    if (f.failed_calls["leave_dir"] == 0 && f.cwd != target) {
      violated("ended in " + path_of(f.cwd) + ", not the target");
    }
  }
  return violations;
}
