#include "restore/file_work.h"

#include <chrono>
#include <thread>

#include "restore/entry_guard.h"
#include "restore/file_finish.h"

void WriterContext::wait_turn() {
  if (!turned) {
    executor_.wait_finished(batch);
    turned = true;
  }
  if (last_words_.open_line() || !executor_.on_threads()) return;
  // The process ends right after the last words; this line must not follow
  // them. Without threads (tests) the run goes on.
  last_words_.close_line();
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

Handle FileWork::create(const Batch& batch, const FileJob& job, std::uint64_t seq, BatchExecutor& executor,
                        Failure* why) {
  if (job.opened.valid()) return job.opened;
  HeldDir& dir = dirs_[job.dir];
  if (job.ticket != kNoTurn) {
    executor.wait_count(dir.created[job.lane], job.ticket, dir.waiting[job.lane], seq);
  }
  const Handle file = create_in_made_dir(platform_, dir.handle, batch.name_of(job), why);
  // Sequentially consistent with a waiter's own count of itself and look
  // at this count (BatchQueue::wait_count).
  dir.created[job.lane].fetch_add(1, std::memory_order_seq_cst);
  if (dir.waiting[job.lane].load(std::memory_order_seq_cst) != 0) executor.counted();
  return file;
}

void FileWork::finish(const Batch& batch, const FileJob& job, Handle file, const Failure& why, WriterContext& ctx) {
  const auto named = [&]() -> ErrorLog& { return name_job(batch, job, ctx); };
  if (!file.valid()) named().createfile_failed(job.attr, job.size, why);
  bool written = file.valid();
  std::uint64_t missing = job.missing;
  if (job.from != kBodyInBatch) {
    const auto step = [&](Handle to, std::uint64_t rest) {
      BodyStep s;
      s.want = rest < kCopyBlockBytes ? static_cast<std::uint32_t>(rest) : kCopyBlockBytes;
      s.moved = platform_.move_at(content_, job.from + (job.size - rest), to, ctx.block, s.want);
      return s;
    };
    missing = move_body(platform_, job.size, job.attr, file, &written, step, named);
    if (missing > 0) bytes_missing_.fetch_add(missing, std::memory_order_relaxed);
  } else if (written && job.size > job.missing &&
             !platform_.write(file, batch.body + job.body, static_cast<std::uint32_t>(job.size - job.missing))) {
    named().write_failed(job.attr, job.size, Failure::of_last_call(platform_));
    written = false;
  }
  finish_file(platform_, file, job.attr, job.size, job.creation, job.write, written, missing, named);
}

ErrorLog& FileWork::name_job(const Batch& batch, const FileJob& job, WriterContext& ctx) {
  batch.name_job(job, ctx.names.name(), ctx.paths);
  ctx.log.naming(job.record);
  return ctx.log;
}
