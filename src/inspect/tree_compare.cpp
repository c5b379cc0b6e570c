#include "inspect/tree_compare.h"

#include <cstring>
#include <new>
#include <initializer_list>
#include <string>

#include "inspect/dump_report.h"
#include "platform/file_attributes.h"
#include "report/exit_status.h"
#include "report/failure.h"
#include "report/iso_time.h"
#include "report/name_text.h"
#include "report/open_failure.h"
#include "target/target_dir.h"

namespace {

}  // namespace

// Writers are taken only where they can start; without them (or their
// memory) the comparison runs here, with the same output.
int TreeCompare::run(int base_arg, int target_arg, int writers) {
  if (!walk_.open(base_arg)) return kExitStartFailed;
  level_[0] = enter_target(platform_, target_arg, Handle::none(), err_, name_);
  if (!level_[0].valid()) return kExitStartFailed;
  folds_[0] = Folds::kUnknown;
  CompareWriters* pool = pool_;
  pool_ = nullptr;
  if (pool == nullptr && writers > 1) {
    static CompareWriters* own = new (std::nothrow) CompareWriters(platform_);
    pool = own;
  }
  if (pool != nullptr && writers > 1 && pool->start(writers)) {
    pool_ = pool;
    lines_.set_turn(pool_);
  }
  compare_records();
  leave_below(0);
  report_extras(0);
  if (pool_ != nullptr) pool_->stop();
  const std::int64_t differences = lines_.differences() + (pool_ != nullptr ? pool_->differences() : 0);
  out_.text("entries=").decimal(entries_).text(" refused=").decimal(refused_);
  out_.text(" differences=").decimal(differences).end_line();
  platform_.console_flush();
  return differences > 0 ? kExitDumpProblems : kExitDone;
}

// The dump is read as the restore reads it: where its names run out, the
// restore stops, and so does the comparison. Faults of the dump are told on
// standard error as --list tells them.
void TreeCompare::compare_records() {
  while (walk_.next_record()) {
    leave_below(walk_.node().depth);
    if (!walk_.next_name()) {
      err_turn();
      report_names_stop(platform_, walk_, err_);
      return;
    }
    walk_.locate(true);
    ++entries_;
    compare_record();
  }
  err_turn();
  if (walk_.nodes_failed()) report_nodes_failed(platform_, err_);
  if (walk_.stray_bytes() > 0) nodes_stray_line(err_, walk_.stray_bytes());
}

void TreeCompare::compare_record() {
  const FsNode& node = walk_.node();
  const int depth = node.depth;
  const bool out_of_order = walk_.depth_fault() != DepthFault::kNone;
  const bool invalid = walk_.name_refused();
  const Collision collision = walk_.collision(invalid || out_of_order);
  if (collision == Collision::kNotChecked) names_lost_[depth] = true;
  // Only the directories that are compared are held: a record outside them,
  // or out of the tree's order, is not restored where it could be looked at.
  const Handle holder = out_of_order || depth > deepest_ ? Handle::none() : level_[depth];
  if (out_of_order) {
    err_turn();
    report_depth_fault(walk_, err_);
  }
  if (!holder.valid()) return skip_body();
  const bool meets_earlier = collision == Collision::kSameName || (collision == Collision::kCaseOnly && folds(depth));
  if (invalid || meets_earlier) {
    refused(Failure::refused(invalid ? Refusal::kInvalidName : Refusal::kMadeThisRun));
    return skip_body();
  }
  if (node.is_directory()) {
    compare_directory(holder);
  } else {
    compare_file(holder);
  }
}

