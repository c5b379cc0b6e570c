#include "report/path_text.h"

#include <cstring>

#include "report/name_text.h"

void PathText::pass_levels(int from, int to) {
  for (int k = from; k < to; ++k) {
    end_[k] = from == 0 ? 0 : end_[from - 1];
    cut_[k] = from == 0 ? false : cut_[from - 1];
    serial_[k] = ++placed_;
  }
}

void PathText::place(int depth, const char16_t* name) {
  append(depth == 0 ? 0 : end_[depth - 1], depth == 0 ? false : cut_[depth - 1], name);
  end_[depth] = last_length_;
  cut_[depth] = last_cut_;
  serial_[depth] = ++placed_;
}

void PathText::follow(int depth, const char16_t* name) {
  if (depth > previous_depth_ + 1) pass_levels(previous_depth_ + 1, depth);
  previous_depth_ = depth;
  place(depth, name);
}

void PathText::place_in(const EntryText& directory, const char16_t* name) {
  std::uint32_t length = directory.length < kPathTextBytes ? directory.length : kPathTextBytes;
  if (directory.bytes != text_) std::memmove(text_, directory.bytes, length);
  append(length, directory.tail[0] != 0, name);
}

void PathText::append(std::uint32_t length, bool cut, const char16_t* name) {
  if (!cut && name != nullptr) {
    if (length > 0) {
      if (length < kPathTextBytes) {
        text_[length++] = kPathSeparator;
      } else {
        cut = true;
      }
    }
    if (!cut) length = append_name_text(name, NameTextKind::kEntryName, text_, length, kPathTextBytes, &cut);
  }
  last_length_ = length;
  last_cut_ = cut;
}
