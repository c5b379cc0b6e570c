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

#include "dump_input.h"


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
