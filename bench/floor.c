/* floor BASEPATH TARGET: the least a restore of a dump can do.
 *
 * Reads the three streams in big sequential blocks and makes only the calls
 * the result needs: per file open(O_CREAT|O_EXCL), write, futimens, close;
 * per directory mkdir, chdir in and chdir "..". No directory times, no error
 * log, no progress line, no attribute call (a read-only file is created with
 * mode 0444). It is the yardstick for how fast a restore can go on this
 * machine, not a restorer: it stops at the first malformed input.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define BLOCK (1u << 20)
#define NAMES_BLOCK (1u << 16)
#define EPOCH_GAP 11644473600ull /* seconds from 1601 to 1970 */

static _Alignas(4096) unsigned char nodes[BLOCK];
static _Alignas(4096) unsigned char content[BLOCK];
static unsigned char names[NAMES_BLOCK];
static char name[4 * 65536];

static int nodes_fd, names_fd, content_fd;
static size_t nodes_fill, nodes_pos, names_fill, names_pos, content_fill, content_pos;

static size_t fill(int fd, unsigned char *buf, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, buf + got, size - got);
    if (n <= 0) break;
    got += (size_t)n;
    if (buf != nodes) break; /* only the node reader needs whole records */
  }
  return got;
}

static const unsigned char *next_node(void) {
  if (nodes_fill - nodes_pos < 32) {
    if (nodes_pos != nodes_fill) return NULL;
    nodes_fill = fill(nodes_fd, nodes, BLOCK);
    nodes_pos = 0;
    if (nodes_fill < 32) return NULL;
  }
  nodes_pos += 32;
  return nodes + nodes_pos - 32;
}

/* The next name line, turned from the dump's encoding (UTF-16 units in the
 * UTF-8 layout) into the file system's UTF-8: surrogate pairs become 4-byte
 * forms, U+DC80..U+DCFF the raw byte; everything else is already UTF-8. */
static int next_name(void) {
  size_t len = 0;
  for (;;) {
    if (names_pos >= names_fill) {
      names_fill = fill(names_fd, names, NAMES_BLOCK);
      names_pos = 0;
      if (names_fill == 0) return 0;
    }
    unsigned char b = names[names_pos++];
    if (b == '\n') break;
    name[len++] = (char)b;
  }
  name[len] = '\0';
  size_t out = 0;
  for (size_t i = 0; i < len;) {
    unsigned char b = (unsigned char)name[i];
    if (b == 0xED && i + 2 < len) {
      unsigned u = (unsigned)(b & 0x0F) << 12 | (unsigned)(name[i + 1] & 0x3F) << 6 | (name[i + 2] & 0x3F);
      unsigned lo = 0;
      if (i + 5 < len && (unsigned char)name[i + 3] == 0xED)
        lo = 0xD000 | (unsigned)(name[i + 4] & 0x3F) << 6 | (name[i + 5] & 0x3F);
      if (u >= 0xD800 && u < 0xDC00 && lo >= 0xDC00 && lo < 0xE000) {
        uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        name[out++] = (char)(0xF0 | cp >> 18);
        name[out++] = (char)(0x80 | (cp >> 12 & 0x3F));
        name[out++] = (char)(0x80 | (cp >> 6 & 0x3F));
        name[out++] = (char)(0x80 | (cp & 0x3F));
        i += 6;
        continue;
      }
      if (u >= 0xDC80 && u <= 0xDCFF) {
        name[out++] = (char)(u & 0xFF);
        i += 3;
        continue;
      }
    }
    name[out++] = name[i++];
  }
  name[out] = '\0';
  return 1;
}

static struct timespec unix_time(uint64_t filetime) {
  struct timespec t;
  t.tv_sec = (time_t)(filetime / 10000000u) - (time_t)EPOCH_GAP;
  t.tv_nsec = (long)(filetime % 10000000u) * 100;
  return t;
}

static void copy_body(int fd, uint64_t size) {
  while (size > 0) {
    if (content_pos == content_fill) {
      content_fill = fill(content_fd, content, BLOCK);
      content_pos = 0;
      if (content_fill == 0) return;
    }
    size_t n = content_fill - content_pos;
    if (n > size) n = (size_t)size;
    if (fd >= 0 && write(fd, content + content_pos, n) < 0) {}
    content_pos += n;
    size -= n;
  }
}

static int open_stream(const char *base, const char *suffix) {
  char path[8192];
  snprintf(path, sizeof path, "%s%s", base, suffix);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    perror(path);
    exit(1);
  }
  return fd;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: floor BASEPATH TARGET\n");
    return 2;
  }
  content_fd = open_stream(argv[1], "$content");
  names_fd = open_stream(argv[1], "$fsnames");
  nodes_fd = open_stream(argv[1], "$fsnodes");
  if (chdir(argv[2]) != 0) {
    perror(argv[2]);
    return 1;
  }
  unsigned depth = 0;
  const unsigned char *r;
  while ((r = next_node()) != NULL) {
    unsigned d = r[5];
    if (d > depth) {
      if (chdir(name) != 0) { perror(name); return 1; }
    } else {
      for (; depth > d; --depth)
        if (chdir("..") != 0) { perror(".."); return 1; }
    }
    depth = d;
    if (!next_name()) break;
    uint16_t attr = (uint16_t)(r[6] | r[7] << 8);
    if (attr & 0x10) {
      if (mkdir(name, 0777) != 0) { perror(name); return 1; }
      continue;
    }
    uint64_t size = 0, wt = 0;
    for (int i = 4; i >= 0; --i) size = size << 8 | r[i];
    for (int i = 23; i >= 16; --i) wt = wt << 8 | r[i];
    int fd = open(name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, (attr & 1) ? 0444 : 0666);
    if (fd < 0) perror(name);
    copy_body(fd, size);
    if (fd >= 0) {
      struct timespec times[2] = {unix_time(wt), unix_time(wt)};
      futimens(fd, times);
      close(fd);
    }
  }
  return 0;
}
