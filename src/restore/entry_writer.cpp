#include "restore/entry_writer.h"

#include <cstring>

#include "restore/file_finish.h"

void EntryWriter::restore_entry(const FsNode& node, RecordsAhead next) {
  if (node.is_directory()) {
    restore_directory(node);
  } else {
    restore_file(node, next);
  }
  // Nothing read ahead of the node stream: the next record may have to be
  // waited for (a pipe), so what was read goes to the writers now.
  if (pool_ != nullptr && next.count == 0) submit_batch();
}

void EntryWriter::submit_batch() {
  pool_->submit();
  count_finished();
}

void EntryWriter::finish_batches() {
  pool_->wait_turn();
  count_finished();
}

// Files handed out count once they are finished, and the bytes a writer
// found missing from the stream are no longer counted as read.
void EntryWriter::count_finished() {
  const std::int32_t finished = pool_->files_finished();
  counters_.files_in_flight -= finished - counted_finished_;
  counted_finished_ = finished;
  const std::uint64_t missing = pool_->bytes_missing();
  counters_.outbytes -= missing - counted_short_;
  counted_short_ = missing;
}

bool EntryWriter::for_writers(const FsNode& node, const EntryPlace& at) {
  if (pool_ == nullptr || !at.made_by_run) return false;
  if (!writer_moves_body(node) && node.size > kBatchBodyBytes) return false;
  return !guard_.refuses(name_reader_.name()) && cursor_.hold_for_writers();
}

void EntryWriter::hand_over(const FsNode& node, RecordsAhead next, Handle opened) {
  const char16_t* name = name_reader_.name();
  std::uint32_t lane = 0, ticket = kNoTurn;
  const std::int32_t dir = opened.valid() ? -1 : cursor_.hand_child(name, true, &lane, &ticket);
  std::uint32_t units = 1;
  while (name[units - 1] != 0) ++units;
  const bool at_offset = writer_moves_body(node);
  // Files of one directory share its path in the batch.
  const std::uint64_t serial = paths_ != nullptr ? paths_->directory_serial(node.depth) : 0;
  const EntryText dir_path = paths_ != nullptr ? paths_->directory(node.depth) : EntryText{};
  Batch* filling = &pool_->current();
  const std::uint32_t path_bytes = filling->path_serial == serial ? 0 : dir_path.length;
  if (!pool_->fits(at_offset ? 0 : node.size, at_offset ? node.size : 0, units, path_bytes)) {
    submit_batch();
    filling = &pool_->current();
  }
  Batch& batch = *filling;
  if (batch.path_serial != serial) {
    std::memcpy(batch.paths + batch.path_used, dir_path.bytes, dir_path.length);
    batch.path_serial = serial;
    batch.path_used += dir_path.length;
  }
  std::uint8_t* to = batch.body + batch.body_used;
  std::uint64_t remaining = node.size;
  const std::uint64_t from = at_offset ? ahead_.offset() : kBodyInBatch;
  if (at_offset) {
    ahead_.pass(node.size);
    counters_.outbytes += node.size;
    batch.moved_bytes += node.size;
    remaining = 0;
  }
  while (remaining > 0) {
    if (ahead_.held() == 0 && !ahead_.refill(static_cast<std::uint32_t>(remaining), next)) break;
    const std::uint32_t got = ahead_.held() < remaining ? ahead_.held() : static_cast<std::uint32_t>(remaining);
    std::memcpy(to, ahead_.data(), got);
    ahead_.take(got);
    to += got;
    remaining -= got;
    counters_.outbytes += got;
  }
  ++counters_.files_in_flight;
  if (opened.valid()) pool_->count_open_file();
  // Counted once whole: the last words may read the batch at any point.
  FileJob& job = batch.jobs[batch.count];
  job.lane = static_cast<std::uint8_t>(lane);
  job.ticket = ticket;
  job.dir = dir;
  job.attr = node.attr;
  job.creation = node.creation_time;
  job.write = node.write_time;
  job.size = node.size;
  job.missing = remaining;
  job.from = from;
  job.opened = opened;
  job.body = batch.body_used;
  job.name = batch.name_used;
  job.record = static_cast<std::uint32_t>(counters_.dirs + counters_.files - 1);
  job.path = batch.path_used - dir_path.length;
  job.path_length = dir_path.length;
  job.path_cut = dir_path.tail[0] != 0;
  std::memcpy(batch.names + batch.name_used, name, units * sizeof(char16_t));
  batch.body_used += static_cast<std::uint32_t>(node.size - remaining);
  batch.name_used += units;
  ++batch.count;
  if (batch.count == kBatchEntries) submit_batch();
}

