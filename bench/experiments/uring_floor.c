/* uring_floor [-m split|link|writes|closes|sync] [-b BATCH] [-w WORKERS] BASEPATH TARGET:
 * the floor restore (../floor.c) with its per-entry calls handed to the kernel
 * in batches through io_uring, to learn what batching could gain.
 *
 * It reads the same three streams and makes the same tree (names, bodies,
 * both times of every file; a read-only file is created with mode 0444),
 * keeping the restorer's rules, which floor.c does not:
 *   - every entry is created relative to its parent's open directory fd;
 *     a file is opened O_CREAT|O_EXCL|O_NOFOLLOW, a new directory is made
 *     with mkdirat and opened O_DIRECTORY|O_NOFOLLOW;
 *   - times are set with futimens on the entry's own fd after its last
 *     write (io_uring has no operation for that, so this stays a system
 *     call per entry); a directory's once its subtree is complete.
 * No attribute xattr, no error log, no progress line.
 *
 * Modes, for BATCH files at a time (default 64); the times are always one
 * futimens per entry, directories are always made and opened one at a time:
 *   split   queue the openats, reap their fds; queue the writes, reap;
 *           futimens each fd; queue the closes (sent with the next batch).
 *   link    per file an openat into a fixed-file slot, linked to the write
 *           through that slot, linked to an install of the slot as a normal
 *           fd; one submit and reap per batch; futimens each fd; queue the
 *           closes. Needs IORING_OP_FIXED_FD_INSTALL (kernel 6.8).
 *   writes  openat one at a time; writes queued and reaped; futimens; closes
 *           queued.
 *   closes  only the closes queued.
 *   sync    every call one at a time, without io_uring: the unbatched
 *           restore under the same rules.
 * WORKERS caps the kernel's worker threads for the ring; 0 leaves the
 * kernel's default. The kernel never runs an O_CREAT openat inline at
 * submission: it hands it to a worker thread, as it does a buffered write to
 * tmpfs, so a batch trades system calls for those handoffs.
 *
 * io_uring is driven by raw system calls on the mapped rings: no library,
 * as the restorer would have to do to stay free of a new dependency.
 * Like floor.c it is a measuring tool: it stops at the first malformed
 * input and reports failed entries on stderr.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/io_uring.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "../dump_input.h"

#define MAX_BATCH 1024
#define MAX_DEPTH 256
#define ARENA (1u << 20)
/* Not in the installed (6.1) kernel headers; the kernel here has it. */
#define OP_FIXED_FD_INSTALL 54

/* What goes through the ring. */
enum { RING_OPEN = 1, RING_WRITE = 2, RING_CLOSE = 4, LINKED = 8 };
static const struct {
  const char *name;
  unsigned steps;
} modes[] = {
    {"split", RING_OPEN | RING_WRITE | RING_CLOSE},
    {"link", LINKED | RING_CLOSE},
    {"writes", RING_WRITE | RING_CLOSE},
    {"closes", RING_CLOSE},
    {"sync", 0},
};
static unsigned mode = RING_OPEN | RING_WRITE | RING_CLOSE;
static unsigned batch = 64;
static unsigned failures;


static void fail(const char *what, const char *who, int err) {
  fprintf(stderr, "%s %s: %s\n", what, who, strerror(err));
  ++failures;
}

/* ---- the ring ---- */

static int ring_fd = -1;
static unsigned *sq_head, *sq_tail, *sq_mask, *sq_array, *cq_head, *cq_tail, *cq_mask;
static unsigned sq_entries, sq_local_tail, sq_unsent;
static struct io_uring_sqe *sqes;
static struct io_uring_cqe *cqes;
static unsigned expected; /* CQEs still to come that the caller waits for */

enum tag { T_OPEN = 1, T_WRITE, T_INSTALL, T_CLOSE };
#define TAG(kind, i) ((uint64_t)(kind) << 32 | (uint32_t)(i))

