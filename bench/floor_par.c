/* floor_par BASEPATH TARGET THREADS: the least a restore with THREADS writer
 * threads can do, the yardstick for fsrestore -j.
 *
 * The main thread reads the node and name streams as floor does, makes each
 * directory (mkdirat, then opened and kept) and queues the files, 64 to a
 * batch, with their directory, name, body offset and size. Writers take
 * whole batches and, per file, openat(O_CREAT|O_EXCL), pread the body from
 * "$content" at its offset (in 1 MiB pieces) and write it, futimens, close.
 * No directory times, no log, no attributes. "$content" must be a regular
 * file. Stops at the first malformed input.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dump_input.h"

enum { PER_BATCH = 64, QUEUE = 32, MAX_THREADS = 64, PIECE = 1 << 20 };

struct job {
  int dir;
  uint16_t attr;
  uint64_t offset, size, write_time;
  char name[256];
};
struct batch {
  int count;
  struct job jobs[PER_BATCH];
};

static struct batch queue[QUEUE];
static unsigned queued, taken;
static int finished;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t work = PTHREAD_COND_INITIALIZER, room = PTHREAD_COND_INITIALIZER;

static void restore_file(const struct job *j, char *buffer) {
  int fd = openat(j->dir, j->name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, (j->attr & 1) ? 0444 : 0666);
  if (fd < 0) {
    perror(j->name);
    return;
  }
  for (uint64_t done = 0; done < j->size;) {
    size_t want = j->size - done < PIECE ? (size_t)(j->size - done) : PIECE;
    ssize_t got = pread(content_fd, buffer, want, (off_t)(j->offset + done));
    if (got <= 0 || write(fd, buffer, (size_t)got) != got) break;
    done += (uint64_t)got;
  }
  struct timespec times[2] = {unix_time(j->write_time), unix_time(j->write_time)};
  futimens(fd, times);
  close(fd);
}

static void *writer(void *unused) {
  (void)unused;
  static __thread char buffer[PIECE];
  for (;;) {
    pthread_mutex_lock(&lock);
    while (taken == queued && !finished) pthread_cond_wait(&work, &lock);
    if (taken == queued) {
      pthread_mutex_unlock(&lock);
      return NULL;
    }
    /* Taken out of the queue at once, so its slot is free again. */
    static __thread struct batch mine;
    mine = queue[taken % QUEUE];
    taken++;
    pthread_cond_broadcast(&room);
    pthread_mutex_unlock(&lock);
    for (int i = 0; i < mine.count; ++i) restore_file(&mine.jobs[i], buffer);
  }
}

/* Hands out the batch being filled; waits while the queue is full. */
static unsigned filling;
static void hand_out(void) {
  pthread_mutex_lock(&lock);
  queued++;
  pthread_cond_signal(&work);
  while (queued - taken >= QUEUE - 1) pthread_cond_wait(&room, &lock);
  filling = queued;
  queue[filling % QUEUE].count = 0;
  pthread_mutex_unlock(&lock);
}

int main(int argc, char **argv) {
  (void)content; (void)content_fill; (void)content_pos;  /* floor's streaming copy, unused here */
  if (argc != 4) {
    fprintf(stderr, "usage: floor_par BASEPATH TARGET THREADS\n");
    return 2;
  }
  int threads = atoi(argv[3]);
  if (threads < 1 || threads > MAX_THREADS) return 2;
  content_fd = open_stream(argv[1], "$content");
  names_fd = open_stream(argv[1], "$fsnames");
  nodes_fd = open_stream(argv[1], "$fsnodes");
  int dirs[257];
  dirs[0] = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirs[0] < 0) {
    perror(argv[2]);
    return 1;
  }
  pthread_t ids[MAX_THREADS];
  for (int i = 0; i < threads; ++i) pthread_create(&ids[i], NULL, writer, NULL);
  uint64_t offset = 0;
  const unsigned char *r;
  while ((r = next_node()) != NULL && next_name()) {
    unsigned depth = r[5];
    uint16_t attr = (uint16_t)(r[6] | r[7] << 8);
    int dir = dirs[depth];
    if (attr & 0x10) {
      if (mkdirat(dir, name, 0777) != 0 ||
          (dirs[depth + 1] = openat(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
        perror(name);
        return 1;
      }
      continue;
    }
    struct batch *b = &queue[filling % QUEUE];
    struct job *j = &b->jobs[b->count++];
    j->dir = dir;
    j->attr = attr;
    j->offset = offset;
    j->size = 0;
    for (int i = 4; i >= 0; --i) j->size = j->size << 8 | r[i];
    j->write_time = 0;
    for (int i = 23; i >= 16; --i) j->write_time = j->write_time << 8 | r[i];
    snprintf(j->name, sizeof j->name, "%s", name);
    offset += j->size;
    if (b->count == PER_BATCH) hand_out();
  }
  if (queue[filling % QUEUE].count > 0) hand_out();
  pthread_mutex_lock(&lock);
  finished = 1;
  pthread_cond_broadcast(&work);
  pthread_mutex_unlock(&lock);
  for (int i = 0; i < threads; ++i) pthread_join(ids[i], NULL);
  return 0;
}
