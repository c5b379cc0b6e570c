#include "restore/writer_pool.h"

#include <chrono>
#include <new>

#include "restore/entry_guard.h"

namespace {

// Copies a zero-terminated name.
void copy_name(const char16_t* from, char16_t* to) {
  while ((*to++ = *from++) != 0) {
  }
}

}  // namespace

// FNV-1a over the name's units, or where names fold over its ASCII
// characters that are not letters, in order. Names a file system takes for
// one keep those: case folding changes letters only, and canonical
// decomposition makes ASCII letters out of other characters but no digit or
// punctuation, except ';' (from U+037E) and '`' (from U+1FEF), which are
// left out.
std::uint32_t name_key(const char16_t* name, bool folds) {
  std::uint32_t hash = 2166136261u;
  for (const char16_t* p = name; *p != 0; ++p) {
    const char16_t c = *p;
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (!folds || (c < 0x80 && !letter && c != u';' && c != u'`')) hash = (hash ^ c) * 16777619u;
  }
  return hash;
}

void WriterContext::wait_turn() {
  if (!turned) {
    pool->wait_finished(batch);
    turned = true;
  }
  pool->hold_after_last_words();
}

WriterPool::WriterPool(Platform& platform)
    : platform_(platform), last_names_(platform), last_log_(platform, last_names_) {
  for (int i = 0; i <= kMaxWriters; ++i) {
    WriterContext* ctx = new (contexts_[i]) WriterContext(platform);
    ctx->pool = this;
    ctx->log.set_turn(ctx);
  }
}

WriterPool::~WriterPool() {
  stop();
  for (int i = 0; i <= kMaxWriters; ++i) context(i).~WriterContext();
}

// The other half of the handles is the walk's, as on one thread (its path,
// the streams, the log, a file). Of the writers' half, each writer's
// creation run takes at most a half's half (at least one file each), files
// the reading thread made for writers a quarter, and directories held the
// rest (at least one: past that the walk waits for files in flight, or
// keeps a file to itself).
int WriterPool::start(int writers, Handle log_file, Handle content, std::uint32_t handle_limit) {
  content_ = content;
  const std::uint32_t runs = writers > 0 ? static_cast<std::uint32_t>(writers) : 1;
  if (handle_limit != 0) {
    const std::uint32_t half = handle_limit / 2;
    const std::uint32_t per_writer = half / 2 / runs;
    create_run_ = per_writer < 1 ? 1 : per_writer < kCreateRun ? per_writer : kCreateRun;
    open_file_limit_ = half / 4 < 1 ? 1 : half / 4;
    const std::uint32_t used = runs * create_run_ + open_file_limit_;
    const std::uint32_t room = half > used ? half - used : 0;
    dir_limit_ = room < 1 ? 1 : room < kPendingDirs ? room : kPendingDirs;
  }
  for (int i = 0; i <= kMaxWriters; ++i) context(i).log.write_to(log_file);
  last_log_.write_to(log_file);
  // The reading thread takes the interruptions: the last words read its
  // buffers, which must stand still meanwhile.
  platform_.hold_interruptions(true);
  int started = 0;
  while (started < writers) {
    starts_[started] = Start{this, started};
    if (!platform_.start_thread(run_writer, &starts_[started], &threads_[started])) break;
    ++started;
  }
  platform_.hold_interruptions(false);
  writers_ = started;
  inline_ = writers == 0;
  return started;
}

void WriterPool::run_writer(void* start) {
  const Start* s = static_cast<const Start*>(start);
  s->pool->work(s->index);
}

void WriterPool::stop() {
  wait_turn();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  for (int i = 0; i < writers_; ++i) platform_.join_thread(threads_[i]);
  writers_ = 0;
}

Batch& WriterPool::current() {
  const std::uint64_t seq = submitted_;
  if (seq >= kBatchSlots) wait_finished(seq - kBatchSlots + 1);
  return batches_[seq % kBatchSlots];
}

bool WriterPool::fits(std::uint64_t held_bytes, std::uint64_t moved_bytes, std::uint32_t name_units,
                      std::uint32_t path_bytes) const {
  const Batch& b = batches_[submitted_ % kBatchSlots];
  return b.count < kBatchEntries && b.body_used + held_bytes <= kBatchBodyBytes &&
         (b.moved_bytes == 0 || b.moved_bytes + moved_bytes <= kBatchMovedBytes) &&
         b.name_used + name_units <= kBatchNameUnits && b.path_used + path_bytes <= kBatchPathBytes;
}