static int ring_setup(unsigned entries, unsigned workers) {
  struct io_uring_params p;
  unsigned flagsets[] = {IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN, IORING_SETUP_COOP_TASKRUN, 0};
  for (unsigned k = 0; k < 3; ++k) {
    memset(&p, 0, sizeof p);
    p.flags = flagsets[k];
    ring_fd = (int)syscall(SYS_io_uring_setup, entries, &p);
    if (ring_fd >= 0 || errno != EINVAL) break;
  }
  if (ring_fd < 0) return -errno;
  size_t sq_size = p.sq_off.array + p.sq_entries * sizeof(unsigned);
  size_t cq_size = p.cq_off.cqes + p.cq_entries * sizeof(struct io_uring_cqe);
  if (p.features & IORING_FEAT_SINGLE_MMAP) sq_size = cq_size = sq_size > cq_size ? sq_size : cq_size;
  unsigned char *sq = mmap(NULL, sq_size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ring_fd, IORING_OFF_SQ_RING);
  if (sq == MAP_FAILED) return -errno;
  unsigned char *cq = sq;
  if (!(p.features & IORING_FEAT_SINGLE_MMAP)) {
    cq = mmap(NULL, cq_size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ring_fd, IORING_OFF_CQ_RING);
    if (cq == MAP_FAILED) return -errno;
  }
  sqes = mmap(NULL, p.sq_entries * sizeof(struct io_uring_sqe), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE,
              ring_fd, IORING_OFF_SQES);
  if (sqes == MAP_FAILED) return -errno;
  sq_head = (unsigned *)(sq + p.sq_off.head);
  sq_tail = (unsigned *)(sq + p.sq_off.tail);
  sq_mask = (unsigned *)(sq + p.sq_off.ring_mask);
  sq_array = (unsigned *)(sq + p.sq_off.array);
  cq_head = (unsigned *)(cq + p.cq_off.head);
  cq_tail = (unsigned *)(cq + p.cq_off.tail);
  cq_mask = (unsigned *)(cq + p.cq_off.ring_mask);
  cqes = (struct io_uring_cqe *)(cq + p.cq_off.cqes);
  sq_entries = p.sq_entries;
  sq_local_tail = *sq_tail;
  if (workers > 0) {
    unsigned limits[2] = {workers, workers};
    if (syscall(SYS_io_uring_register, ring_fd, IORING_REGISTER_IOWQ_MAX_WORKERS, limits, 2) < 0) return -errno;
  }
  return 0;
}

static void reap(void);

/* Hands every queued entry to the kernel; waits for the expected CQEs
 * when asked to. */
static void ring_enter(int wait) {
  for (;;) {
    __atomic_store_n(sq_tail, sq_local_tail, __ATOMIC_RELEASE);
    unsigned want = wait ? expected : 0;
    if (sq_unsent == 0 && want == 0) return;
    long n = syscall(SYS_io_uring_enter, ring_fd, sq_unsent, want, want ? IORING_ENTER_GETEVENTS : 0, NULL, 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EBUSY) { reap(); continue; }
      perror("io_uring_enter");
      exit(1);
    }
    sq_unsent -= (unsigned)n;
    reap();
    if (!wait || expected == 0) {
      if (sq_unsent == 0) return;
    }
  }
}

static struct io_uring_sqe *get_sqe(void) {
  if (sq_local_tail - __atomic_load_n(sq_head, __ATOMIC_ACQUIRE) >= sq_entries) ring_enter(0);
  unsigned idx = sq_local_tail & *sq_mask;
  struct io_uring_sqe *s = &sqes[idx];
  memset(s, 0, sizeof *s);
  sq_array[idx] = idx;
  ++sq_local_tail;
  ++sq_unsent;
  return s;
}

/* ---- files waiting in the current batch ---- */

struct pending {
  int dirfd;
  int fd;
  unsigned name_at;   /* offset of its name in arena */
  unsigned body_at;   /* offset of its body in content */
  unsigned size;      /* whole body, in the buffer */
  mode_t perm;
  struct timespec times[2];
  const char *failed; /* the step that failed, if any */
  int err;
};
static struct pending files[MAX_BATCH];
static unsigned nfiles;
static char arena[ARENA];
static unsigned arena_used;

/* Directories whose subtrees are complete but whose last children may
 * still be in the batch: their times are set once the batch is done. */
