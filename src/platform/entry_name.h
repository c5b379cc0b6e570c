// Which names may be created or entered as an entry of the current
// directory. A dump is untrusted: a name that would leave the directory, or
// that the system would take for something other than a plain entry, is
// refused before any system call.
#pragma once

enum class NameRules {
  kPosix,    // refuses "", ".", "..", any name holding "/", and names longer than 255 bytes
             // as the POSIX platform writes them (utf16_to_path with LoneSurrogates::kEncode)
  kWindows,  // also "\", ":", device names, characters Windows forbids, a trailing dot or
             // space, and names longer than 255 units
};

bool is_valid_entry_name(const char16_t* name, NameRules rules);
