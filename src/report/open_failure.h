// What the user is told when a path they gave does not open: the path as
// text, the reason, and, where the base path names a directory but lacks
// its trailing separator, the hint "; did you mean dump/ ?"; or that the
// base path leaves no room for the stream names. The restore's start-up
// and --list, --check and --compare say it alike.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "report/failure.h"
#include "report/line_writer.h"

// Writes a path the user gave (or one built from it) as text.
void write_user_path(LineWriter& out, const char16_t* path);

// Writes "dump$fsnodes: No such file or directory; did you mean dump/ ?"
// without ending the line. path holds the path that failed; its first
// base_units units are the base path it was built from (path itself when
// it is the whole). The path is left as it was.
void write_open_failure(Platform& platform, LineWriter& out, char16_t* path, std::uint32_t base_units,
                        const Failure& why);

// Writes the line "fsrestore: the base path is too long: it may have at
// most 32759 characters": the longest base path that takes every stream
// suffix and the terminator.
void write_base_path_too_long(LineWriter& out);
