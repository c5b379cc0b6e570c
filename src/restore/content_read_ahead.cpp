#include "restore/content_read_ahead.h"

bool ContentReadAhead::refill(Handle content) {
  begin_ = end_ = 0;
  const std::uint32_t got = platform_.read(content, buffer_, kReadAheadBytes);
  if (got == 0 || got == kReadFailed) return false;
  end_ = got;
  return true;
}
