#include "inspect/tree_compare.h"

#include <cstring>
#include <initializer_list>
#include <string>

#include "inspect/dump_report.h"
#include "platform/file_attributes.h"
#include "report/exit_status.h"
#include "report/failure.h"
#include "report/iso_time.h"
#include "report/name_text.h"
#include "report/open_failure.h"

namespace {

const char* kind_word(EntryKind kind) {
  switch (kind) {
    case EntryKind::kFile:
      return "file";
    case EntryKind::kDirectory:
      return "directory";
    case EntryKind::kLink:
      return "link";
    case EntryKind::kOther:
    case EntryKind::kAbsent:
      break;
  }
  return "special file";
}

// "2024-03-01T10:46:40.555000012Z": the time to the nanosecond, the two
// digits past the dump's 100 ns after its seven.
std::uint32_t time_text(UnixTime t, char* out) {
  const std::int64_t ticks =
      t.seconds * static_cast<std::int64_t>(kTicksPerSecond) + static_cast<std::int64_t>(kFileTimeUnixEpoch);
  if (t.seconds < -11644473600LL || ticks < 0) {
    std::strcpy(out, "before 1601");
    return 11;
  }
  const FileTime whole = static_cast<FileTime>(ticks) + static_cast<FileTime>(t.nanoseconds / 100);
  std::uint32_t n = format_iso_time(whole, out);
  out[n - 1] = static_cast<char>('0' + t.nanoseconds % 100 / 10);
  out[n++] = static_cast<char>('0' + t.nanoseconds % 10);
  out[n++] = 'Z';
  out[n] = 0;
  return n;
}

}  // namespace

int TreeCompare::run(int base_arg, int target_arg) {
  if (!walk_.open(base_arg) || !open_target(target_arg)) return kExitStartFailed;
  level_[0] = target_;
  compare_records();
  leave_below(0);
  report_extras(0);
  out_.text("entries=").decimal(entries_).text(" refused=").decimal(refused_);
  out_.text(" differences=").decimal(differences_).end_line();
  platform_.console_flush();
  return differences_ > 0 ? kExitDumpProblems : kExitDone;
}

bool TreeCompare::open_target(int target_arg) {
  target_ = target_arg < 0 ? platform_.open_start_dir() : platform_.open_target(target_arg);
  if (target_.valid()) return true;
  const Failure why = Failure::of_last_call(platform_);
  err_.text("fsrestore: cannot enter the target ");
  if (target_arg < 0) {
    err_.text(".");
  } else if (platform_.arg_to_name(target_arg, name_, kNameUnits) > 0) {
    write_user_path(err_, name_);
  }
  static char words[1024];
  console_failure_text(platform_, why, words, sizeof words);
  err_.text(": ").text(words).end_line();
  return false;
}

// The dump is read as the restore reads it: where its names run out, the
// restore stops, and so does the comparison. Faults of the dump are told on
// standard error as --list tells them.
void TreeCompare::compare_records() {
  while (walk_.next_record()) {
    leave_below(walk_.node().depth);
    if (!walk_.next_name()) {
      report_names_stop(platform_, walk_, err_);
      return;
    }
    walk_.locate(true);
    ++entries_;
    compare_record();
  }
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
  if (out_of_order) report_depth_fault(walk_, err_);
  if (!holder.valid()) {
    const std::uint64_t missing = walk_.skip_body();
    if (missing > 0) report_content_short(walk_, missing, err_);
    return;
  }
  const bool meets_earlier = collision == Collision::kSameName ||
                             (collision == Collision::kCaseOnly && platform_.name_rules() == NameRules::kWindows);
  if (invalid || meets_earlier) {
    refused(Failure::refused(invalid ? Refusal::kInvalidName : Refusal::kMadeThisRun));
    const std::uint64_t missing = walk_.skip_body();
    if (missing > 0) report_content_short(walk_, missing, err_);
    return;
  }
  if (node.is_directory()) {
    compare_directory(holder);
  } else {
    compare_file(holder);
  }
}

// Opened first and looked at only when that fails: where the system cannot
// describe an entry by its name (Wine, deep down), the open handle still
// tells what it is.
void TreeCompare::compare_directory(Handle holder) {
  const int depth = walk_.node().depth;
  Failure why;
  const Handle dir = gate_.open_dir(holder, walk_.name(), &why);
  if (!dir.valid()) {
    // A link the system followed: what it leads to is neither listed nor
    // read. Where the system cannot tell, nothing is read either.
    if (why.refusal == Refusal::kNotShown && why.cannot_tell) return unreadable(why);
    if (why.refusal == Refusal::kNotShown) return difference(line("kind").text(": directory in the dump, link on disk"));
    EntryInfo info;
    if (platform_.inspect(holder, walk_.name(), &info) && info.kind == EntryKind::kAbsent) {
      return difference(line("missing"));
    }
    if (info.kind != EntryKind::kDirectory && info.kind != EntryKind::kAbsent) {
      return difference(line("kind").text(": directory in the dump, ").text(kind_word(info.kind)).text(" on disk"));
    }
    return unreadable(why);
  }
  OpenState disk;
  if (platform_.describe_open(dir, &disk)) {
    compare_state(disk);
  } else {
    unreadable(Failure::of_last_call(platform_));
  }
  level_[depth + 1] = dir;
  names_lost_[depth + 1] = false;
  deepest_ = depth + 1;
}