// Looked at by name first: for most directories that look and the open
// that enters them are all it takes. Where the system cannot show the entry
// as itself by its name (Wine, deep down), the open handle still tells what
// it is.
void TreeCompare::compare_directory(Handle holder) {
  const FsNode& node = walk_.node();
  const int depth = node.depth;
  EntryInfo info;
  const bool looked = platform_.inspect(holder, walk_.name(), &info) && info.shown_as_itself;
  if (looked && info.kind != EntryKind::kDirectory) return not_there(info.kind);
  if (looked && meets_earlier_entry(info)) return;
  Failure why;
  const Handle dir = gate_.open_dir(holder, walk_.name(), &why);
  if (!dir.valid()) return directory_not_opened(holder, why);
  EntryState disk = EntryState::of(info);
  bool described = true;
  if (!looked || word_to_compare_open(node, disk, info.attributes_told)) {
    OpenState open;
    described = platform_.describe_open(dir, &open);
    if (described) disk = EntryState::of(open);
    if (!described) unreadable();
  }
  if (described) lines_.state(walk_.path(), node, disk, record_differences(node, disk));
  level_[depth + 1] = dir;
  names_lost_[depth + 1] = false;
  folds_[depth + 1] = Folds::kUnknown;
  deepest_ = depth + 1;
}

void TreeCompare::directory_not_opened(Handle holder, const Failure& why) {
  // A link the system followed: what it leads to is neither listed nor
  // read. Where the system cannot tell, nothing is read either.
  if (why.refusal == Refusal::kNotShown && why.cannot_tell) return unreadable(why);
  if (why.refusal == Refusal::kNotShown) return lines_.link_on_disk(walk_.path(), true);
  EntryInfo info;
  if (platform_.inspect(holder, walk_.name(), &info) && info.kind != EntryKind::kDirectory) {
    return not_there(info.kind);
  }
  unreadable(why);
}

// Where the restore tells a later name by the identity of what it finds
// there, so does the comparison: an entry an earlier record of this
// directory reached, in a directory that folds names, was reached by a name
// the file system takes for the earlier one (a case or normalization the
// dump's own check does not see). A file with other names is no restore's.
bool TreeCompare::meets_earlier_entry(const EntryInfo& info) {
  const int depth = walk_.node().depth;
  const bool one_name = info.kind == EntryKind::kDirectory || info.links == 1;
  if (one_name && !met_.lost(depth) && met_.contains(depth, info.identity) && folds(depth)) {
    refused(Failure::refused(Refusal::kMadeThisRun));
    skip_body();
    return true;
  }
  met_.add(depth, info.identity);
  return false;
}

// Missing, or of another kind than the record's; its body is read past.
void TreeCompare::not_there(EntryKind kind) {
  lines_.not_there(walk_.path(), walk_.node().is_directory(), kind);
  skip_body();
}

// One look by name tells the kind, size, time and, for most records, the
// word; the file is opened only to read its body or a word the look cannot
// tell, so an empty file or one of another size costs the look alone.
void TreeCompare::compare_file(Handle holder) {
  const FsNode& node = walk_.node();
  // Where no other name can reach the file (a directory that keeps names
  // apart), everything about it, the look included, is the writers' work;
  // elsewhere the look here first tells an entry an earlier name reached.
  if (node.size <= kCompareBodyBytes && !folds(node.depth)) return hand_over(holder, nullptr);
  EntryInfo info;
  if (!platform_.inspect(holder, walk_.name(), &info)) {
    unreadable();
    return skip_body();
  }
  if (info.kind != EntryKind::kFile) return not_there(info.kind);
  if (meets_earlier_entry(info)) return;
  if (node.size <= kCompareBodyBytes) return hand_over(holder, &info);
  // A body no batch carries is compared here, from the stream in order.
  EntryState disk = EntryState::of(info);
  const bool read_word = word_to_compare_open(node, disk, info.attributes_told);
  const bool read_body = (record_differences(node, disk) & kSizeDiffers) == 0;
  Handle file;
  if (read_word || read_body || !info.shown_as_itself) {
    Failure why;
    file = gate_.open_file(holder, walk_.name(), &why);
    if (!file.valid()) {
      if (why.refusal == Refusal::kNotShown && !why.cannot_tell) {
        lines_.link_on_disk(walk_.path(), false);
      } else {
        unreadable(why);
      }
      return skip_body();
    }
    OpenState open;
    if (read_word && !platform_.describe_open(file, &open)) {
      unreadable();
      platform_.close(file);
      return skip_body();
    }
    if (read_word) disk = EntryState::of(open);
  }
  const std::uint8_t differs = record_differences(node, disk);
  if ((differs & kSizeDiffers) != 0) {
    LineWriter& w = line("size").text(": ").decimal(static_cast<std::int64_t>(node.size));
    difference(w.text(" in the dump, ").decimal(static_cast<std::int64_t>(disk.size)).text(" on disk"));
    skip_body();
  } else {
    compare_body(file);
  }
  lines_.state(walk_.path(), node, disk, differs);
  platform_.close(file);
}

