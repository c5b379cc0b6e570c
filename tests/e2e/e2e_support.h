// Shared pieces of the end-to-end tests: running the program under test in a
// scratch directory, and reading back what it left behind.
//
// FSRESTORE_CMD is the command prefix (split on spaces), e.g.
// "build/native/fsrestore" or "wine build/win/fsrestore.exe";
// without it the fsrestore next to this test binary's build directory is used.
// FSRESTORE_KIND is "linux" (default) or "windows" for the few expectations
// that differ.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "dump_builder.h"

namespace e2e {

bool windows();

struct RunResult {
  int status = -1;  // exit status, -1 when the program did not exit normally
  int signal = 0;   // the signal that ended it, 0 when it exited
  std::string out;
  std::string err;
};

// A fresh directory under $TMPDIR (or /tmp): the program runs with `work` as
// its current directory; its captured output lives beside it in `root`. Kept
// for inspection when the test failed.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // Absolute path of a path relative to the working directory.
  std::string at(const std::string& rel) const { return work + "/" + rel; }
  // Runs the program with these (relative) arguments, under a timeout (a
  // run that does not end is killed and fails the test). Options may give
  // another working directory, stdout as a descriptor, or a file-size limit;
  // stdout_path and stderr_path are always the scratch files.
  RunResult run(const std::vector<std::string>& args, ChildOptions options = {}) const;
  // The same, started without waiting: act while it runs, then finish().
  bool start(Child& child, const std::vector<std::string>& args, ChildOptions options = {}) const;
  RunResult finish(Child& child, int seconds = kRunTimeoutSeconds) const;
  // Lets uid 65534 reach the working directory (mkdtemp makes it 0700).
  void open_to_others() const;

  std::string root;
  std::string work;
};

// File system helpers; paths are absolute.
bool exists(const std::string& path);  // without following a link
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& body);
void make_dir(const std::string& path);
std::vector<std::string> list_dir(const std::string& path);  // sorted, without . and ..
// Sets mtime and atime of path (not following links).
void set_mtime(const std::string& path, std::int64_t seconds, long nanoseconds);

// The user.DOSATTRIB value of path, "" when it has none. Sets *supported to
// false when the file system does not keep user extended attributes.
std::string dos_attrib(const std::string& path, bool* supported);

// Proper UTF-8 of a UTF-16 name, as a Linux file name.
std::string utf8(const std::u16string& name);
// The dump's encoding of a name (each unit on its own), as in log lines.
std::string dump_text(const std::u16string& name);

// Checks that mtime and atime of path are exactly the FILETIME write.
void expect_times(const std::string& path, FileTime write);
// Checks that path exists but does not carry the time `write` (an entry left
// incomplete, or a directory still open when the run stopped).
void expect_untimed(const std::string& path, FileTime write);
// The Unix time of a FILETIME, to the nanosecond.
struct timespec unix_time(FileTime ft);

// Checks stdout: the basepath line, the progress line(s) each padded to 78
// characters and ended by "\r", the last with exactly these counts, then
// "\n". Also checks that nothing but the summary of the log came on stderr.
void expect_clean_output(const RunResult& r, const std::string& basepath, int dirs, int files,
                         long long outbytes);
// Checks stdout of a run that ended because the names ran out: the basepath
// line, any throttled progress lines, then "\n".
void expect_output_without_final_line(const RunResult& r, const std::string& basepath);
// Checks a start-up failure: status 1, nothing after the basepath line,
// one line on stderr saying why.
void expect_startup_failure(const RunResult& r, const std::string& basepath);

// Checks the log lines in order. An expected line ending in ": " is a
// prefix that the system's text follows (non-empty, no control bytes);
// any other expected line must match exactly.
void expect_log(const std::string& log, const std::vector<std::string>& expected);

// Everything under a directory, links not followed: relative path -> kind,
// mode bits, mtime to the nanosecond, DOS attribute word, and the bytes of a
// file or the target of a link. Paths in `skip` (relative) are left out with
// all they hold.
using TreeState = std::map<std::string, std::string>;
TreeState tree_state(const std::string& root, const std::vector<std::string>& skip = {});

// Reports every entry added, removed or changed since `before`.
void expect_same_tree(const TreeState& before, const TreeState& after);

// What a restore must leave under a directory: relative path -> the bytes
// of a file, or nullopt for a directory.
using ExpectedTree = std::map<std::string, std::optional<std::string>>;
// Checks, in this order so that no read moves a time before it is checked:
// the times of every entry (all written with `time`) except those in
// `untimed`, then every file's bytes, then that each directory holds exactly
// the entries listed for it (the root included).
void expect_tree(const std::string& root, const ExpectedTree& want, FileTime time,
                 const std::vector<std::string>& untimed = {});

