#include "child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <csignal>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

void pause_briefly() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

Child::~Child() {
  if (pid_ > 0 && !reaped_) {
    kill(-pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

bool Child::start(const std::vector<std::string>& argv_s, const ChildOptions& o) {
  std::vector<std::string> words = argv_s;
  std::vector<char*> argv;
  for (auto& a : words) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return false;
  }
  if (pid_ == 0) {
    setpgid(0, 0);
    // The test runner may ignore or block signals; the program must start
    // with the defaults a shell gives it.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGXFSZ, SIGHUP}) std::signal(sig, SIG_DFL);
    int in = open("/dev/null", O_RDONLY);
    int out = o.stdout_fd >= 0 ? o.stdout_fd
              : o.stdout_path.empty() ? open("/dev/null", O_WRONLY)
                                      : open(o.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = o.stderr_path.empty() ? open("/dev/null", O_WRONLY)
                                    : open(o.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    umask(022);
    for (const auto& [k, v] : o.env) setenv(k.c_str(), v.c_str(), 1);
    if (o.file_size_limit >= 0) {
      struct rlimit lim;
      lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(o.file_size_limit);
      if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(126);
    }
    if (o.open_files_limit >= 0) {
      struct rlimit lim;
      lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(o.open_files_limit);
      if (setrlimit(RLIMIT_NOFILE, &lim) != 0) _exit(126);
    }
    if (o.address_space_limit >= 0) {
      struct rlimit lim;
      lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(o.address_space_limit);
      if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(126);
    }
    if (o.as_nobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  setpgid(pid_, pid_);  // also here, so a signal sent at once finds the group
  return true;
}

void Child::record(int status) {
  reaped_ = true;
  if (WIFEXITED(status)) exit_status_ = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) term_signal_ = WTERMSIG(status);
}

bool Child::running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    record(status);
    return false;
  }
  return true;
}

bool Child::wait(int seconds, const std::string& what) {
  if (pid_ <= 0) return false;
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (running()) {
    if (Clock::now() > deadline) {
      kill(-pid_, SIGKILL);
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      record(status);
      ADD_FAILURE() << what << " did not end within " << seconds << " s: killed";
      return false;
    }
    pause_briefly();
  }
  return true;
}

void Child::signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

bool wait_until(const std::function<bool()>& ready, int seconds, const std::string& what) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (Clock::now() > deadline) {
      ADD_FAILURE() << "gave up after " << seconds << " s waiting for " << what;
      return false;
    }
    pause_briefly();
  }
  return true;
}

int run_command(const std::vector<std::string>& argv, int seconds) {
  Child c;
  ChildOptions o;
  const char* tmp = std::getenv("TMPDIR");
  const std::string log = std::string(tmp && *tmp ? tmp : "/tmp") + "/fsrestore_e2e_cmd." +
                          std::to_string(getpid());
  o.stderr_path = log;
  if (!c.start(argv, o)) return -1;
  c.wait(seconds, argv.empty() ? "command" : argv[0]);
  const std::string err = slurp(log);
  unlink(log.c_str());
  if (c.exit_status() != 0) std::fprintf(stderr, "  %s: %s", argv[0].c_str(), err.c_str());
  return c.exit_status();
}

int run_as_nobody(const std::string& script) {
  return run_command({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", "sh", "-c", script});
}

FifoWriter::~FifoWriter() { close(); }

void FifoWriter::make(const std::string& path) {
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path << ": " << std::strerror(errno);
}

// Opened for reading and writing, which never waits: a writer is then
// present before the program opens its end, so a reader that opens without
// blocking (as Wine may) waits for data instead of seeing an early end. The
// test never reads from it. A program that dies leaves the writes to time out.
bool FifoWriter::try_open() {
  if (fd_ >= 0) return true;
  std::signal(SIGPIPE, SIG_IGN);
  fd_ = open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return fd_ >= 0;
}

bool FifoWriter::wait_drained() {
  return wait_until(
      [&] {
        int queued = 0;
        return ioctl(fd_, FIONREAD, &queued) != 0 || queued == 0;
      },
      kRunTimeoutSeconds, "the reader of " + path_ + " to take a piece");
}

bool FifoWriter::write(const std::string& data, std::size_t piece, bool drain) {
  if (fd_ < 0) {
    ADD_FAILURE() << path_ << " is not open";
    return false;
  }
  std::size_t at = 0;
  while (at < data.size()) {
    const std::size_t end = std::min(data.size(), at + piece);
    while (at < end) {
      struct pollfd p = {fd_, POLLOUT, 0};
      const int ready = poll(&p, 1, kRunTimeoutSeconds * 1000);
      if (ready <= 0) {
        ADD_FAILURE() << "no room in " << path_ << " within " << kRunTimeoutSeconds << " s";
        return false;
      }
      const ssize_t n = ::write(fd_, data.data() + at, end - at);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n < 0) {
        ADD_FAILURE() << "writing " << path_ << ": " << std::strerror(errno);
        return false;
      }
      at += static_cast<std::size_t>(n);
    }
    if (drain && !wait_drained()) return false;
  }
  return true;
}

void FifoWriter::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool open_all(const std::vector<FifoWriter*>& writers, int seconds) {
  return wait_until(
      [&] {
        bool all = true;
        for (FifoWriter* w : writers) all = w->try_open() && all;
        return all;
      },
      seconds, "the program to open its FIFOs");
}

bool feed_dump_in_step(const std::string& from_base, FifoWriter& nodes, FifoWriter& names,
                       FifoWriter& content, std::size_t piece) {
  const std::string node_bytes = slurp(from_base + "$fsnodes");
  const std::string name_bytes = slurp(from_base + "$fsnames");
  const std::string body_bytes = slurp(from_base + "$content");
  std::size_t name_at = 0, body_at = 0;
  for (std::size_t rec = 0; rec + 32 <= node_bytes.size(); rec += 32) {
    const auto* b = reinterpret_cast<const unsigned char*>(node_bytes.data() + rec);
    const std::uint64_t size = static_cast<std::uint64_t>(b[0]) | static_cast<std::uint64_t>(b[1]) << 8 |
                               static_cast<std::uint64_t>(b[2]) << 16 | static_cast<std::uint64_t>(b[3]) << 24 |
                               static_cast<std::uint64_t>(b[4]) << 32;
    const bool is_dir = (b[6] & 0x10) != 0;
    if (!nodes.write(node_bytes.substr(rec, 32), piece, true)) return false;
    const std::size_t lf = name_bytes.find('\n', name_at);
    const std::size_t line_end = lf == std::string::npos ? name_bytes.size() : lf + 1;
    if (!names.write(name_bytes.substr(name_at, line_end - name_at), piece, true)) return false;
    name_at = line_end;
    if (!is_dir && size > 0) {
      if (!content.write(body_bytes.substr(body_at, size), piece, true)) return false;
      body_at += size;
    }
  }
  nodes.close();
  names.close();
  content.close();
  return true;
}

TmpfsMount::TmpfsMount(const std::string& dir, const std::string& size) : dir_(dir) {
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    ADD_FAILURE() << "mkdir " << dir << ": " << std::strerror(errno);
    return;
  }
  const std::string data = "size=" + size + ",mode=0755";
  if (mount("tmpfs", dir.c_str(), "tmpfs", 0, data.c_str()) != 0) {
    ADD_FAILURE() << "mount -t tmpfs -o " << data << " " << dir << ": " << std::strerror(errno)
                  << " (this test needs root)";
    return;
  }
  mounted_ = true;
}

TmpfsMount::~TmpfsMount() {
  if (!mounted_) return;
  if (umount(dir_.c_str()) != 0) {
    // Something still holds it (a child killed late): detach it anyway.
    umount2(dir_.c_str(), MNT_DETACH);
  }
}

namespace {

bool remove_children(int dir_fd) {
  DIR* d = fdopendir(dir_fd);
  if (!d) {
    close(dir_fd);
    return false;
  }
  bool ok = true;
  fchmod(dirfd(d), 0755);
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  }
  for (const std::string& n : names) {
    struct stat st;
    if (fstatat(dirfd(d), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      const int child = openat(dirfd(d), n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0 || !remove_children(child)) ok = false;
      if (unlinkat(dirfd(d), n.c_str(), AT_REMOVEDIR) != 0) ok = false;
    } else if (unlinkat(dirfd(d), n.c_str(), 0) != 0) {
      ok = false;
    }
  }
  closedir(d);
  return ok;
}

}  // namespace

bool remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = remove_children(fd);
  return rmdir(path.c_str()) == 0 && ok;
}

}  // namespace e2e
