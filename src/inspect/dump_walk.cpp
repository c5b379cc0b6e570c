#include "inspect/dump_walk.h"

#include <initializer_list>

#include "platform/entry_name.h"
#include "report/failure.h"
#include "report/name_text.h"
#include "report/open_failure.h"

bool DumpWalk::open(int arg) {
  if (!dump_.take_base_path(arg)) {
    write_base_path_too_long(err_);
    return false;
  }
  names_.limit_lines(kNameLineLimit);
  // Every stream is tried, so that one run tells all that is missing.
  bool all = true;
  for (const DumpReader::Stream stream : {DumpReader::kContent, DumpReader::kNames, DumpReader::kNodes}) {
    if (dump_.open(stream)) continue;
    report_open_failure();
    all = false;
  }
  return all;
}

// "dump$fsnodes: No such file or directory; did you mean dump/ ?"
void DumpWalk::report_open_failure() {
  write_open_failure(platform_, err_, names_.name(), dump_.base_units(), Failure::of_last_call(platform_));
  err_.end_line();
}

void DumpWalk::locate(bool has_name) {
  const int depth = node().depth;
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
        path_[length++] = kPathSeparator;
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
  previous_depth_ = node().depth;
  previous_is_directory_ = node().is_directory();
}

bool DumpWalk::next_record() {
  const NodeRead got = dump_.next_record();
  nodes_failed_ = got == NodeRead::kFailed;
  return got == NodeRead::kRecord;
}

bool DumpWalk::next_name() {
  name_read_ = dump_.next_name();
  return name_read_ == NameRead::kName;
}

bool DumpWalk::name_refused() { return !is_valid_entry_name(names_.name(), platform_.name_rules()); }

Collision DumpWalk::collision(bool refused) {
  if (!refused) return collisions_.add(node().depth, names_.name());
  collisions_.leave_below(node().depth);
  return Collision::kNone;
}

EntryText DumpWalk::path() const {
  return EntryText{path_, path_length_, cut_at_depth_[node().depth] ? kCutMark : ""};
}

EntryText DumpWalk::directory_path(int depth) const {
  if (depth == 0) return EntryText{path_, 0, ""};
  return EntryText{path_, end_at_depth_[depth - 1], cut_at_depth_[depth - 1] ? kCutMark : ""};
}

std::uint64_t DumpWalk::skip_body() {
  if (node().is_directory()) return 0;
  return node().size - skip_content(node().size);
}

bool DumpWalk::content_goes_on() { return skip_content(1) == 1; }

std::uint64_t DumpWalk::skip_content(std::uint64_t count) {
  std::uint64_t taken = 0;
  while (taken < count) {
    const std::uint64_t left = count - taken;
    const std::uint32_t want = left < sizeof content_block_ ? static_cast<std::uint32_t>(left) : sizeof content_block_;
    const std::uint32_t got = platform_.read_full(dump_.handle(DumpReader::kContent), content_block_, want);
    taken += got;
    if (got < want) break;
  }
  return taken;
}
