// The dump as both the restore and the inspection read it: the three
// streams named by the base path, opened in the order a producer writing
// them through named pipes must open them too, and the node stream taken
// record by record from blocks, so a record costs no call of its own. A
// read may deliver less than asked before the end (a pipe): a record is
// taken as soon as it is whole, and only a read of nothing ends the stream.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "platform/platform.h"

// A record, or how the node stream ended.
enum class NodeRead {
  kRecord,
  kEnded,   // at the end of the stream, after stray_bytes() bytes of a partial record
  kFailed,  // reading the stream failed
};

// The whole records after the current one, as far as the node stream has
// been read.
struct RecordsAhead {
  const std::uint8_t* bytes = nullptr;
  std::uint32_t count = 0;
};

class DumpReader {
 public:
  enum Stream { kContent, kNames, kNodes, kStreamCount };

  DumpReader(Platform& platform, NameReader& names) : platform_(platform), names_(names) {}

  // Reads argument `arg` as the base path (none: the streams of the current
  // directory) into the name buffer. False when it leaves no room for the
  // stream names.
  bool take_base_path(int arg);
  // Opens one stream of the base path; the name buffer holds its path
  // afterwards. False when it did not open: last_error() says why.
  bool open(Stream stream);
  Handle handle(Stream stream) const { return streams_[stream]; }
  // Where the base path ends in the name buffer (its length in units).
  std::uint32_t base_units() const { return base_units_; }

  // The next record, decoded into node().
  NodeRead next_record();
  const FsNode& node() const { return node_; }
  std::uint32_t stray_bytes() const { return stray_bytes_; }
  // Records read so far: the current record's number, counted from 1.
  std::uint64_t records() const { return records_; }
  RecordsAhead records_ahead() const {
    return RecordsAhead{block_ + position_, (fill_ - position_) / kFsNodeBytes};
  }

  // The current record's name, into the name buffer.
  NameRead next_name() { return names_.read_name(streams_[kNames]); }

  void close_streams();

 private:
  Platform& platform_;
  NameReader& names_;
  Handle streams_[kStreamCount];
  std::uint32_t base_units_ = 0;
  FsNode node_;
  std::uint32_t stray_bytes_ = 0;
  std::uint64_t records_ = 0;
  std::uint8_t block_[kNodeBlockBytes];
  std::uint32_t fill_ = 0;
  std::uint32_t position_ = 0;
};