// A dump that counts what it holds (for the final progress line), gives
// every entry the same times, and keeps the tree a restore must produce from
// it. An entry added with lands = false is expected nowhere, nor is anything
// inside it, nor anything below a jump of several levels. The raw_* calls take a name line's bytes as they are (the line
// feed is added) and the name the program decodes from them.
class CountingDump {
 public:
  CountingDump(const std::string& basepath, FileTime time) : builder(basepath), time_(time) {}
  void dir(int depth, const std::u16string& name, std::uint16_t attr = 0x10, bool lands = true);
  void file(int depth, const std::u16string& name, const std::string& body, std::uint16_t attr = 0x20,
            bool lands = true);
  // A file of `size` bytes of which only `arrived` come before $content ends.
  void cut_file(int depth, const std::u16string& name, std::uint64_t size, const std::string& arrived,
                std::uint16_t attr = 0x20, bool lands = true);
  void raw_dir(int depth, const std::string& line, const std::u16string& decoded, std::uint16_t attr,
               bool lands);
  void raw_file(int depth, const std::string& line, const std::u16string& decoded, const std::string& body,
                std::uint16_t attr, bool lands);

  // A plain file with a name and body of its own, to follow a hostile
  // entry: when it comes back exact, the names and bodies are still in step.
  void in_step(int depth);

  DumpBuilder builder;
  // When set, the "nodes error: depth rises" line of every jump of several
  // levels is added here as the record is placed.
  std::vector<std::string>* jump_log = nullptr;
  int dirs = 0;
  int files = 0;
  long long bytes = 0;
  ExpectedTree expected;

 private:
  FileTime time_;
  std::vector<std::string> path_;  // the directories above the next entry
  std::vector<bool> landed_;       // whether each of them is expected on disk
  int last_depth_ = 0;
  int in_step_ = 0;

  void place(int depth, const std::u16string& name, bool lands, std::optional<std::string> body);
};

// Expected log lines for expect_log, with the name in the dump's encoding;
// each ends where the system's text begins. `what` is the failed step:
// "createfile", "write", "content".
std::string entry_line(const std::string& what, const std::string& name_text, std::uint16_t attr,
                       long long size);
inline std::string createfile_line(const std::string& name_text, std::uint16_t attr, long long size) {
  return entry_line("createfile", name_text, attr, size);
}
std::string chdir_line(const std::string& name_text, std::uint16_t attr);
std::string mkdir_line(const std::string& name_text, std::uint16_t attr);
// Whole lines: a body cut short, and a depth jump.
std::string content_line(const std::string& name_text, std::uint16_t attr, long long size, long long missing);
std::string depth_line(int from, int to, long long record);

// Runs the program with args on the dump under dump/ whose "$content" is
// turned into a FIFO: feeds its first `fed` bytes (drained piece by piece
// when drain is set), waits until `ready` holds (what: for the timeout's
// message), sends sig and returns how the run ended. A run the wait gave up
// on is signalled all the same.
RunResult interrupt_run(const Scratch& s, const std::vector<std::string>& args, std::size_t fed,
                        const std::function<bool()>& ready, const std::string& what, int sig, bool drain = false);

// Deterministic filler bytes.
std::string pattern(std::size_t size, std::uint32_t seed);

// One run of the program over one dump: a scratch directory with the dump's
// streams under `base` (a directory "dump/" unless told otherwise) and an
// empty target "t", a CountingDump that writes the dump and knows what the
// run must restore, and the lines $errors must hold. After watch_outside(),
// everything outside the target is noted before the run and must be the
// same after it.
class Restore {
 public:
  explicit Restore(FileTime time, const std::string& base = "dump/", bool make_target = true);

  // Makes the sentinel tree, with old times so that any write shows: a
  // directory beside the target in the working directory, and beside the
  // working directory a file, a directory, and files and a directory for
  // links in the target to point at (sentinel/file.txt, sentinel/hard.txt,
  // sentinel/dir). Everything under the scratch root is then compared, but
  // stdout, stderr, $errors, the times of their directories and what `skip`
  // lists (paths relative to the scratch root, with all they hold).
  void watch_outside(std::vector<std::string> skip = {"w/t"});
  // Closes the dump and notes what lies outside; run() does this itself.
  void prepare();
  // Runs `base t`, or these arguments; the result is kept in r.
  const RunResult& run();
  const RunResult& run(const std::vector<std::string>& args, ChildOptions options = {});

  // The run went to its end: status 0, nothing on stderr, the dump's counts
  // on the final progress line, $errors holds exactly `log`, and nothing
  // watched outside changed.
  void expect_finished() const;
  // The same, and the target holds exactly what the dump says, with the
  // dump's times on every entry but those in `untimed`.
  void expect_restored(const std::vector<std::string>& untimed = {}) const;
  // Checks $errors and the outside only (for runs with other output).
  void expect_log_and_outside() const;
  void expect_outside_unchanged() const;

  // A path in the target.
  std::string t(const std::string& rel) const { return s.at("t/" + rel); }

  Scratch s;
  FileTime time;
  CountingDump d;
  std::vector<std::string> log;
  RunResult r;

 private:
  std::string echoed_;  // the base path the run was given
  bool watch_ = false;
  std::vector<std::string> skip_;
  TreeState before_;
};

}  // namespace e2e
