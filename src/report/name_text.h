// Names as text a person or a script can read back: proper UTF-8, one line,
// nothing a terminal would act on. Used where a dump is looked into without
// restoring it; the log keeps the dump's own encoding instead.
#pragma once

#include <cstdint>

enum class NameTextKind {
  kEntryName,  // one component: "/" and "\" are escaped too
  kPath,       // a path as the user gave it: separators stay
};

// Appends name to out[used..capacity) as UTF-8, a surrogate pair as one
// four-byte character. Escaped visibly, so that neither a line nor a path
// component can be faked: control characters, DEL (and in an entry name "/"
// and "\") as \xHH; C1 controls and surrogates that do not pair as \uHHHH.
// Stops before a character that would not fit. Returns the new used count;
// *cut is set when not all of the name fitted.
std::uint32_t append_name_text(const char16_t* name, NameTextKind kind, char* out, std::uint32_t used,
                               std::uint32_t capacity, bool* cut);
