// Turns one record and its name into an entry of the directory the cursor
// stands in: a directory, or a file with its body copied from the content
// stream. Every entry is counted, and every file's body is consumed even
// when the file is skipped, cannot be created or cannot be written, so the
// content stream stays aligned.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "restore/dir_cursor.h"
#include "restore/entry_guard.h"
#include "restore/restore_counters.h"

class EntryWriter {
 public:
  EntryWriter(Platform& platform, EntryGuard& guard, NameReader& name_reader, DirCursor& cursor, ErrorLog& log,
              RestoreCounters& counters)
      : platform_(platform),
        guard_(guard),
        name_reader_(name_reader),
        cursor_(cursor),
        log_(log),
        counters_(counters) {}

  void restore_entry(const FsNode& node, Handle content);

 private:
  void restore_directory(const FsNode& node);
  void restore_file(const FsNode& node, Handle content);
  // Moves the body into file (or discards it when file is none) in full
  // blocks; a block that comes back short ends the body. False when a write
  // failed: the failure is logged and the rest of the body only consumed.
  bool copy_body(const FsNode& node, Handle content, Handle file);

  Platform& platform_;
  EntryGuard& guard_;
  NameReader& name_reader_;
  DirCursor& cursor_;
  ErrorLog& log_;
  RestoreCounters& counters_;
  // Page-aligned: an unaligned block makes large copies markedly slower.
  alignas(4096) std::uint8_t copy_buffer_[kCopyBlockBytes];
};
