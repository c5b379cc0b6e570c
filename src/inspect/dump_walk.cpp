#include "inspect/dump_walk.h"

#include <initializer_list>

#include "platform/entry_name.h"
#include "report/failure.h"
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
  } else if (depth > previous_depth_ + 1) {
    fault_ = DepthFault::kJump;
  } else if (depth == previous_depth_ + 1 && !previous_is_directory_) {
    fault_ = DepthFault::kBelowFile;
  }
  // Levels above a first record below the top hold no name, and those a
  // rise passes over add nothing (the restore enters only the directory last
  // seen). A record past the end of the names takes its parent's path.
  paths_.follow(depth, has_name ? names_.name() : nullptr);
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
