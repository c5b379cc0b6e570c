#include "e2e_support.h"

#include "log_line_parser.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace e2e {
namespace {

std::vector<std::string> command_prefix() {
  std::vector<std::string> words;
  const char* cmd = std::getenv("FSRESTORE_CMD");
  if (cmd && *cmd) {
    std::istringstream in(cmd);
    for (std::string w; in >> w;) words.push_back(w);
  } else {
    // Default: the native binary of the build tree this test binary belongs to.
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    words.push_back((self.parent_path().parent_path() / "fsrestore").string());
  }
  // FSRESTORE_JOBS runs the whole suite with that many writers.
  const char* jobs = std::getenv("FSRESTORE_JOBS");
  if (jobs && *jobs) {
    words.push_back("-j");
    words.push_back(jobs);
  }
  return words;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Splits the output after the basepath line into its progress segments;
// returns false when the rest is not "segments + \n".
bool progress_segments(const RunResult& r, const std::string& basepath,
                       std::vector<std::string>* segments) {
  const std::string head = "basepath=<" + basepath + ">\n";
  EXPECT_EQ(r.out.substr(0, head.size()), head) << "stdout: " << r.out;
  if (r.out.compare(0, head.size(), head) != 0) return false;
  std::string rest = r.out.substr(head.size());
  EXPECT_FALSE(rest.empty()) << "no final line feed";
  if (rest.empty() || rest.back() != '\n') {
    ADD_FAILURE() << "stdout does not end with a line feed: " << testing::PrintToString(r.out);
    return false;
  }
  rest.pop_back();
  // Each print is "%-78s\r"; the counts here never make the text longer.
  if (rest.size() % 79 != 0) {
    ADD_FAILURE() << "progress output is not a run of 79-byte lines: "
                  << testing::PrintToString(rest);
    return false;
  }
  for (std::size_t i = 0; i < rest.size(); i += 79) {
    std::string seg = rest.substr(i, 79);
    EXPECT_EQ(seg.back(), '\r') << testing::PrintToString(seg);
    const std::string text = seg.substr(0, 78);
    EXPECT_EQ(text.rfind("dirs=", 0), 0u) << testing::PrintToString(seg);
    segments->push_back(text);
  }
  return true;
}

}  // namespace

// Without FSRESTORE_KIND, a command ending in ".exe" is the Windows build.
bool windows() {
  const char* kind = std::getenv("FSRESTORE_KIND");
  if (kind && *kind) return std::string(kind) == "windows";
  const char* cmd = std::getenv("FSRESTORE_CMD");
  const std::string c = cmd ? cmd : "";
  return c.size() >= 4 && c.compare(c.size() - 4, 4, ".exe") == 0;
}

Scratch::Scratch() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/fsrestore_e2e.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    ADD_FAILURE() << "mkdtemp " << templ << ": " << std::strerror(errno);
    return;
  }
  root = buf.data();
  work = root + "/w";
  make_dir(work);
}

Scratch::~Scratch() {
  if (root.empty()) return;
  if (testing::Test::HasFailure()) {
    std::fprintf(stderr, "  (scratch directory kept: %s)\n", root.c_str());
    return;
  }
  // By handles, making each directory writable first: trees may be deeper
  // than a path can name.
  remove_tree(root);
}

bool Scratch::start(Child& child, const std::vector<std::string>& args, ChildOptions options) const {
  std::vector<std::string> argv = command_prefix();
  argv.insert(argv.end(), args.begin(), args.end());
  if (options.cwd.empty()) options.cwd = work;
  if (options.stdout_fd < 0) options.stdout_path = root + "/stdout";
  options.stderr_path = root + "/stderr";
  if (windows()) {
    options.env.emplace_back("WINEDEBUG", "-all");
    // Wine takes the code set of Unix names and arguments from the locale.
    options.env.emplace_back("LC_ALL", "C.UTF-8");
  }
  return child.start(argv, options);
}