void WriterPool::report_losses(LossReport* losses) {
  for (int i = 0; i <= kMaxWriters; ++i) context(i).log.report_losses(losses, &context(i).paths);
}

void WriterPool::submit() {
  Batch& b = current();
  if (b.count == 0) return;
  b.handed.store(b.count);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++submitted_;
  }
  if (inline_) {
    // Several batches wait, then run newest first, as writers that took
    // them in turn might finish them.
    if (submitted_ - done_below_ >= 3) run_inline(submitted_);
    return;
  }
  work_.notify_one();
}

void WriterPool::wait_turn() {
  submit();
  wait_finished(submitted_);
}

void WriterPool::wait_finished(std::uint64_t below) {
  if (inline_) return run_inline(below);
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return done_below_ >= below; });
}

// The key's bit tells whether a name of that key may have been handed out
// before; only then can a creation meet an earlier one, and its lane goes in
// order. Each creation of a lane in order waits until as many of the lane
// are done as were handed out before it; no later one of the lane can be
// done first, as each waits for its own count, so those done are exactly
// the earlier ones, free or not.
void WriterPool::issue(std::int32_t dir, const char16_t* name, std::uint32_t* lane, std::uint32_t* ticket) {
  PendingDir& d = dirs_[dir];
  const KeyPlace at = place_of(d, name);
  *lane = at.lane;
  if ((d.keys[at.word] & at.mask) != 0) d.ordered |= std::uint64_t{1} << at.lane;
  d.keys[at.word] |= at.mask;
  *ticket = (d.ordered >> at.lane & 1) != 0 ? d.issued[at.lane] : kNoTurn;
  ++d.issued[at.lane];
}

WriterPool::KeyPlace WriterPool::place_of(const PendingDir& dir, const char16_t* name) {
  const std::uint32_t key = name_key(name, dir.folds);
  const std::uint32_t bit = (key / kLanes) % kKeyBits;
  return KeyPlace{key % kLanes, bit / 64, std::uint64_t{1} << (bit % 64)};
}

void WriterPool::wait_lane(std::int32_t dir, const char16_t* name) {
  const PendingDir& d = dirs_[dir];
  const KeyPlace at = place_of(d, name);
  if ((d.keys[at.word] & at.mask) == 0) return;
  const std::uint32_t lane = at.lane;
  const std::uint32_t issued = d.issued[lane];
  if (d.created[lane].load(std::memory_order_acquire) == issued) return;
  submit();
  wait_created(dir, lane, issued, submitted_);
}

// A creation takes the mutex only when someone waits for one.
void WriterPool::wait_created(std::int32_t dir, std::uint32_t lane, std::uint32_t ticket, std::uint64_t below) {
  const std::atomic<std::uint32_t>& created = dirs_[dir].created[lane];
  if (created.load() == ticket) return;
  if (inline_) return run_inline(below);
  std::atomic<std::uint32_t>& waiting = dirs_[dir].waiting[lane];
  waiting.fetch_add(1);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    created_.wait(lock, [&] { return created.load() == ticket; });
  }
  waiting.fetch_sub(1);
}

Handle WriterPool::create(const Batch& batch, const FileJob& job, std::uint64_t seq, Failure* why) {
  if (job.opened.valid()) return job.opened;
  PendingDir& dir = dirs_[job.dir];
  if (job.ticket != kNoTurn) wait_created(job.dir, job.lane, job.ticket, seq);
  const Handle file = create_in_made_dir(platform_, dir.handle, batch.names + job.name, why);
  dir.created[job.lane].fetch_add(1);
  if (dir.waiting[job.lane].load() != 0) {
    { std::lock_guard<std::mutex> lock(mutex_); }
    created_.notify_all();
  }
  return file;
}

void WriterPool::run_inline(std::uint64_t below) {
  for (std::uint64_t seq = below; seq > done_below_; --seq) {
    const std::uint32_t slot = (seq - 1) % kBatchSlots;
    if (done_[slot] || running_[slot]) continue;
    running_[slot] = true;
    // A batch may run inside another's creation: the outer job resumes.
    const FileJob* outer = running_job_;
    ++inline_depth_;
    run_batch(seq - 1, context(inline_depth_));
    --inline_depth_;
    running_job_ = outer;
  }
}

void WriterPool::work(int index) {
  WriterContext& ctx = context(index);
  for (;;) {
    std::uint64_t seq;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [&] { return taken_ < submitted_ || stopping_; });
      if (taken_ == submitted_) return;
      seq = taken_++;
    }
    run_batch(seq, ctx);
  }
}

