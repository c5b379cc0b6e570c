#include "report/entry_lines.h"

LineWriter& entry_head(LineWriter& w, const char* what, const EntryText& entry) {
  return w.text(what).text(" error with <").bytes(entry.bytes, entry.length).text(entry.tail);
}

LineWriter& file_head(LineWriter& w, const char* what, const EntryText& entry, std::uint16_t attr,
                      std::uint64_t size) {
  entry_head(w, what, entry).text(">, attr=").hex4(attr).text(", size=");
  return w.decimal(static_cast<std::int64_t>(size)).text(": ");
}

bool chdir_line(LineWriter& w, const EntryText& entry, std::uint16_t attr, const char* reason) {
  return entry_head(w, "chdir", entry).text("> attr=").hex4(attr).text(": ").text(reason).end_line();
}

bool mkdir_line(LineWriter& w, const EntryText& entry, std::uint16_t attr, const char* reason) {
  return entry_head(w, "mkdir", entry).text(">, attr=").hex4(attr).text(": ").text(reason).end_line();
}

bool file_line(LineWriter& w, const char* what, const EntryText& entry, std::uint16_t attr, std::uint64_t size,
               const char* reason) {
  return file_head(w, what, entry, attr, size).text(reason).end_line();
}

bool content_short_line(LineWriter& w, const EntryText& entry, std::uint16_t attr, std::uint64_t size,
                        std::uint64_t missing) {
  file_head(w, "content", entry, attr, size).decimal(static_cast<std::int64_t>(missing)).text(" bytes missing");
  return w.end_line();
}

bool names_ended_line(LineWriter& w) { return w.text("names error: $fsnames ended before $fsnodes").end_line(); }

bool nodes_stray_line(LineWriter& w, std::uint32_t bytes) {
  return w.text("nodes error: $fsnodes ends with ").decimal(bytes).text(" stray bytes").end_line();
}

bool stream_failed_line(LineWriter& w, const char* stream, const char* reason) {
  return w.text(stream).text(" error: ").text(reason).end_line();
}

bool depth_jump_line(LineWriter& w, int from, int to, std::uint64_t record) {
  w.text("nodes error: depth rises from ").decimal(from).text(" to ").decimal(to);
  return w.text(" at record ").decimal(static_cast<std::int64_t>(record)).end_line();
}

bool first_record_deep_line(LineWriter& w, int depth) {
  return w.text("nodes error: the first record has depth ").decimal(depth).text(", not 0").end_line();
}