struct done_dir {
  int fd;
  struct timespec times[2];
};
static struct done_dir done_dirs[MAX_BATCH];
static unsigned ndone;

static void reap(void) {
  unsigned head = *cq_head;
  unsigned tail = __atomic_load_n(cq_tail, __ATOMIC_ACQUIRE);
  for (; head != tail; ++head) {
    const struct io_uring_cqe *c = &cqes[head & *cq_mask];
    unsigned kind = (unsigned)(c->user_data >> 32), i = (unsigned)c->user_data;
    switch (kind) {
      /* In link mode the open and the write only report failures, and a
       * failure ends the file's chain without a CQE from the install. */
      case T_OPEN:
        --expected;
        if (!(mode & LINKED)) files[i].fd = c->res;
        if (c->res < 0 && !files[i].failed) { files[i].failed = "open"; files[i].err = -c->res; }
        break;
      case T_WRITE:
        --expected;
        if (c->res < 0 && !files[i].failed) { files[i].failed = "write"; files[i].err = -c->res; }
        else if (c->res >= 0 && (unsigned)c->res != files[i].size && !files[i].failed) {
          files[i].failed = "short write"; files[i].err = EIO;
        }
        break;
      case T_INSTALL:
        --expected;
        files[i].fd = c->res;
        if (c->res < 0 && !files[i].failed) { files[i].failed = "install"; files[i].err = -c->res; }
        break;
      case T_CLOSE:
        if (c->res < 0) fail("close", "", -c->res);
        break;
    }
  }
  __atomic_store_n(cq_head, head, __ATOMIC_RELEASE);
}

/* The steps of a batch; each goes through the ring or is a system call
 * per file, as the mode says. The times are always a call per file. */
static void open_step(void) {
  for (unsigned i = 0; i < nfiles; ++i) {
    struct pending *f = &files[i];
    if (!(mode & RING_OPEN)) {
      f->fd = openat(f->dirfd, arena + f->name_at, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, f->perm);
      if (f->fd < 0) { f->failed = "open"; f->err = errno; }
      continue;
    }
    struct io_uring_sqe *s = get_sqe();
    s->opcode = IORING_OP_OPENAT;
    s->fd = f->dirfd;
    s->addr = (uint64_t)(uintptr_t)(arena + f->name_at);
    s->open_flags = O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC;
    s->len = f->perm;
    s->user_data = TAG(T_OPEN, i);
    ++expected;
  }
  if (mode & RING_OPEN) ring_enter(1);
}

static void write_step(void) {
  for (unsigned i = 0; i < nfiles; ++i) {
    struct pending *f = &files[i];
    if (f->fd < 0 || f->size == 0) continue;
    if (!(mode & RING_WRITE)) {
      ssize_t n = write(f->fd, content + f->body_at, f->size);
      if (n != (ssize_t)f->size && !f->failed) { f->failed = "write"; f->err = n < 0 ? errno : EIO; }
      continue;
    }
    struct io_uring_sqe *s = get_sqe();
    s->opcode = IORING_OP_WRITE;
    s->fd = f->fd;
    s->addr = (uint64_t)(uintptr_t)(content + f->body_at);
    s->len = f->size;
    s->off = 0;
    s->user_data = TAG(T_WRITE, i);
    ++expected;
  }
  if (mode & RING_WRITE) ring_enter(1);
}

/* Link mode: per file one chain, open into slot i, write through the slot,
 * install the slot as a normal fd; one submit and wait for the batch. */
static void linked_step(void) {
  for (unsigned i = 0; i < nfiles; ++i) {
    struct pending *f = &files[i];
    struct io_uring_sqe *s = get_sqe();
    s->opcode = IORING_OP_OPENAT;
    s->fd = f->dirfd;
    s->addr = (uint64_t)(uintptr_t)(arena + f->name_at);
    s->open_flags = O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW; /* O_CLOEXEC is refused for a slot */
    s->len = f->perm;
    s->file_index = i + 1;
    s->flags = IOSQE_IO_LINK | IOSQE_CQE_SKIP_SUCCESS;
    s->user_data = TAG(T_OPEN, i);
    if (f->size > 0) {
      s = get_sqe();
      s->opcode = IORING_OP_WRITE;
      s->flags = IOSQE_FIXED_FILE | IOSQE_IO_LINK | IOSQE_CQE_SKIP_SUCCESS;
      s->fd = (int)i;
      s->addr = (uint64_t)(uintptr_t)(content + f->body_at);
      s->len = f->size;
      s->off = 0;
      s->user_data = TAG(T_WRITE, i);
    }
    s = get_sqe();
    s->opcode = OP_FIXED_FD_INSTALL;
    s->flags = IOSQE_FIXED_FILE;
    s->fd = (int)i;
    s->user_data = TAG(T_INSTALL, i);
    ++expected;
  }
  ring_enter(1);
}

