#include "restore/dump_walk.h"

#include "platform/entry_name.h"
#include "report/name_text.h"

namespace {

// Writes a path the user gave (or built from it) as text.
void write_user_path(LineOut& out, const char16_t* path) {
  static char text[3 * kNameUnits];
  bool cut = false;
  const std::uint32_t length = append_name_text(path, NameTextKind::kPath, text, 0, sizeof text, &cut);
  out.bytes(text, length);
}

}  // namespace

bool DumpWalk::open(int arg) {
  char16_t* name = names_.name();
  std::uint32_t units = 1;
  name[0] = 0;
  if (platform_.arg_count() > arg) units = platform_.arg_to_name(arg, name, kNameUnits);
  if (units == 0 || units - 1 + kLongestSuffixUnits + 1 > kNameUnits) {
    err_.text("basepath error: the base path is too long").end_line();
    return false;
  }
  const std::uint32_t at = units - 1;
  // Every stream is tried, so that one run tells all that is missing.
  const bool content = open_stream(kContentSuffix, at, &content_);
  const bool names = open_stream(kNamesSuffix, at, &names_stream_);
  const bool nodes = open_stream(kNodesSuffix, at, &nodes_);
  return content && names && nodes;
}

bool DumpWalk::open_stream(const char16_t* suffix, std::uint32_t at, Handle* stream) {
  char16_t* name = names_.name();
  put_suffix(name, at, suffix);
  *stream = platform_.open_stream(name);
  if (stream->valid()) return true;
  report_open_failure(name, at);
  return false;
}

// "dump$fsnodes: No such file or directory; did you mean dump/ ?" The hint
// is given when the base path names a directory but lacks the separator
// that would make the streams those inside it.
void DumpWalk::report_open_failure(const char16_t* path, std::uint32_t at) {
  static char reason[1024];
  platform_.error_text(reason, sizeof reason);
  char* end = reason;
  for (char* p = reason; *p != 0; ++p) {
    if (static_cast<unsigned char>(*p) < 0x20) *p = ' ';
    if (*p != ' ') end = p + 1;
  }
  *end = 0;  // the system's line end and trailing spaces
  write_user_path(err_, path);
  err_.text(": ").text(reason);
  char16_t* base = names_.name();
  const char16_t last = at > 0 ? base[at - 1] : 0;
  const char16_t separator = static_cast<char16_t>(platform_.path_separator());
  if (at > 0 && last != u'/' && last != separator) {
    const char16_t kept = base[at];
    base[at] = 0;
    if (platform_.path_is_directory(base)) {
      err_.text("; did you mean ");
      write_user_path(err_, base);
      const char sep[2] = {platform_.path_separator(), 0};
      err_.text(sep).text(" ?");
    }
    base[at] = kept;
  }
  err_.end_line();
}

bool DumpWalk::next_record() {
  std::uint8_t record[kFsNodeBytes];
  // Fewer bytes only at the end of the stream (or where reading it fails).
  const std::uint32_t have = platform_.read_full(nodes_, record, kFsNodeBytes);
  if (have < kFsNodeBytes) {
    stray_bytes_ = have;
    return false;
  }
  node_ = decode_fs_node(record);
  return true;
}

void DumpWalk::place(bool has_name) {
  const int depth = node_.depth;
  fault_ = DepthFault::kNone;
  depth_before_ = previous_depth_;
  if (first_) {
    if (depth != 0) fault_ = DepthFault::kFirstNotAtTop;
    // Levels above a first record that is not at the top hold no name.
    for (int k = 0; k < depth; ++k) {
      end_at_depth_[k] = 0;
      cut_at_depth_[k] = false;
    }
  } else if (depth > previous_depth_ + 1) {
    fault_ = DepthFault::kJump;
    // The restore enters only the directory last seen; the levels passed
    // over add nothing to the path.
    for (int k = previous_depth_ + 1; k < depth; ++k) {
      end_at_depth_[k] = end_at_depth_[previous_depth_];
      cut_at_depth_[k] = cut_at_depth_[previous_depth_];
    }
  } else if (depth == previous_depth_ + 1 && !previous_is_directory_) {
    fault_ = DepthFault::kBelowFile;
  }
  std::uint32_t length = depth == 0 ? 0 : end_at_depth_[depth - 1];
  bool cut = depth == 0 ? false : cut_at_depth_[depth - 1];
  // A record past the end of the names takes its parent's path.
  if (!cut && has_name) {
    if (length > 0) {
      if (length < kPathTextBytes) {
        path_[length++] = platform_.path_separator();
      } else {
        cut = true;
      }
    }
    if (!cut) {
      length = append_name_text(names_.name(), NameTextKind::kEntryName, path_, length, kPathTextBytes, &cut);
    }
  }
  path_length_ = length;
  end_at_depth_[depth] = length;
  cut_at_depth_[depth] = cut;
  first_ = false;
  previous_depth_ = node_.depth;
  previous_is_directory_ = node_.is_directory();
}

bool DumpWalk::name_refused() { return !is_valid_entry_name(names_.name(), platform_.name_rules()); }

void DumpWalk::write_path(LineOut& out) const {
  out.bytes(path_, path_length_);
  if (cut_at_depth_[node_.depth]) out.text(kCutMark);
}

std::uint64_t DumpWalk::skip_body() {
  if (node_.is_directory()) return 0;
  return node_.size - skip_content(node_.size);
}

std::uint64_t DumpWalk::skip_rest_of_content() { return skip_content(~std::uint64_t{0}); }

std::uint64_t DumpWalk::skip_content(std::uint64_t count) {
  std::uint64_t taken = 0;
  while (taken < count) {
    const std::uint64_t left = count - taken;
    const std::uint32_t want = left < sizeof content_block_ ? static_cast<std::uint32_t>(left) : sizeof content_block_;
    const std::uint32_t got = platform_.read_full(content_, content_block_, want);
    taken += got;
    if (got < want) break;
  }
  return taken;
}

std::uint64_t DumpWalk::count_rest_of_names() {
  std::uint64_t lines = 0;
  while (names_.read_name(names_stream_) == NameRead::kName) ++lines;
  return lines;
}
