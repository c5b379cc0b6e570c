// A FUSE pass-through that waits a fixed time in every request before it
// passes it on to a directory below: a target where each call waits for a
// server, as on a network file system, while the server itself needs next
// to no processor time. Only what a restore and `rm -rf` use is passed on.
//
//   delayfs BACKING MOUNTPOINT DELAY_US [fuse options]
//
// Build: cc -O2 -Wall $(pkg-config fuse3 --cflags) delayfs.c $(pkg-config fuse3 --libs)
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

static int backing = -1;
static long delay_ns = 0;

// Waits the delay, then gives the path below the backing directory.
static const char* below(const char* path) {
  struct timespec wait = {delay_ns / 1000000000L, delay_ns % 1000000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
  return path[1] == 0 ? "." : path + 1;
}

static int result(int r) { return r < 0 ? -errno : r; }

static int fs_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  const char* p = below(path);
  if (fi != NULL) return result(fstat((int)fi->fh, st));
  return result(fstatat(backing, p, st, AT_SYMLINK_NOFOLLOW));
}

static int fs_mkdir(const char* path, mode_t mode) { return result(mkdirat(backing, below(path), mode)); }
static int fs_unlink(const char* path) { return result(unlinkat(backing, below(path), 0)); }
static int fs_rmdir(const char* path) { return result(unlinkat(backing, below(path), AT_REMOVEDIR)); }

static int fs_create(const char* path, mode_t mode, struct fuse_file_info* fi) {
  const int fd = openat(backing, below(path), fi->flags | O_NOFOLLOW, mode);
  if (fd < 0) return -errno;
  fi->fh = (uint64_t)fd;
  return 0;
}

static int fs_open(const char* path, struct fuse_file_info* fi) {
  const int fd = openat(backing, below(path), fi->flags | O_NOFOLLOW);
  if (fd < 0) return -errno;
  fi->fh = (uint64_t)fd;
  return 0;
}

static int fs_read(const char* path, char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
  (void)below(path);
  return result((int)pread((int)fi->fh, buf, size, off));
}

static int fs_write(const char* path, const char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
  (void)below(path);
  return result((int)pwrite((int)fi->fh, buf, size, off));
}

static int fs_release(const char* path, struct fuse_file_info* fi) {
  (void)below(path);
  return result(close((int)fi->fh));
}

static int fs_utimens(const char* path, const struct timespec tv[2], struct fuse_file_info* fi) {
  const char* p = below(path);
  if (fi != NULL) return result(futimens((int)fi->fh, tv));
  return result(utimensat(backing, p, tv, AT_SYMLINK_NOFOLLOW));
}

static int fs_chmod(const char* path, mode_t mode, struct fuse_file_info* fi) {
  const char* p = below(path);
  if (fi != NULL) return result(fchmod((int)fi->fh, mode));
  return result(fchmodat(backing, p, mode, 0));
}

static int fs_setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
  char full[4096];
  snprintf(full, sizeof full, "/proc/self/fd/%d/%s", backing, below(path));
  return result(lsetxattr(full, name, value, size, flags));
}

static int fs_opendir(const char* path, struct fuse_file_info* fi) {
  const int fd = openat(backing, below(path), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) return -errno;
  fi->fh = (uint64_t)fd;
  return 0;
}

static int fs_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t off, struct fuse_file_info* fi,
                      enum fuse_readdir_flags flags) {
  (void)off;
  (void)flags;
  (void)below(path);
  DIR* dir = fdopendir(dup((int)fi->fh));
  if (dir == NULL) return -errno;
  rewinddir(dir);
  for (struct dirent* e; (e = readdir(dir)) != NULL;) {
    if (fill(buf, e->d_name, NULL, 0, 0) != 0) break;
  }
  closedir(dir);
  return 0;
}

static int fs_releasedir(const char* path, struct fuse_file_info* fi) {
  (void)below(path);
  return result(close((int)fi->fh));
}

static const struct fuse_operations ops = {
    .getattr = fs_getattr,
    .mkdir = fs_mkdir,
    .unlink = fs_unlink,
    .rmdir = fs_rmdir,
    .create = fs_create,
    .open = fs_open,
    .read = fs_read,
    .write = fs_write,
    .release = fs_release,
    .utimens = fs_utimens,
    .chmod = fs_chmod,
    .setxattr = fs_setxattr,
    .opendir = fs_opendir,
    .readdir = fs_readdir,
    .releasedir = fs_releasedir,
};

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: delayfs BACKING MOUNTPOINT DELAY_US [fuse options]\n");
    return 2;
  }
  backing = open(argv[1], O_RDONLY | O_DIRECTORY);
  if (backing < 0) {
    perror(argv[1]);
    return 1;
  }
  delay_ns = atol(argv[3]) * 1000L;
  // fuse_main takes the mount point and the options; the backing directory
  // and the delay are ours.
  char* args[64];
  int n = 0;
  args[n++] = argv[0];
  args[n++] = argv[2];
  for (int i = 4; i < argc && n < 63; ++i) args[n++] = argv[i];
  args[n] = NULL;
  return fuse_main(n, args, &ops, NULL);
}