void TreeCompare::hand_over(Handle holder, const EntryInfo* looked) {
  const FsNode& node = walk_.node();
  const char16_t* name = walk_.name();
  std::uint32_t units = 1;
  while (name[units - 1] != 0) ++units;
  const EntryText path = walk_.path();
  const std::uint32_t size = static_cast<std::uint32_t>(node.size);
  CompareBatch& batch = pool_ != nullptr ? pool_->room_for(size, units, path.length) : one_batch_;
  if (pool_ == nullptr) batch.clear();
  CompareJob& job = batch.jobs[batch.count];
  job.dir = holder;
  job.node = node;
  job.look = looked == nullptr;
  if (looked != nullptr) job.looked = *looked;
  job.name = batch.name_used;
  std::memcpy(batch.names + batch.name_used, name, units * sizeof(char16_t));
  batch.name_used += units;
  job.path = batch.path_used;
  job.path_length = path.length;
  job.path_cut = path.tail[0] != 0;
  std::memcpy(batch.paths + batch.path_used, path.bytes, path.length);
  batch.path_used += path.length;
  job.body = batch.body_used;
  job.held = copy_body(batch.body + batch.body_used, size);
  batch.body_used += job.held;
  if (pool_ != nullptr) return pool_->added(batch);
  ++batch.count;
  one_file_.compare(batch, job);
}

// From the read-ahead, refilled as it empties; fewer where the stream ends.
std::uint32_t TreeCompare::copy_body(std::uint8_t* to, std::uint64_t size) {
  std::uint32_t copied = 0;
  while (copied < size) {
    if (ahead_begin_ == ahead_end_) refill();
    if (ahead_begin_ == ahead_end_) break;
    const std::uint32_t held = ahead_end_ - ahead_begin_;
    const std::uint32_t want = size - copied < held ? static_cast<std::uint32_t>(size - copied) : held;
    std::memcpy(to + copied, ahead_ + ahead_begin_, want);
    ahead_begin_ += want;
    copied += want;
  }
  return copied;
}

// The body's first bytes come from the read-ahead, the rest straight from
// the stream. After the first byte that differs, the rest of the dump's
// body is read past and the file's is left.
void TreeCompare::compare_body(Handle file) {
  const std::uint64_t size = walk_.node().size;
  const Handle content = walk_.stream(DumpReader::kContent);
  if (ahead_begin_ == ahead_end_) refill();
  const std::uint32_t held = ahead_end_ - ahead_begin_;
  BodySource source{content, kInStreamOrder, ahead_ + ahead_begin_, held < size ? held : static_cast<std::uint32_t>(size)};
  const BodyMatch match = match_body(platform_, file, source, size, blocks_);
  const std::uint64_t from_ahead = match.taken < source.held_bytes ? match.taken : source.held_bytes;
  ahead_begin_ += static_cast<std::uint32_t>(from_ahead);
  if (match.unreadable) {
    unreadable();
    return skip_content(size - match.taken);
  }
  if (match.stream_ended) return content_short(size - match.taken);
  if (match.differs_at == size) return;
  difference(line("bytes").text(": differ from byte ").decimal(static_cast<std::int64_t>(match.differs_at)));
  skip_content(size - match.taken);
}

void TreeCompare::skip_body() {
  if (!walk_.node().is_directory()) skip_content(walk_.node().size);
}

// What the read-ahead holds first, then the stream.
void TreeCompare::skip_content(std::uint64_t count) {
  const std::uint32_t held = ahead_end_ - ahead_begin_;
  const std::uint32_t from_ahead = held < count ? held : static_cast<std::uint32_t>(count);
  ahead_begin_ += from_ahead;
  const std::uint64_t rest = count - from_ahead;
  const std::uint64_t missing = rest == 0 ? 0 : rest - walk_.skip_content(rest);
  if (missing > 0) content_short(missing);
}