RunResult Scratch::finish(Child& child, int seconds) const {
  RunResult result;
  child.wait(seconds, "fsrestore");
  result.status = child.exit_status();
  result.signal = child.term_signal();
  result.out = slurp(root + "/stdout");
  result.err = slurp(root + "/stderr");
  EXPECT_NE(result.status, 127) << "could not start " << command_prefix()[0];
  return result;
}

// Under Wine a start now and then fails before the program runs, with
// Wine's own words ("wine client error:0: recvmsg: Connection reset by
// peer") and status 1; every line of ours starts "fsrestore: ". Such a
// run, and only such a run, gets one more try; the first failure is
// printed, so a start that always fails still fails.
RunResult Scratch::run(const std::vector<std::string>& args, ChildOptions options) const {
  for (int attempt = 0;; ++attempt) {
    Child child;
    if (!start(child, args, options)) return RunResult{};
    RunResult result = finish(child);
    const bool wine_failed = result.status == 1 && result.err.rfind("fsrestore: ", 0) != 0;
    if (!windows() || attempt > 0 || !wine_failed) return result;
    std::fprintf(stderr, "  (a start under Wine failed, run again: %s)\n", result.err.c_str());
  }
}

void Scratch::open_to_others() const {
  ASSERT_EQ(chmod(root.c_str(), 0711), 0);
  ASSERT_EQ(chmod(work.c_str(), 0711), 0);
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string read_file(const std::string& path) {
  EXPECT_TRUE(exists(path)) << path << " is missing";
  return slurp(path);
}

void write_file(const std::string& path, const std::string& body) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << body;
  ASSERT_TRUE(out.good()) << "writing " << path;
}

