// What the restore has handled so far. Only the entry writer changes these;
// entries that are skipped or fail are counted all the same.
#pragma once

#include <cstdint>

struct RestoreCounters {
  std::int32_t dirs = 0;
  std::int32_t files = 0;
  std::uint64_t outbytes = 0;  // content bytes read
  // Files handed to writers and not yet finished; the progress line leaves
  // them out.
  std::int32_t files_in_flight = 0;
};
