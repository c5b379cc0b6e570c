#include "dump/dump_reader.h"

#include <cstring>

namespace {

const char16_t* const kSuffixes[] = {kContentSuffix, kNamesSuffix, kNodesSuffix};

}  // namespace

bool DumpReader::take_base_path(int arg) {
  char16_t* name = names_.name();
  std::uint32_t units = 1;
  name[0] = 0;
  if (arg >= 0) units = platform_.arg_to_name(arg, name, kNameUnits);
  if (units == 0 || units - 1 + kLongestSuffixUnits + 1 > kNameUnits) return false;
  base_units_ = units - 1;
  return true;
}

// The stream's suffix goes where the base path ends.
bool DumpReader::open(Stream stream) {
  put_suffix(names_.name(), base_units_, kSuffixes[stream]);
  streams_[stream] = platform_.open_stream(names_.name());
  return streams_[stream].valid();
}

NodeRead DumpReader::next_record() {
  std::uint32_t left = fill_ - position_;
  if (left < kFsNodeBytes) {
    std::memmove(block_, block_ + position_, left);
    position_ = 0;
    fill_ = left;
    while (fill_ < kFsNodeBytes) {
      const std::uint32_t got = platform_.read(streams_[kNodes], block_ + fill_, kNodeBlockBytes - fill_);
      if (got == kReadFailed) return NodeRead::kFailed;
      if (got == 0) {
        stray_bytes_ = fill_;
        return NodeRead::kEnded;
      }
      fill_ += got;
    }
  }
  node_ = decode_fs_node(block_ + position_);
  position_ += kFsNodeBytes;
  ++records_;
  return NodeRead::kRecord;
}

void DumpReader::close_streams() {
  for (Handle& h : streams_) {
    platform_.close(h);
    h = Handle::none();
  }
}
