#include "inspect/compare_writers.h"

#include <new>

// What one runner needs of its own: its lines, which wait for its batch's
// turn, and its comparison with its blocks.
struct CompareWriters::Context final : public LineTurn {
  Context(Platform& platform, BatchExecutor& executor)
      : out(platform, LineSink::kStandardOutput),
        err(platform, LineSink::kStandardError),
        lines(platform, out),
        work(platform, lines, err),
        executor_(executor) {
    lines.set_turn(this);
  }
  void wait_turn() override {
    if (turned) return;
    executor_.wait_finished(batch);
    turned = true;
  }

  BufferedLineWriter<16384> out;
  BufferedLineWriter<16384> err;
  CompareLines lines;
  FileCompare work;
  std::uint64_t batch = 0;
  bool turned = false;

 private:
  BatchExecutor& executor_;
};

CompareWriters::CompareWriters(Platform& platform, BatchExecutor* executor)
    : platform_(platform), threads_(platform), executor_(executor != nullptr ? executor : &threads_) {}

CompareWriters::~CompareWriters() {
  stop();
  for (Context* c : contexts_) delete c;
}

// Each runner's buffers are taken when the run starts; a runner that cannot
// have them is not started.
bool CompareWriters::start(int writers) {
  for (Context*& c : contexts_) {
    if (c == nullptr) c = new (std::nothrow) Context(platform_, *executor_);
    if (c == nullptr) return false;
  }
  started_ = executor_->start(queue_, *this, writers) > 0 || !executor_->on_threads();
  return started_;
}

void CompareWriters::stop() {
  if (!started_) return;
  wait_turn();
  executor_->stop();
  started_ = false;
}

CompareBatch& CompareWriters::room_for(std::uint32_t body_bytes, std::uint32_t name_units, std::uint32_t path_bytes) {
  std::uint64_t seq = queue_.handed_out();
  if (filling_ == seq && !batches_[seq % kBatchSlots].fits(body_bytes, name_units, path_bytes)) {
    submit();
    seq = queue_.handed_out();
  }
  CompareBatch& batch = batches_[seq % kBatchSlots];
  if (filling_ != seq) {
    if (seq >= kBatchSlots) executor_->wait_finished(seq - kBatchSlots + 1);
    batch.clear();
    filling_ = seq;
  }
  return batch;
}

void CompareWriters::added(CompareBatch& batch) {
  if (++batch.count == kCompareEntries) submit();
}

void CompareWriters::submit() {
  const std::uint64_t seq = queue_.handed_out();
  if (filling_ != seq || batches_[seq % kBatchSlots].count == 0) return;
  queue_.hand_out();
  executor_->handed_out();
  close_finished();
}

void CompareWriters::wait_turn() {
  submit();
  executor_->wait_finished(queue_.handed_out());
  close_finished();
}

// The batch being filled may hold files of the directory: it counts too.
void CompareWriters::close_later(Handle dir) {
  const std::uint64_t seq = queue_.handed_out();
  const bool filling = filling_ == seq && batches_[seq % kBatchSlots].count > 0;
  const std::uint64_t below = seq + (filling ? 1 : 0);
  if (queue_.finished_below() >= below) {
    platform_.close(dir);
    return;
  }
  if (later_count_ == kCompareDirsLater) {
    if (filling) submit();
    executor_->wait_finished(later_[later_first_].below);
    close_finished();
  }
  later_[(later_first_ + later_count_) % kCompareDirsLater] = Later{dir, below};
  ++later_count_;
}

void CompareWriters::close_finished() {
  while (later_count_ > 0 && queue_.finished_below() >= later_[later_first_].below) {
    platform_.close(later_[later_first_].dir);
    later_first_ = (later_first_ + 1) % kCompareDirsLater;
    --later_count_;
  }
}

void CompareWriters::run_batch(std::uint64_t seq, int index) {
  Context& ctx = *contexts_[index];
  const CompareBatch& batch = batches_[seq % kBatchSlots];
  ctx.batch = seq;
  ctx.turned = false;
  for (std::uint32_t i = 0; i < batch.count; ++i) ctx.work.compare(batch, batch.jobs[i]);
  queue_.finish(seq);
}

std::int64_t CompareWriters::differences() {
  std::int64_t n = 0;
  for (Context* c : contexts_) n += c != nullptr ? c->lines.differences() : 0;
  return n;
}
