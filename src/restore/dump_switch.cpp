#include "restore/dump_switch.h"

#include "restore/dump_check.h"
#include "restore/dump_listing.h"

bool answer_dump_switch(Platform& platform, int* status) {
  if (platform.arg_count() < 1) return false;
  const bool list = platform.arg_is(0, "--list");
  if (!list && !platform.arg_is(0, "--check")) return false;
  // Single instances in static storage, as the restore's own.
  static LineOut out(platform, LineSink::kStandardOutput);
  static LineOut err(platform, LineSink::kStandardError);
  static NameReader names(platform);
  static DumpWalk walk(platform, names, err);
  *status = list ? list_dump(platform, walk, out, err) : check_dump(platform, walk, out, err);
  return true;
}