// A directory is released as soon as its last file of the batch is
// finished, before that file counts as finished: so once the last words can
// name a later file, every directory the walk left before it has its times
// (consecutive files of one directory release it once).
void WriterPool::run_batch(std::uint64_t seq, WriterContext& ctx) {
  Batch& batch = batches_[seq % kBatchSlots];
  ctx.batch = seq;
  ctx.turned = false;
  Handle files[kCreateRun];
  Failure failures[kCreateRun];
  std::int32_t held = 0;  // files of the current job's directory since the last release
  for (std::uint32_t run = 0; run < batch.count; run += create_run_) {
    const std::uint32_t end = run + create_run_ < batch.count ? run + create_run_ : batch.count;
    for (std::uint32_t i = run; i < end; ++i) {
      const FileJob& job = batch.jobs[i];
      if (inline_) running_job_ = &job;
      failures[i - run] = Failure{};
      files[i - run] = create(batch, job, seq, &failures[i - run]);
    }
    for (std::uint32_t i = run; i < end; ++i) {
      const FileJob& job = batch.jobs[i];
      if (inline_) running_job_ = &job;
      run_job(batch, job, files[i - run], failures[i - run], ctx);
      if (job.opened.valid()) open_files_.fetch_sub(1, std::memory_order_relaxed);
      ++held;
      const bool last_of_dir = i + 1 == batch.count || batch.jobs[i + 1].dir != job.dir;
      if (last_of_dir && job.dir >= 0) {
        dirs_[job.dir].count.fetch_sub(held - 1, std::memory_order_acq_rel);
        release_dir(job.dir);
      }
      if (last_of_dir) held = 0;
      batch.finished.store(i + 1, std::memory_order_release);
    }
    if (inline_) running_job_ = nullptr;
  }
  files_done_.fetch_add(static_cast<std::int32_t>(batch.count), std::memory_order_relaxed);
  finish_batch(seq);
}

// As a sequential restore does it: the body, then word and times, then the
// close; a file not written whole keeps neither times nor word.
// The lines of a job come here, after the creations of its run, so they
// keep the order of the entries.
void WriterPool::run_job(const Batch& batch, const FileJob& job, Handle file, const Failure& why,
                         WriterContext& ctx) {
  const auto named = [&]() -> ErrorLog& { return name_job(batch, job, ctx); };
  if (!file.valid()) named().createfile_failed(job.attr, job.size, why);
  bool written = file.valid();
  std::uint64_t missing = job.missing;
  if (job.from != kBodyInBatch) {
    missing = move_body(batch, job, file, ctx, &written);
    if (missing > 0) bytes_missing_.fetch_add(missing, std::memory_order_relaxed);
  } else if (written && job.size > job.missing &&
             !platform_.write(file, batch.body + job.body, static_cast<std::uint32_t>(job.size - job.missing))) {
    named().write_failed(job.attr, job.size, Failure::of_last_call(platform_));
    written = false;
  }
  if (missing > 0) named().content_short(job.attr, job.size, missing);
  if (!file.valid()) return;
  if (written) {
    platform_.set_attr(file, job.attr);
    platform_.set_times(file, job.creation, job.write, job.write);
  }
  if (!platform_.close(file) && written) named().write_failed(job.attr, job.size, Failure::of_last_call(platform_));
}

ErrorLog& WriterPool::name_job(const Batch& batch, const FileJob& job, WriterContext& ctx) {
  copy_name(batch.names + job.name, ctx.names.name());
  ctx.paths.place_in(directory_of(batch, job), ctx.names.name());
  ctx.log.naming(job.record);
  return ctx.log;
}

EntryText WriterPool::directory_of(const Batch& batch, const FileJob& job) {
  return EntryText{batch.paths + job.path, job.path_length, job.path_cut ? kCutMark : ""};
}

// Block by block, as the walk moves a long body: after a failed write the
// rest is only read, so the content line tells what the stream lacked.
std::uint64_t WriterPool::move_body(const Batch& batch, const FileJob& job, Handle file, WriterContext& ctx,
                                    bool* written) {
  std::uint64_t done = 0;
  while (done < job.size) {
    const std::uint32_t want =
        job.size - done < kCopyBlockBytes ? static_cast<std::uint32_t>(job.size - done) : kCopyBlockBytes;
    const CopyResult moved =
        platform_.move_at(content_, job.from + done, *written ? file : Handle::none(), ctx.block, want);
    if (!moved.written) {
      const Failure why = Failure::of_last_call(platform_);
      name_job(batch, job, ctx).write_failed(job.attr, job.size, why);
      *written = false;
    }
    done += moved.taken;
    if (moved.taken != want) break;  // the stream ended inside the block
  }
  return job.size - done;
}