void TreeCompare::compare_file(Handle holder) {
  EntryInfo info;
  Failure why;
  Handle file;
  OpenState disk;
  bool described = false;
  if (!platform_.inspect(holder, walk_.name(), &info)) {
    unreadable();
  } else if (info.kind == EntryKind::kAbsent) {
    difference(line("missing"));
  } else if (info.kind != EntryKind::kFile) {
    difference(line("kind").text(": file in the dump, ").text(kind_word(info.kind)).text(" on disk"));
  } else if (file = gate_.open_file(holder, walk_.name(), &why); !file.valid()) {
    if (why.refusal == Refusal::kNotShown && !why.cannot_tell) {
      difference(line("kind").text(": file in the dump, link on disk"));
    } else {
      unreadable(why);
    }
  } else if (!platform_.describe_open(file, &disk)) {
    unreadable();
  } else {
    described = true;
  }
  bool compared = described;
  if (compared && disk.size != walk_.node().size) {
    LineWriter& w = line("size").text(": ").decimal(static_cast<std::int64_t>(walk_.node().size));
    difference(w.text(" in the dump, ").decimal(static_cast<std::int64_t>(disk.size)).text(" on disk"));
    compared = false;
  }
  if (compared) {
    compare_body(file);
  } else {
    const std::uint64_t missing = walk_.skip_body();
    if (missing > 0) report_content_short(walk_, missing, err_);
  }
  if (described) compare_state(disk);
  platform_.close(file);
}

// Both bodies block by block; after the first byte that differs, the rest
// of the dump's body is read past and the file's is left.
void TreeCompare::compare_body(Handle file) {
  const std::uint64_t size = walk_.node().size;
  std::uint64_t at = 0;
  while (at < size) {
    const std::uint64_t left = size - at;
    const std::uint32_t want = left < sizeof dump_block_ ? static_cast<std::uint32_t>(left) : sizeof dump_block_;
    const std::uint32_t got = walk_.read_content(dump_block_, want);
    if (got < want) {
      report_content_short(walk_, left - got, err_);
      return;
    }
    const std::uint32_t on_disk = platform_.read_full(file, disk_block_, want);
    std::uint32_t same = 0;
    const std::uint32_t both = on_disk < want ? on_disk : want;
    while (same < both && dump_block_[same] == disk_block_[same]) ++same;
    if (same < want) {
      difference(line("bytes").text(": differ from byte ").decimal(static_cast<std::int64_t>(at + same)));
      const std::uint64_t missing = (left - want) - walk_.skip_content(left - want);
      if (missing > 0) report_content_short(walk_, missing, err_);
      return;
    }
    at += want;
  }
}

// The write time as the restore sets it (exact to 100 ns, the system's own
// conversion), and the attribute word as far as the system keeps it.
void TreeCompare::compare_state(const OpenState& disk) {
  const FsNode& node = walk_.node();
  const UnixTime want = filetime_to_unix(node.write_time);
  if (want.seconds != disk.write_time.seconds || want.nanoseconds != disk.write_time.nanoseconds) {
    char dump_time[kIsoTimeChars + 4], disk_time[kIsoTimeChars + 4];
    time_text(want, dump_time);
    time_text(disk.write_time, disk_time);
    difference(line("time").text(": ").text(dump_time).text(" in the dump, ").text(disk_time).text(" on disk"));
  }
  const std::uint16_t kept = disk.attributes_kept;
  if (((node.attr ^ disk.attributes) & kept) != 0) {
    LineWriter& w = line("attr").text(": ").hex4(node.attr & kept).text(" in the dump, ");
    difference(w.hex4(disk.attributes & kept).text(" on disk"));
  }
}

void TreeCompare::leave_below(int depth) {
  for (; deepest_ > depth; --deepest_) {
    if (!level_[deepest_].valid()) continue;
    report_extras(deepest_);
    platform_.close(level_[deepest_]);
    level_[deepest_] = Handle::none();
  }
}

// The names on disk that the dump does not hold in that directory. Names
// differ in case only where the system takes them for one (Windows).
void TreeCompare::report_extras(int depth) {
  if (!level_[depth].valid() || names_lost_[depth]) return;
  const Handle listing = platform_.open_listing(level_[depth]);
  if (!listing.valid()) {
    directory_unreadable(depth);
    return;
  }
  const bool fold = platform_.name_rules() == NameRules::kWindows;
  for (;;) {
    const Listed got = platform_.next_listed(listing, name_, kNameUnits);
    if (got == Listed::kFailed) directory_unreadable(depth);
    if (got != Listed::kName) break;
    if (name_[0] == 0 || walk_.dump_holds(depth, name_, fold)) continue;
    if (depth == 0 && own_file(name_)) continue;
    const EntryText dir = walk_.directory_path(depth);
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

LineWriter& TreeCompare::line(const char* kind) {
  const EntryText path = walk_.path();
  return out_.text(kind).text(" ").bytes(path.bytes, path.length).text(path.tail);
}

void TreeCompare::difference(LineWriter& w) {
  w.end_line();
  ++differences_;
}

void TreeCompare::unreadable() { unreadable(Failure::of_last_call(platform_)); }

void TreeCompare::unreadable(const Failure& why) {
  static char words[1024];
  failure_text(platform_, why, words, sizeof words);
  trim_trailing_spaces(words);
  difference(line("unreadable").text(": ").text(words));
}

void TreeCompare::directory_unreadable(int depth) {
  static char words[1024];
  failure_text(platform_, Failure::of_last_call(platform_), words, sizeof words);
  trim_trailing_spaces(words);
  const EntryText dir = walk_.directory_path(depth);
  out_.text("unreadable ").bytes(dir.bytes, dir.length).text(dir.tail);
  difference(out_.text(": ").text(words));
}

void TreeCompare::refused(Failure why) {
  static char words[1024];
  failure_text(platform_, why, words, sizeof words);
  line("refused").text(": ").text(words).end_line();
  ++refused_;
}

