#include "writers/writer_threads.h"

int WriterThreads::start(BatchQueue& queue, BatchRunner& runner, int writers) {
  queue_ = &queue;
  runner_ = &runner;
  if (writers > kMaxWriters) writers = kMaxWriters;
  // The reading thread takes the interruptions: the last words read its
  // buffers, which must stand still meanwhile.
  platform_.hold_interruptions(true);
  while (started_ < writers) {
    starts_[started_] = Start{this, started_};
    if (!platform_.start_thread(run_writer, &starts_[started_], &threads_[started_])) break;
    ++started_;
  }
  platform_.hold_interruptions(false);
  return started_;
}

void WriterThreads::run_writer(void* start) {
  const Start* s = static_cast<const Start*>(start);
  std::uint64_t seq;
  while (s->threads->queue_->take(&seq)) s->threads->runner_->run_batch(seq, s->index);
}

void WriterThreads::stop() {
  if (queue_ == nullptr) return;
  queue_->wait_finished(queue_->handed_out());
  queue_->stop();
  for (int i = 0; i < started_; ++i) platform_.join_thread(threads_[i]);
  started_ = 0;
}
