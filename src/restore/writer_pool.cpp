#include "restore/writer_pool.h"

#include <new>

WriterPool::WriterPool(Platform& platform, BatchExecutor* executor)
    : platform_(platform),
      threads_(platform),
      executor_(executor != nullptr ? executor : &threads_),
      dirs_(platform),
      work_(platform, dirs_),
      last_words_(platform) {
  for (int i = 0; i < kWriterContexts; ++i) {
    WriterContext* ctx = new (contexts_[i]) WriterContext(platform, *executor_, last_words_);
    ctx->log.set_turn(ctx);
  }
}

WriterPool::~WriterPool() {
  stop();
  for (int i = 0; i < kWriterContexts; ++i) context(i).~WriterContext();
}

// The other half of the handles is the walk's, as on one thread (its path,
// the streams, the log, a file). Of the writers' half, each writer's
// creation run takes at most a half's half (at least one file each), files
// the reading thread made for writers a quarter, and directories held the
// rest (at least one: past that the walk waits for files in flight, or
// keeps a file to itself).
int WriterPool::start(int writers, Handle log_file, Handle content, std::uint32_t handle_limit) {
  work_.read_bodies_from(content);
  const std::uint32_t runs = writers > 0 ? static_cast<std::uint32_t>(writers) : 1;
  if (handle_limit != 0) {
    const std::uint32_t half = handle_limit / 2;
    const std::uint32_t per_writer = half / 2 / runs;
    create_run_ = per_writer < 1 ? 1 : per_writer < kCreateRun ? per_writer : kCreateRun;
    open_file_limit_ = half / 4 < 1 ? 1 : half / 4;
    const std::uint32_t used = runs * create_run_ + open_file_limit_;
    dirs_.limit_to(half > used ? half - used : 0);
  }
  for (int i = 0; i < kWriterContexts; ++i) context(i).log.write_to(log_file);
  last_words_.write_to(log_file);
  writers_ = executor_->start(queue_, *this, writers);
  started_ = true;
  return writers_;
}

void WriterPool::stop() {
  if (!started_) return;
  wait_turn();
  executor_->stop();
  writers_ = 0;
}

Batch& WriterPool::current() {
  const std::uint64_t seq = queue_.handed_out();
  Batch& batch = batches_[seq % kBatchSlots];
  if (filling_.load(std::memory_order_relaxed) != seq) {
    if (seq >= kBatchSlots) executor_->wait_finished(seq - kBatchSlots + 1);
    batch.clear();
    filling_.store(seq, std::memory_order_release);
  }
  return batch;
}

bool WriterPool::fits(std::uint64_t held_bytes, std::uint64_t moved_bytes, std::uint32_t name_units,
                      std::uint32_t path_bytes) const {
  const Batch& b = batches_[queue_.handed_out() % kBatchSlots];
  return b.count < kBatchEntries && b.body_used + held_bytes <= kBatchBodyBytes &&
         (b.moved_bytes == 0 || b.moved_bytes + moved_bytes <= kBatchMovedBytes) &&
         b.name_used + name_units <= kBatchNameUnits && b.path_used + path_bytes <= kBatchPathBytes;
}

void WriterPool::report_losses(LossReport* losses) {
  for (int i = 0; i < kWriterContexts; ++i) context(i).log.report_losses(losses, &context(i).paths);
}

void WriterPool::submit() {
  Batch& b = current();
  if (b.count == 0) return;
  b.handed.store(b.count, std::memory_order_release);
  queue_.hand_out();
  executor_->handed_out();
}

void WriterPool::wait_turn() {
  submit();
  executor_->wait_finished(queue_.handed_out());
}

void WriterPool::wait_lane(std::int32_t dir, const char16_t* name) {
  HeldDir& d = dirs_[dir];
  NameTurn wait;
  if (!d.order.may_meet(name, &wait)) return;
  if (d.created[wait.lane].load(std::memory_order_acquire) == wait.ticket) return;
  submit();
  executor_->wait_count(d.created[wait.lane], wait.ticket, d.waiting[wait.lane], queue_.handed_out());
}

// A directory is released as soon as its last file of the batch is
// finished, before that file counts as finished: so once the last words can
// name a later file, every directory the walk left before it has its times
// (consecutive files of one directory release it once).
void WriterPool::run_batch(std::uint64_t seq, int index) {
  Batch& batch = batches_[seq % kBatchSlots];
  WriterContext& ctx = context(index);
  ctx.batch = seq;
  ctx.turned = false;
  Handle files[kCreateRun];
  Failure failures[kCreateRun];
  std::int32_t held = 0;  // files of the current job's directory since the last release
  for (std::uint32_t run = 0; run < batch.count; run += create_run_) {
    const std::uint32_t end = run + create_run_ < batch.count ? run + create_run_ : batch.count;
    for (std::uint32_t i = run; i < end; ++i) {
      const FileJob& job = batch.jobs[i];
      ctx.job = &job;
      failures[i - run] = Failure{};
      files[i - run] = work_.create(batch, job, seq, *executor_, &failures[i - run]);
    }
    // The lines of a job come after the creations of its run, in the
    // order of the entries.
    for (std::uint32_t i = run; i < end; ++i) {
      const FileJob& job = batch.jobs[i];
      ctx.job = &job;
      work_.finish(batch, job, files[i - run], failures[i - run], ctx);
      if (job.opened.valid()) open_files_.fetch_sub(1, std::memory_order_relaxed);
      ++held;
      const bool last_of_dir = i + 1 == batch.count || batch.jobs[i + 1].dir != job.dir;
      if (last_of_dir && job.dir >= 0) dirs_.release(job.dir, held);
      if (last_of_dir) held = 0;
      batch.finished.store(i + 1, std::memory_order_release);
    }
    ctx.job = nullptr;
  }
  files_done_.fetch_add(static_cast<std::int32_t>(batch.count), std::memory_order_relaxed);
  queue_.finish(seq);
}

bool WriterPool::say_interrupted() {
  return last_words_.say(queue_, batches_, filling_.load(std::memory_order_acquire), executor_->on_threads());
}

const ErrorLog* WriterPool::incomplete_log() {
  for (int i = 0; i < kWriterContexts; ++i) {
    if (context(i).log.incomplete()) return &context(i).log;
  }
  return nullptr;
}

std::uint64_t WriterPool::entry_lines() {
  std::uint64_t lines = 0;
  for (int i = 0; i < kWriterContexts; ++i) lines += context(i).log.entry_lines();
  return lines;
}
