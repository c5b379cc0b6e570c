// The lines that tell what could not be restored, in one wording for the
// "$errors" log and for the faults --list and --check report: each line is
// written here once. The log names an entry by its name in the dump's own
// encoding, the inspection by its path inside the dump; `entry` is whichever
// of the two, written as it stands.
#pragma once

#include <cstdint>

#include "report/line_writer.h"

struct EntryText {
  const char* bytes = "";
  std::uint32_t length = 0;
  const char* tail = "";  // written after the bytes: a cut mark, or nothing
};

// "chdir error with <docs> attr=0020: Permission denied": a directory that
// could not be entered; attr is the first entry's inside it.
bool chdir_line(LineWriter& w, const EntryText& entry, std::uint16_t attr, const char* reason);
// "mkdir error with <docs>, attr=0010: Permission denied"
bool mkdir_line(LineWriter& w, const EntryText& entry, std::uint16_t attr, const char* reason);
// "createfile error with <a.txt>, attr=0020, size=5: <reason>"; also
// "write" for a body not written whole.
bool file_line(LineWriter& w, const char* what, const EntryText& entry, std::uint16_t attr, std::uint64_t size,
               const char* reason);
// "content error with <big.iso>, attr=0020, size=1048576: 4096 bytes missing"
bool content_short_line(LineWriter& w, const EntryText& entry, std::uint16_t attr, std::uint64_t size,
                        std::uint64_t missing);
// "names error: $fsnames ended before $fsnodes"
bool names_ended_line(LineWriter& w);
// "nodes error: $fsnodes ends with 7 stray bytes"
bool nodes_stray_line(LineWriter& w, std::uint32_t bytes);
// "<stream> error: <reason>": reading "$fsnodes" or "$fsnames" failed.
bool stream_failed_line(LineWriter& w, const char* stream, const char* reason);

// Each returns false when the line could not be written to its file.

// The start of a line, for lines that go on in words of their own.
LineWriter& entry_head(LineWriter& w, const char* what, const EntryText& entry);
LineWriter& file_head(LineWriter& w, const char* what, const EntryText& entry, std::uint16_t attr,
                      std::uint64_t size);

// "nodes error: depth rises from 0 to 3 at record 12" (records count from 1)
bool depth_jump_line(LineWriter& w, int from, int to, std::uint64_t record);
// "nodes error: the first record has depth 2, not 0"
bool first_record_deep_line(LineWriter& w, int depth);