void TreeCompare::content_short(std::uint64_t missing) {
  err_turn();
  report_content_short(walk_, missing, err_);
}

// What has arrived, up to a read-ahead: one read serves many small bodies,
// and on a pipe nothing waits for bytes past the body being compared.
void TreeCompare::refill() {
  ahead_begin_ = ahead_end_ = 0;
  const std::uint32_t got = platform_.read(walk_.stream(DumpReader::kContent), ahead_, sizeof ahead_);
  if (got != kReadFailed) ahead_end_ = got;
}

// Whether the directory holding the entries at depth takes two names for one
// (case folding), as the restore's writers ask it; asked once a directory,
// and only where the answer matters.
bool TreeCompare::folds(int depth) {
  if (folds_[depth] == Folds::kUnknown) {
    folds_[depth] = platform_.folds_names(level_[depth]) ? Folds::kYes : Folds::kNo;
  }
  return folds_[depth] == Folds::kYes;
}

void TreeCompare::leave_below(int depth) {
  met_.leave_below(depth);
  for (; deepest_ > depth; --deepest_) {
    if (!level_[deepest_].valid()) continue;
    report_extras(deepest_);
    if (pool_ != nullptr) {
      pool_->close_later(level_[deepest_]);
    } else {
      platform_.close(level_[deepest_]);
    }
    level_[deepest_] = Handle::none();
  }
}

// The names on disk that the dump does not hold in that directory. Names
// that differ in case only are one where the directory folds names.
void TreeCompare::report_extras(int depth) {
  if (!level_[depth].valid() || names_lost_[depth]) return;
  const Handle listing = platform_.open_listing(level_[depth]);
  if (!listing.valid()) {
    directory_unreadable(depth);
    return;
  }
  for (;;) {
    const Listed got = platform_.next_listed(listing, name_, kNameUnits);
    if (got == Listed::kFailed) directory_unreadable(depth);
    if (got != Listed::kName) break;
    if (name_[0] == 0 || walk_.dump_holds(depth, name_, false)) continue;
    if (walk_.dump_holds(depth, name_, true) && folds(depth)) continue;
    if (depth == 0 && own_file(name_)) continue;
    const EntryText dir = walk_.directory_path(depth);
    lines_.turn();
    out_.text("extra ").bytes(dir.bytes, dir.length).text(dir.tail);
    if (dir.tail[0] == 0) {
      bool cut = false;
      const std::uint32_t length =
          append_name_text(name_, NameTextKind::kEntryName, name_text_, 0, sizeof name_text_, &cut);
      if (dir.length > 0) out_.text("/");
      out_.bytes(name_text_, length).text(cut ? kCutMark : "");
    }
    difference(out_);
  }
  platform_.close(listing);
}

// The dump's own streams and the log a restore into the starting directory
// leaves are not the tree's.
bool TreeCompare::own_file(const char16_t* name) {
  if (std::char_traits<char16_t>::compare(name, u"$errors", 8) == 0) return true;
  EntryInfo info;
  if (!platform_.inspect(level_[0], name, &info) || info.kind != EntryKind::kFile) return false;
  for (const Handle stream : {walk_.stream(DumpReader::kContent), walk_.stream(DumpReader::kNames),
                              walk_.stream(DumpReader::kNodes)}) {
    FileIdentity id;
    if (platform_.identity(stream, &id) && id == info.identity) return true;
  }
  return false;
}

void TreeCompare::unreadable() { unreadable(Failure::of_last_call(platform_)); }

void TreeCompare::unreadable(const Failure& why) { lines_.unreadable(walk_.path(), why); }

void TreeCompare::directory_unreadable(int depth) {
  static char words[1024];
  failure_text(platform_, Failure::of_last_call(platform_), words, sizeof words);
  trim_trailing_spaces(words);
  const EntryText dir = walk_.directory_path(depth);
  lines_.turn();
  out_.text("unreadable ").bytes(dir.bytes, dir.length).text(dir.tail);
  difference(out_.text(": ").text(words));
}

void TreeCompare::refused(Failure why) {
  static char words[1024];
  failure_text(platform_, why, words, sizeof words);
  line("refused").text(": ").text(words).end_line();
  lines_.line_done();
  ++refused_;
}