static void close_fd(int fd) {
  if (!(mode & RING_CLOSE)) {
    close(fd);
    return;
  }
  struct io_uring_sqe *s = get_sqe();
  s->opcode = IORING_OP_CLOSE;
  s->fd = fd;
  s->flags = IOSQE_CQE_SKIP_SUCCESS;
  s->user_data = TAG(T_CLOSE, 0);
}

static void flush(void) {
  if (mode & LINKED) {
    linked_step();
  } else {
    open_step();
    write_step();
  }
  for (unsigned i = 0; i < nfiles; ++i) {
    struct pending *f = &files[i];
    if (f->failed) fail(f->failed, arena + f->name_at, f->err);
    if (f->fd < 0) continue;
    if (futimens(f->fd, f->times) != 0) fail("futimens", arena + f->name_at, errno);
    close_fd(f->fd);
  }
  for (unsigned i = 0; i < ndone; ++i) {
    if (futimens(done_dirs[i].fd, done_dirs[i].times) != 0) fail("futimens", "directory", errno);
    close_fd(done_dirs[i].fd);
  }
  /* Queued closes go out with the next submit. */
  nfiles = 0;
  ndone = 0;
  arena_used = 0;
}

/* Makes sure the next n body bytes are in the buffer, in one piece. The
 * batch's writes point into it, so they are finished first. */
static int body_ready(size_t n) {
  if (content_fill - content_pos >= n) return 1;
  flush();
  size_t rest = content_fill - content_pos;
  memmove(content, content + content_pos, rest);
  content_fill = rest;
  content_pos = 0;
  while (content_fill < n) {
    size_t got = fill(content_fd, content + content_fill, BLOCK - content_fill);
    if (got == 0) return 0;
    content_fill += got;
  }
  return 1;
}

/* A body too big for the buffer is written at once, outside the batch. */
static void big_file(int dirfd, const char *fname, mode_t perm, uint64_t size, const struct timespec times[2]) {
  flush();
  int fd = openat(dirfd, fname, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, perm);
  if (fd < 0) fail("open", fname, errno);
  while (size > 0) {
    if (content_pos == content_fill) {
      content_fill = fill(content_fd, content, BLOCK);
      content_pos = 0;
      if (content_fill == 0) break;
    }
    size_t n = content_fill - content_pos;
    if (n > size) n = (size_t)size;
    if (fd >= 0 && write(fd, content + content_pos, n) != (ssize_t)n) fail("write", fname, errno);
    content_pos += n;
    size -= n;
  }
  if (fd >= 0) {
    if (futimens(fd, times) != 0) fail("futimens", fname, errno);
    close(fd);
  }
}

static void dir_done(int fd, const struct timespec times[2]) {
  if (ndone == MAX_BATCH) flush();
  done_dirs[ndone].fd = fd;
  done_dirs[ndone].times[0] = times[0];
  done_dirs[ndone].times[1] = times[1];
  ++ndone;
}

static void usage(void) {
  fprintf(stderr, "usage: uring_floor [-m split|link|writes|closes|sync] [-b BATCH] [-w WORKERS] BASEPATH TARGET\n");
  exit(2);
}