void make_dir(const std::string& path) {
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path << ": " << std::strerror(errno);
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  DIR* d = opendir(path.c_str());
  if (!d) {
    ADD_FAILURE() << "opendir " << path << ": " << std::strerror(errno);
    return names;
  }
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

void set_mtime(const std::string& path, std::int64_t seconds, long nanoseconds) {
  struct timespec ts[2];
  ts[0].tv_sec = ts[1].tv_sec = seconds;
  ts[0].tv_nsec = ts[1].tv_nsec = nanoseconds;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::string dos_attrib(const std::string& path, bool* supported) {
  *supported = true;
  char buf[256];
  ssize_t n = lgetxattr(path.c_str(), "user.DOSATTRIB", buf, sizeof buf);
  if (n < 0) {
    if (errno == ENOTSUP) *supported = false;
    else EXPECT_EQ(errno, ENODATA) << path << ": " << std::strerror(errno);
    return "";
  }
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string utf8(const std::u16string& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    std::uint32_t c = name[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
        name[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      // Below 0x10000, and lone surrogates in their three-byte form.
      out += DumpBuilder::name_line(std::u16string(1, static_cast<char16_t>(c)));
      out.pop_back();
    }
  }
  return out;
}

std::string dump_text(const std::u16string& name) {
  std::string line = DumpBuilder::name_line(name);
  line.pop_back();
  return line;
}

struct timespec unix_time(FileTime ft) {
  const std::int64_t ticks = static_cast<std::int64_t>(ft) - 116444736000000000LL;
  std::int64_t sec = ticks / 10000000, rem = ticks % 10000000;
  if (rem < 0) {
    rem += 10000000;
    --sec;
  }
  struct timespec ts;
  ts.tv_sec = sec;
  ts.tv_nsec = static_cast<long>(rem * 100);
  return ts;
}

void expect_times(const std::string& path, FileTime write) {
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0) << path << " is missing";
  const struct timespec want = unix_time(write);
  EXPECT_EQ(st.st_mtim.tv_sec, want.tv_sec) << "mtime seconds of " << path;
  EXPECT_EQ(st.st_mtim.tv_nsec, want.tv_nsec) << "mtime nanoseconds of " << path;
  EXPECT_EQ(st.st_atim.tv_sec, want.tv_sec) << "atime seconds of " << path;
  EXPECT_EQ(st.st_atim.tv_nsec, want.tv_nsec) << "atime nanoseconds of " << path;
}

void expect_untimed(const std::string& path, FileTime write) {
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0) << path << " is missing";
  const struct timespec t = unix_time(write);
  EXPECT_FALSE(st.st_mtim.tv_sec == t.tv_sec && st.st_mtim.tv_nsec == t.tv_nsec)
      << path << " carries the record's time";
}

// Standard error of a run that went to its end holds at most the entries
// not restored, by path, and the summary of what the log holds.
void expect_only_summary(const std::string& err) {
  std::size_t start = 0;
  while (start < err.size()) {
    std::size_t lf = err.find('\n', start);
    const std::string line = err.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    bool entries = line.starts_with("fsrestore: ") &&
                   (line.ends_with(" not restored; see $errors") || line.ends_with(" more in $errors"));
    for (const char* what : {": cannot make directory: ", ": cannot enter: ", ": cannot create: ",
                             ": cannot write: ", ": body cut short: "}) {
      entries = entries || (line.starts_with("fsrestore: ") && line.find(what) != std::string::npos);
    }
    const bool dump = line == "fsrestore: the dump is damaged or unreadable; see $errors";
    EXPECT_TRUE(lf != std::string::npos && (entries || dump)) << "on stderr: " << err;
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
}

void expect_clean_output(const RunResult& r, const std::string& basepath, int dirs, int files,
                         long long outbytes) {
  EXPECT_EQ(r.status, 0);
  expect_only_summary(r.err);
  std::vector<std::string> segments;
  if (!progress_segments(r, basepath, &segments)) return;
  ASSERT_FALSE(segments.empty()) << "no final progress line";
  const std::string& last = segments.back();
  const std::string counts = "dirs=" + std::to_string(dirs) + " files=" + std::to_string(files) +
                             " outbytes=" + std::to_string(outbytes) + " speed=";
  ASSERT_EQ(last.substr(0, counts.size()), counts) << "final line: " << last;
  // The speed, then spaces up to 78 characters.
  std::size_t i = counts.size();
  if (i < last.size() && last[i] == '-') ++i;
  const std::size_t digits_from = i;
  while (i < last.size() && last[i] >= '0' && last[i] <= '9') ++i;
  EXPECT_GT(i, digits_from) << "no speed in: " << last;
  EXPECT_EQ(last.find_first_not_of(' ', i), std::string::npos) << "final line: " << last;
}

void expect_output_without_final_line(const RunResult& r, const std::string& basepath) {
  EXPECT_EQ(r.status, 0);
  expect_only_summary(r.err);
  std::vector<std::string> segments;
  progress_segments(r, basepath, &segments);
}

void expect_startup_failure(const RunResult& r, const std::string& basepath) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "basepath=<" + basepath + ">\n");
  // One line saying why.
  EXPECT_TRUE(r.err.starts_with("fsrestore: ") && r.err.find('\n') == r.err.size() - 1) << r.err;
}

void expect_log(const std::string& log, const std::vector<std::string>& expected) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t lf = log.find('\n', start);
    if (lf == std::string::npos) {
      ADD_FAILURE() << "log does not end with a line feed: " << testing::PrintToString(log);
      lines.push_back(log.substr(start));
      break;
    }
    lines.push_back(log.substr(start, lf - start));
    start = lf + 1;
  }
  EXPECT_EQ(lines.size(), expected.size()) << "log:\n" << log;
  // Whatever else is expected, every line is one of the log's documented kinds.
  for (const std::string& line : lines) {
    if (line.starts_with("interrupted ")) continue;  // the interruption's own line
    EXPECT_NE(classify_log_line(line), "") << "undocumented log line: " << line;
  }
  for (std::size_t i = 0; i < lines.size() && i < expected.size(); ++i) {
    const std::string& want = expected[i];
    const std::string& got = lines[i];
    if (want.size() >= 2 && want.compare(want.size() - 2, 2, ": ") == 0) {
      EXPECT_EQ(got.substr(0, want.size()), want) << "log line " << i;
      const std::string text = got.size() > want.size() ? got.substr(want.size()) : "";
      EXPECT_NE(text.find_first_not_of(' '), std::string::npos)
          << "no system text in log line " << i << ": " << got;
      for (unsigned char c : text) {
        EXPECT_GE(c, 0x20) << "control byte in log line " << i << ": " << testing::PrintToString(got);
      }
    } else {
      EXPECT_EQ(got, want) << "log line " << i;
    }
  }
}