void EntryWriter::pass_over(const FsNode& node, RecordsAhead next) {
  ++passed_;
  if (node.is_directory()) {
    ++counters_.dirs;
  } else {
    ++counters_.files;
    copy_body(node, Handle::none(), next);
  }
}

// Attributes first, times last: the handle is held by the cursor and the
// times are set when everything inside the directory is written. An
// existing directory is reused with its attributes as they are (with
// --resume it takes the record's, which a cut run may not have set), and
// takes the record's times after its contents, as a new one does. Every directory
// record that leaves no directory of its name gets a line; one that exists
// but could not be opened gets the cursor's line when it is entered.
void EntryWriter::restore_directory(const FsNode& node) {
  ++counters_.dirs;
  if (cursor_.skipping()) return;
  const EntryPlace at = cursor_.entry_place();
  if (pool_ != nullptr) cursor_.wait_for_lane(name_reader_.name());
  Handle dir = guard_.make_dir(at, name_reader_.name());
  const bool made = dir.valid();
  if (!made && guard_.failure().name_exists) dir = guard_.reuse_dir(at, name_reader_.name());
  if (!dir.valid()) {
    const Failure& why = guard_.failure();
    if (!why.dir_exists) log_.mkdir_failed(node.attr, why);
    cursor_.hold_failure(node.depth, why);
    return;
  }
  if (made || keep_whole_) platform_.set_attr(dir, node.attr);
  cursor_.hold_directory(node.depth, dir, made, node.creation_time, node.write_time);
}

// Attributes, then times, then close, all through the handle, which was
// opened for writing before the word could make the file read-only: nothing
// is looked up by name again, and a file with the record's time has its
// word too (--resume keeps such a file). A file that could not be written
// whole keeps neither times nor attributes, so it never passes for a
// complete one.
void EntryWriter::restore_file(const FsNode& node, RecordsAhead next) {
  ++counters_.files;
  Handle file;
  if (keep_whole_ && !cursor_.skipping() && guard_.keeps(cursor_.entry_place(), name_reader_.name(), node)) {
    ++skipped_;
    // Passed over unread where the stream is read at offsets.
    if (ahead_.pass_unread(node.size)) {
      counters_.outbytes += node.size;
    } else {
      copy_body(node, file, next);
    }
    return;
  }
  if (!cursor_.skipping()) {
    const EntryPlace at = cursor_.entry_place();
    // In a directory this run made, a writer creates it. Elsewhere the
    // rules for existing entries apply, and the file is restored here.
    if (for_writers(node, at)) return hand_over(node, next);
    if (pool_ != nullptr) {
      // The files handed out go to the writers before this one's body may
      // hold the reading thread up (a pipe): none waits behind it.
      submit_batch();
      cursor_.wait_for_lane(name_reader_.name());
    }
    file = guard_.create_file(at, name_reader_.name());
    if (!file.valid()) log_.createfile_failed(node.attr, node.size, guard_.failure());
    // Made here; a long body a writer can move from its offset moves there.
    if (file.valid() && pool_ != nullptr && writer_moves_body(node) && pool_->may_hand_open_file()) {
      return hand_over(node, next, file);
    }
  }
  copy_body(node, file, next);
}

// From the read-ahead while it holds bytes, a long rest straight from the
// stream; then word, times and close as the writers finish a file.
void EntryWriter::copy_body(const FsNode& node, Handle file, RecordsAhead next) {
  const auto step = [&](Handle to, std::uint64_t rest) {
    BodyStep s;
    if (ahead_.held() == 0 && rest >= kStraightCopyBytes) {
      s.want = rest < kCopyBlockBytes ? static_cast<std::uint32_t>(rest) : kCopyBlockBytes;
      s.moved = ahead_.move(to, s.want);
    } else if (ahead_.held() == 0 && !ahead_.refill(static_cast<std::uint32_t>(rest), next)) {
      s.want = 1;  // the stream ended
      s.moved = CopyResult{0, true};
    } else {
      s.want = ahead_.held() < rest ? ahead_.held() : static_cast<std::uint32_t>(rest);
      s.moved = CopyResult{s.want, !to.valid() || platform_.write(to, ahead_.data(), s.want)};
      ahead_.take(s.want);
    }
    counters_.outbytes += s.moved.taken;
    return s;
  };
  const auto named = [&]() -> ErrorLog& { return log_; };
  bool written = file.valid();
  const std::uint64_t missing = move_body(platform_, node.size, node.attr, file, &written, step, named);
  finish_file(platform_, file, node.attr, node.size, node.creation_time, node.write_time, written, missing, named);
}
