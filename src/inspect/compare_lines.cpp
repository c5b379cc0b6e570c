#include "inspect/compare_lines.h"

#include <cstring>

#include "report/iso_time.h"
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

LineWriter& CompareLines::line(const char* kind, const EntryText& path) {
  turn();
  return out_.text(kind).text(" ").bytes(path.bytes, path.length).text(path.tail);
}

void CompareLines::difference(LineWriter& w) {
  w.end_line();
  line_done();
  ++differences_;
}

void CompareLines::unreadable(const EntryText& path, const Failure& why) {
  failure_text(platform_, why, words_, sizeof words_);
  trim_trailing_spaces(words_);
  difference(line("unreadable", path).text(": ").text(words_));
}

void CompareLines::link_on_disk(const EntryText& path, bool directory) {
  difference(line("kind", path).text(directory ? ": directory in the dump, link on disk" : ": file in the dump, link on disk"));
}

void CompareLines::not_there(const EntryText& path, bool directory, EntryKind kind) {
  if (kind == EntryKind::kAbsent) return difference(line("missing", path));
  LineWriter& w = line("kind", path).text(directory ? ": directory in the dump, " : ": file in the dump, ");
  difference(w.text(kind_word(kind)).text(" on disk"));
}

// The write time as the restore sets it (exact to 100 ns, the system's own
// conversion), and the attribute word as far as the system keeps it.
void CompareLines::state(const EntryText& path, const FsNode& node, const EntryState& disk, std::uint8_t differs) {
  if ((differs & kTimeDiffers) != 0) {
    char dump_time[kIsoTimeChars + 4], disk_time[kIsoTimeChars + 4];
    time_text(filetime_to_unix(node.write_time), dump_time);
    time_text(disk.write_time, disk_time);
    LineWriter& w = line("time", path).text(": ").text(dump_time).text(" in the dump, ");
    difference(w.text(disk_time).text(" on disk"));
  }
  if ((differs & kWordDiffers) != 0) {
    const std::uint16_t kept = disk.known;
    LineWriter& w = line("attr", path).text(": ").hex4(node.attr & kept).text(" in the dump, ");
    difference(w.hex4(disk.attributes & kept).text(" on disk"));
  }
}