namespace {

std::string describe(const std::string& path, const struct stat& st) {
  char head[128];
  std::snprintf(head, sizeof head, "mode=%o mtime=%lld.%09ld", static_cast<unsigned>(st.st_mode),
                static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
  std::string d = head;
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return d + " link=" + std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  bool supported = true;
  d += " dos=" + dos_attrib(path, &supported);
  if (S_ISREG(st.st_mode)) {
    // FNV-1a keeps the description short; any change of the bytes shows.
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : slurp(path)) h = (h ^ c) * 1099511628211ull;
    char tail[64];
    std::snprintf(tail, sizeof tail, " size=%lld fnv=%016llx", static_cast<long long>(st.st_size),
                  static_cast<unsigned long long>(h));
    d += tail;
  }
  return d;
}

void walk(const std::string& root, const std::string& rel, const std::vector<std::string>& skip,
          TreeState* state) {
  const std::string dir = rel.empty() ? root : root + "/" + rel;
  for (const std::string& name : list_dir(dir)) {
    const std::string child = rel.empty() ? name : rel + "/" + name;
    if (std::find(skip.begin(), skip.end(), child) != skip.end()) continue;
    const std::string path = root + "/" + child;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      ADD_FAILURE() << "lstat " << path << ": " << std::strerror(errno);
      continue;
    }
    (*state)[child] = describe(path, st);
    if (S_ISDIR(st.st_mode)) walk(root, child, skip, state);
  }
}

}  // namespace

TreeState tree_state(const std::string& root, const std::vector<std::string>& skip) {
  TreeState state;
  struct stat st;
  if (lstat(root.c_str(), &st) != 0) {
    ADD_FAILURE() << root << " is missing";
    return state;
  }
  state["."] = describe(root, st);
  walk(root, "", skip, &state);
  return state;
}

void expect_same_tree(const TreeState& before, const TreeState& after) {
  for (const auto& [path, was] : before) {
    const auto it = after.find(path);
    if (it == after.end()) {
      ADD_FAILURE() << "removed: " << path << " (" << was << ")";
    } else if (it->second != was) {
      ADD_FAILURE() << "changed: " << path << "\n  before: " << was << "\n  after:  " << it->second;
    }
  }
  for (const auto& [path, now] : after) {
    if (!before.count(path)) ADD_FAILURE() << "added: " << path << " (" << now << ")";
  }
}

void CountingDump::place(int depth, const std::u16string& name, bool lands,
                         std::optional<std::string> body) {
  const std::size_t d = static_cast<std::size_t>(depth);
  // After a jump of several levels, where entries land is the caller's to
  // say: nothing below the levels passed over is expected.
  if (jump_log && depth > last_depth_ + 1) jump_log->push_back(depth_line(last_depth_, depth, dirs + files));
  last_depth_ = depth;
  path_.resize(d, "");
  landed_.resize(d, false);
  const bool here = lands && (d == 0 || landed_[d - 1]);
  std::string path;
  for (const std::string& p : path_) path += p + "/";
  path += utf8(name);
  if (here) expected[path] = std::move(body);
  if (!body) {
    path_.push_back(utf8(name));
    landed_.push_back(here);
  }
}

void CountingDump::dir(int depth, const std::u16string& name, std::uint16_t attr, bool lands) {
  builder.dir(static_cast<std::uint8_t>(depth), name, attr, time_, time_);
  ++dirs;
  place(depth, name, lands, std::nullopt);
}