void WriterPool::finish_batch(std::uint64_t seq) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint32_t slot = seq % kBatchSlots;
    done_[slot] = true;
    running_[slot] = false;
    while (done_below_ < submitted_ && done_[done_below_ % kBatchSlots]) {
      Batch& b = batches_[done_below_ % kBatchSlots];
      b.count = b.body_used = b.name_used = 0;
      b.moved_bytes = 0;
      b.path_used = 0;
      b.path_serial = ~std::uint64_t{0};
      b.handed.store(0);
      b.finished.store(0);
      done_[done_below_ % kBatchSlots] = false;
      ++done_below_;
    }
  }
  if (!inline_) finished_.notify_all();
}

std::int32_t WriterPool::hold_dir(Handle dir, FileTime creation, FileTime write, bool folds) {
  if (dirs_held_.load(std::memory_order_acquire) >= dir_limit_) return -1;
  for (std::uint32_t tries = 0; tries < kPendingDirs; ++tries) {
    const std::uint32_t i = next_dir_;
    next_dir_ = (next_dir_ + 1) % kPendingDirs;
    PendingDir& d = dirs_[i];
    if (d.busy.load(std::memory_order_acquire)) continue;
    d.handle = dir;
    d.creation = creation;
    d.write = write;
    d.folds = folds;
    d.ordered = 0;
    for (std::uint64_t& word : d.keys) word = 0;
    for (std::uint32_t lane = 0; lane < kLanes; ++lane) {
      d.created[lane].store(0, std::memory_order_relaxed);
      d.waiting[lane].store(0, std::memory_order_relaxed);
      d.issued[lane] = 0;
    }
    d.count.store(1, std::memory_order_relaxed);  // the walk's own hold
    d.busy.store(true, std::memory_order_relaxed);
    dirs_held_.fetch_add(1, std::memory_order_relaxed);
    return static_cast<std::int32_t>(i);
  }
  return -1;
}

void WriterPool::release_dir(std::int32_t dir) {
  PendingDir& d = dirs_[dir];
  if (d.count.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  platform_.set_times(d.handle, d.creation, d.write, d.write);
  platform_.close(d.handle);
  d.busy.store(false, std::memory_order_release);
  dirs_held_.fetch_sub(1, std::memory_order_release);
}

// Batches hold files in the dump's order and finish their jobs in order:
// the first batch with a job not finished holds the first file not
// finished; when every batch handed out is finished, the batch the reading
// thread was filling does. A batch may finish while it is read; its count
// is read before its progress, so it then counts as finished or names a
// file before the first one not finished, never one after it.
bool WriterPool::say_interrupted() {
  speaking_.store(true);
  const std::uint64_t handed_out = submitted_.load();
  for (std::uint64_t seq = done_below_.load(); seq < handed_out; ++seq) {
    const Batch& b = batches_[seq % kBatchSlots];
    const std::uint32_t handed = b.handed.load();
    const std::uint32_t finished = b.finished.load();
    if (finished < handed) return say_interrupted_in(b, finished);
  }
  const Batch& filling = batches_[handed_out % kBatchSlots];
  return filling.count > 0 && say_interrupted_in(filling, 0);
}

bool WriterPool::say_interrupted_in(const Batch& batch, std::uint32_t job) {
  copy_name(batch.names + batch.jobs[job].name, last_names_.name());
  last_paths_.place_in(directory_of(batch, batch.jobs[job]), last_names_.name());
  last_log_.interrupted_in_file(batch.jobs[job].attr, batch.jobs[job].size);
  return true;
}

// The process ends right after its last words; a writer must not add a line
// behind them meanwhile. Without threads the run goes on (tests).
void WriterPool::hold_after_last_words() {
  if (inline_ || !speaking_.load()) return;
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

const ErrorLog* WriterPool::incomplete_log() {
  for (int i = 0; i <= kMaxWriters; ++i) {
    if (context(i).log.incomplete()) return &context(i).log;
  }
  return nullptr;
}

std::uint64_t WriterPool::entry_lines() {
  std::uint64_t lines = 0;
  for (int i = 0; i <= kMaxWriters; ++i) lines += context(i).log.entry_lines();
  return lines;
}
