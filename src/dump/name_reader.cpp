#include "dump/name_reader.h"

#include <cstring>

NameRead NameReader::read_name(Handle names) {
  std::uint32_t length = 0;
  std::uint64_t line_bytes = 0;
  for (;;) {
    if (position_ >= fill_) {
      const std::uint32_t got = platform_.read(names, read_block_, sizeof read_block_);
      if (got == kReadFailed) return NameRead::kFailed;
      if (got == 0) return NameRead::kEnded;
      fill_ = got;
      position_ = 0;
    }
    const std::uint8_t* start = read_block_ + position_;
    const std::uint32_t available = fill_ - position_;
    const void* feed = std::memchr(start, '\n', available);
    const std::uint32_t taken =
        feed ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(feed) - start) : available;
    const std::uint32_t room = kLineBytes - 1 - length;
    const std::uint32_t kept = taken < room ? taken : room;
    std::memcpy(line_ + length, start, kept);
    length += kept;
    position_ += taken;
    line_bytes += taken;
    if (line_bytes > line_limit_) return NameRead::kEndless;
    if (feed) {
      ++position_;
      break;
    }
  }
  line_[length] = 0;
  decode_name(line_, name_, kNameUnits);
  return NameRead::kName;
}

bool NameReader::has_more(Handle names) {
  if (position_ < fill_) return true;
  const std::uint32_t got = platform_.read(names, read_block_, sizeof read_block_);
  fill_ = got == kReadFailed ? 0 : got;
  position_ = 0;
  return fill_ > 0;
}

const char* NameReader::encode_name() {
  char* out = reinterpret_cast<char*>(line_);
  ::encode_name(name_, out);
  return out;
}