void CountingDump::file(int depth, const std::u16string& name, const std::string& body, std::uint16_t attr,
                        bool lands) {
  builder.file(static_cast<std::uint8_t>(depth), name, body, attr, time_, time_);
  ++files;
  bytes += static_cast<long long>(body.size());
  place(depth, name, lands, body);
}

void CountingDump::cut_file(int depth, const std::u16string& name, std::uint64_t size, const std::string& arrived,
                            std::uint16_t attr, bool lands) {
  builder.file_header(static_cast<std::uint8_t>(depth), name, size, attr, time_, time_);
  builder.content(arrived.data(), arrived.size());
  ++files;
  bytes += static_cast<long long>(arrived.size());
  place(depth, name, lands, arrived);
}

void CountingDump::in_step(int depth) {
  const std::string n = std::to_string(in_step_);
  file(depth, DumpBuilder::utf16("after_" + n + ".txt"), "after " + n + ": " + pattern(7 + in_step_ % 5, in_step_));
  ++in_step_;
}

void CountingDump::raw_dir(int depth, const std::string& line, const std::u16string& decoded,
                           std::uint16_t attr, bool lands) {
  FsNode node;
  node.depth = static_cast<std::uint8_t>(depth);
  node.attr = static_cast<std::uint16_t>(attr | kAttrDirectory);
  node.creation_time = node.write_time = time_;
  builder.raw_node(node);
  builder.raw_name_line(line + "\n");
  ++dirs;
  place(depth, decoded, lands, std::nullopt);
}

void CountingDump::raw_file(int depth, const std::string& line, const std::u16string& decoded,
                            const std::string& body, std::uint16_t attr, bool lands) {
  FsNode node;
  node.size = body.size();
  node.depth = static_cast<std::uint8_t>(depth);
  node.attr = attr;
  node.creation_time = node.write_time = time_;
  builder.raw_node(node);
  builder.raw_name_line(line + "\n");
  builder.content(body.data(), body.size());
  ++files;
  bytes += static_cast<long long>(body.size());
  place(depth, decoded, lands, body);
}

void expect_tree(const std::string& root, const ExpectedTree& want, FileTime time,
                 const std::vector<std::string>& untimed) {
  for (const auto& [path, body] : want) {
    if (std::find(untimed.begin(), untimed.end(), path) == untimed.end()) expect_times(root + "/" + path, time);
  }
  std::map<std::string, std::vector<std::string>> listings;
  listings[""];
  for (const auto& [path, body] : want) {
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
    listings[parent].push_back(path.substr(slash == std::string::npos ? 0 : slash + 1));
    if (body) {
      EXPECT_EQ(read_file(root + "/" + path), *body) << path;
    } else {
      listings[path];
    }
  }
  for (auto& [dir, names] : listings) {
    std::sort(names.begin(), names.end());
    EXPECT_EQ(list_dir(dir.empty() ? root : root + "/" + dir), names) << "in " << root << "/" << dir;
  }
}

std::string entry_line(const std::string& what, const std::string& name_text, std::uint16_t attr,
                       long long size) {
  char tail[64];
  std::snprintf(tail, sizeof tail, ">, attr=%04X, size=%lld: ", attr, size);
  return what + " error with <" + name_text + tail;
}

std::string chdir_line(const std::string& name_text, std::uint16_t attr) {
  char tail[32];
  std::snprintf(tail, sizeof tail, "> attr=%04X: ", attr);
  return "chdir error with <" + name_text + tail;
}

std::string mkdir_line(const std::string& name_text, std::uint16_t attr) {
  char tail[32];
  std::snprintf(tail, sizeof tail, ">, attr=%04X: ", attr);
  return "mkdir error with <" + name_text + tail;
}

std::string content_line(const std::string& name_text, std::uint16_t attr, long long size, long long missing) {
  return entry_line("content", name_text, attr, size) + std::to_string(missing) + " bytes missing";
}

std::string depth_line(int from, int to, long long record) {
  return "nodes error: depth rises from " + std::to_string(from) + " to " + std::to_string(to) + " at record " +
         std::to_string(record);
}

