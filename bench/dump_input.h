/* The dump's three streams as the bench restore programs read them: nodes in
 * big blocks (whole records), names line by line turned into the file
 * system's UTF-8, and the content buffer each program serves bodies from.
 * Included by floor.c and experiments/uring_floor.c, so both read the input
 * alike. */
#ifndef BENCH_DUMP_INPUT_H
#define BENCH_DUMP_INPUT_H

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
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
/* Returns the name's length plus one, or 0 when the stream has ended. */
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
  return (int)out + 1;
}

static struct timespec unix_time(uint64_t filetime) {
  struct timespec t;
  t.tv_sec = (time_t)(filetime / 10000000u) - (time_t)EPOCH_GAP;
  t.tv_nsec = (long)(filetime % 10000000u) * 100;
  return t;
}

/* Opens BASE plus SUFFIX for reading; a stream that will not open ends the run. */
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

#endif
