// Turns one record and its name into an entry of the current directory: a
// directory, or a file with its body copied from the content stream. Every
// entry is counted, and every file's body is consumed even when the file is
// skipped or cannot be created, so the content stream stays aligned.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "restore/dir_cursor.h"
#include "restore/restore_counters.h"


class EntryWriter {
 public:
  EntryWriter(Platform& platform, NameReader& names, DirCursor& cursor, ErrorLog& log,
              RestoreCounters& counters)
      : platform_(platform), names_(names), cursor_(cursor), log_(log), counters_(counters) {}

  void restore_entry(const FsNode& node, Handle content);

 private:
  void restore_directory(const FsNode& node);
  void restore_file(const FsNode& node, Handle content);
  // Moves the body into file (or discards it when file is none) in full
  // blocks; a block that comes back short ends the body.
  void copy_body(const FsNode& node, Handle content, Handle file);

  Platform& platform_;
  NameReader& names_;
  DirCursor& cursor_;
  ErrorLog& log_;
  RestoreCounters& counters_;
  // Page-aligned: an unaligned block makes large copies markedly slower.
  alignas(4096) std::uint8_t block_[kCopyBlockBytes];
};