std::string pattern(std::size_t size, std::uint32_t seed) {
  std::string s(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

namespace {

void make_sentinels(const Scratch& s) {
  make_dir(s.at("beside"));
  write_file(s.at("beside/keep.txt"), "beside the target");
  write_file(s.root + "/up.txt", "two levels up");
  make_dir(s.root + "/outer");
  write_file(s.root + "/outer/keep.txt", "outer");
  make_dir(s.root + "/sentinel");
  make_dir(s.root + "/sentinel/dir");
  write_file(s.root + "/sentinel/dir/inside.txt", "inside the sentinel dir");
  write_file(s.root + "/sentinel/file.txt", "PRECIOUS");
  write_file(s.root + "/sentinel/hard.txt", "PRECIOUS TOO");
  for (const std::string& p : {s.at("beside/keep.txt"), s.at("beside"), s.root + "/up.txt",
                               s.root + "/outer/keep.txt", s.root + "/outer", s.root + "/sentinel/dir/inside.txt",
                               s.root + "/sentinel/dir", s.root + "/sentinel/file.txt",
                               s.root + "/sentinel/hard.txt", s.root + "/sentinel"}) {
    set_mtime(p, 1400000000, 700);
  }
}

TreeState outside(const Scratch& s, const std::vector<std::string>& target) {
  std::vector<std::string> skip = {"stdout", "stderr", "w/$errors"};
  skip.insert(skip.end(), target.begin(), target.end());
  TreeState state = tree_state(s.root, skip);
  state.erase(".");
  state.erase("w");
  return state;
}

// The target, and the dump's directory, must exist before the CountingDump
// opens its streams (the dump may lie in the target).
std::string make_dirs(const Scratch& s, const std::string& base, bool make_target) {
  if (make_target) make_dir(s.at("t"));
  if (!base.empty() && base.back() == '/') make_dir(s.at(base));
  return s.at(base);
}

}  // namespace

Restore::Restore(FileTime t, const std::string& base, bool make_target)
    : time(t), d(make_dirs(s, base, make_target), t), echoed_(base) {}

void Restore::watch_outside(std::vector<std::string> skip) {
  make_sentinels(s);
  watch_ = true;
  skip_ = std::move(skip);
}

void Restore::prepare() {
  EXPECT_TRUE(d.builder.close()) << "writing the dump";
  if (watch_) before_ = outside(s, skip_);
}

const RunResult& Restore::run() { return run({echoed_, "t"}); }

const RunResult& Restore::run(const std::vector<std::string>& args, ChildOptions options) {
  prepare();
  echoed_ = args.empty() ? "" : args[0];
  r = s.run(args, std::move(options));
  return r;
}

void Restore::expect_outside_unchanged() const {
  if (watch_) expect_same_tree(before_, outside(s, skip_));
}

void Restore::expect_log_and_outside() const {
  expect_log(read_file(s.at("$errors")), log);
  expect_outside_unchanged();
}

void Restore::expect_finished() const {
  expect_clean_output(r, echoed_, d.dirs, d.files, d.bytes);
  expect_log_and_outside();
}

void Restore::expect_restored(const std::vector<std::string>& untimed) const {
  expect_finished();
  expect_tree(s.at("t"), d.expected, time, untimed);
}

RunResult interrupt_run(const Scratch& s, const std::vector<std::string>& args, std::size_t fed,
                        const std::function<bool()>& ready, const std::string& what, int sig, bool drain) {
  const std::string fifo = s.at("dump/$content");
  const std::string body = read_file(fifo);
  EXPECT_EQ(unlink(fifo.c_str()), 0);
  FifoWriter::make(fifo);
  FifoWriter feed(fifo);
  Child child;
  if (!open_all({&feed}) || !s.start(child, args)) return RunResult{};
  feed.write(body.substr(0, fed), 1 << 16, drain);
  wait_until(ready, kRunTimeoutSeconds, what);
  child.signal(sig);
  RunResult r = s.finish(child);
  feed.close();
  return r;
}

}  // namespace e2e