int main(int argc, char **argv) {
  unsigned workers = 0;
  int opt;
  while ((opt = getopt(argc, argv, "m:b:w:")) != -1) {
    switch (opt) {
      case 'm':
      {
        unsigned k = 0;
        while (k < sizeof modes / sizeof modes[0] && strcmp(optarg, modes[k].name) != 0) ++k;
        if (k == sizeof modes / sizeof modes[0]) usage();
        mode = modes[k].steps;
        break;
      }
      case 'b': batch = (unsigned)atoi(optarg); break;
      case 'w': workers = (unsigned)atoi(optarg); break;
      default: usage();
    }
  }
  if (argc - optind != 2 || batch < 1 || batch > MAX_BATCH) usage();
  content_fd = open_stream(argv[optind], "$content");
  names_fd = open_stream(argv[optind], "$fsnames");
  nodes_fd = open_stream(argv[optind], "$fsnodes");
  if (mode != 0) {
    /* Room for a batch's opens, writes and installs or closes, plus the
     * closes of the batch before and of finished directories. */
    int r = ring_setup(4 * MAX_BATCH, workers);
    if (r < 0) {
      fprintf(stderr, "io_uring: %s\n", strerror(-r));
      return 1;
    }
    if (mode & LINKED) {
      static int sparse[MAX_BATCH];
      for (unsigned i = 0; i < batch; ++i) sparse[i] = -1;
      if (syscall(SYS_io_uring_register, ring_fd, IORING_REGISTER_FILES, sparse, batch) < 0) {
        perror("io_uring_register files");
        return 1;
      }
    }
  }

  int stack[MAX_DEPTH + 1];
  struct timespec stack_times[MAX_DEPTH + 1][2];
  stack[0] = open(argv[optind + 1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (stack[0] < 0) {
    perror(argv[optind + 1]);
    return 1;
  }
  unsigned depth = 0;
  int last_dir = -1; /* the directory just made: its children may follow */
  struct timespec last_dir_times[2];
  const unsigned char *r;
  while ((r = next_node()) != NULL) {
    unsigned d = r[5];
    if (d > depth) {
      if (d != depth + 1 || last_dir < 0 || d > MAX_DEPTH) { fprintf(stderr, "bad depth\n"); return 1; }
      stack[d] = last_dir;
      stack_times[d][0] = last_dir_times[0];
      stack_times[d][1] = last_dir_times[1];
    } else {
      if (last_dir >= 0) dir_done(last_dir, last_dir_times);
      for (; depth > d; --depth) dir_done(stack[depth], stack_times[depth]);
    }
    last_dir = -1;
    depth = d;
    int len = next_name();
    if (!len) break;
    uint16_t attr = (uint16_t)(r[6] | r[7] << 8);
    uint64_t size = 0, wt = 0;
    for (int i = 4; i >= 0; --i) size = size << 8 | r[i];
    for (int i = 23; i >= 16; --i) wt = wt << 8 | r[i];
    struct timespec times[2] = {unix_time(wt), unix_time(wt)};
    int parent = stack[depth];
    if (attr & 0x10) {
      if (mkdirat(parent, name, 0777) != 0) { perror(name); return 1; }
      last_dir = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (last_dir < 0) { perror(name); return 1; }
      last_dir_times[0] = times[0];
      last_dir_times[1] = times[1];
      continue;
    }
    mode_t perm = (attr & 1) ? 0444 : 0666;
    if (size > BLOCK) {
      big_file(parent, name, perm, size, times);
      continue;
    }
    if (nfiles == batch || arena_used + (unsigned)len > ARENA) flush();
    if (!body_ready((size_t)size)) { fprintf(stderr, "content stream too short\n"); return 1; }
    struct pending *f = &files[nfiles++];
    f->dirfd = parent;
    f->fd = -1;
    f->name_at = arena_used;
    memcpy(arena + arena_used, name, (size_t)len);
    arena_used += (unsigned)len;
    f->body_at = (unsigned)content_pos;
    f->size = (unsigned)size;
    f->perm = perm;
    f->times[0] = times[0];
    f->times[1] = times[1];
    f->failed = NULL;
    f->err = 0;
    content_pos += size;
  }
  if (last_dir >= 0) dir_done(last_dir, last_dir_times);
  for (; depth > 0; --depth) dir_done(stack[depth], stack_times[depth]);
  flush();
  if (mode != 0) ring_enter(0);
  return failures ? 1 : 0;
}
