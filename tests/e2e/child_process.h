// Processes, pipes and mounts for the end-to-end tests, every wait bounded:
// a child run asynchronously under a timeout, FIFOs fed piece by piece,
// commands run as the unprivileged uid 65534, a small tmpfs mounted for one
// test, and trees too deep for path names.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// How long any one run of the program may take before the test kills it and
// fails. Wine needs seconds just to start.
constexpr int kRunTimeoutSeconds = 120;

struct ChildOptions {
  std::string cwd;          // absolute; empty: the test's own
  std::string stdout_path;  // a file to create; empty: /dev/null
  std::string stderr_path;
  int stdout_fd = -1;       // used instead of stdout_path when >= 0
  long long file_size_limit = -1;                             // RLIMIT_FSIZE in bytes
  long long open_files_limit = -1;                            // RLIMIT_NOFILE, soft and hard
  long long address_space_limit = -1;                         // RLIMIT_AS in bytes
  bool as_nobody = false;  // runs as uid and gid 65534, without supplementary groups
  std::vector<std::pair<std::string, std::string>> env;       // added to the environment
};

// A child process in a process group of its own, so a timeout or signal
// reaches everything it started (wine's loader included).
class Child {
 public:
  Child() = default;
  ~Child();  // kills and reaps a child still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool start(const std::vector<std::string>& argv, const ChildOptions& options);
  // Waits up to `seconds`; on timeout kills the group, adds a test failure
  // naming `what` and returns false.
  bool wait(int seconds, const std::string& what);
  // True while the child has not exited (reaps it when it has).
  bool running();
  void signal(int sig);

  pid_t pid() const { return pid_; }
  int exit_status() const { return exit_status_; }      // -1 unless it exited
  int term_signal() const { return term_signal_; }      // 0 unless killed by a signal

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exit_status_ = -1;
  int term_signal_ = 0;

  void record(int status);
};

// Polls `ready` every few milliseconds for up to `seconds`; adds a failure
// naming `what` when it never became true.
bool wait_until(const std::function<bool()>& ready, int seconds, const std::string& what);

// Runs a shell script as uid/gid 65534 with no supplementary groups, under a
// timeout; returns its exit status (-1 when it did not exit normally).
int run_as_nobody(const std::string& script);
// Runs a command (argv) to completion under a timeout; returns the exit status.
int run_command(const std::vector<std::string>& argv, int seconds = kRunTimeoutSeconds);

// The write end of a FIFO the program reads. Nothing here blocks without a
// bound: opening waits for the reader, and writing for room in the pipe.
class FifoWriter {
 public:
  explicit FifoWriter(std::string path) : path_(std::move(path)) {}
  ~FifoWriter();
  FifoWriter(const FifoWriter&) = delete;
  FifoWriter& operator=(const FifoWriter&) = delete;

  static void make(const std::string& path);  // mkfifo, 0644
  // Opens without blocking, whether or not the reader has opened yet.
  bool try_open();
  bool is_open() const { return fd_ >= 0; }
  // Writes all of `data` in pieces of at most `piece` bytes. With drain,
  // each piece is taken by the reader before the next is written, so no
  // read of the program returns more than one piece.
  bool write(const std::string& data, std::size_t piece = 1 << 16, bool drain = false);
  void close();

 private:
  std::string path_;
  int fd_ = -1;

  bool wait_drained();
};

// Opens every writer, in whatever order the reader opens them.
bool open_all(const std::vector<FifoWriter*>& writers, int seconds = kRunTimeoutSeconds);

// Feeds a dump kept in regular files (base + "$fsnodes" etc.) into three
// FIFOs entry by entry: a record, its name line, its body, each piece taken
// by the reader before the next is written.
bool feed_dump_in_step(const std::string& from_base, FifoWriter& nodes, FifoWriter& names,
                       FifoWriter& content, std::size_t piece);

// A tmpfs of `size` (mount's syntax, e.g. "1m") mounted on a new directory
// for the life of the guard, unmounted in every case. A refused mount is a
// test failure.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& dir, const std::string& size);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// Removes a tree of any depth, walking it by handles (its paths may exceed
// PATH_MAX); returns false when anything stayed.
bool remove_tree(const std::string& path);

}  // namespace e2e
