// The program's start-up and its only loop: opens the dump, the log and the
// target, then takes the records one by one until the node stream ends
// (status 0), the names stream ends first (status 0), or start-up fails
// (status 1). A log that could not be written whole makes the status 2.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/progress_line.h"
#include "restore/dir_cursor.h"
#include "restore/entry_guard.h"
#include "restore/entry_writer.h"

constexpr int kExitDone = 0;
constexpr int kExitStartFailed = 1;
constexpr int kExitLogIncomplete = 2;

class RestoreDriver {
 public:
  RestoreDriver(Platform& platform, EntryGuard& guard, NameReader& name_reader, DirCursor& cursor,
                EntryWriter& writer, ProgressLine& progress, ErrorLog& log)
      : platform_(platform),
        guard_(guard),
        name_reader_(name_reader),
        cursor_(cursor),
        writer_(writer),
        progress_(progress),
        log_(log) {}

  // Runs the whole program and returns its exit status.
  int run();

 private:
  bool answer_switch();  // --help, --version
  // Points record_ at the next record and returns its length: 32, or the
  // 0-31 bytes the stream ends with, or kReadFailed.
  std::uint32_t next_record();
  bool start_up();
  bool open_streams();
  int restore_all();
  int finish();
  void print(const char* text);

  Platform& platform_;
  EntryGuard& guard_;
  NameReader& name_reader_;
  DirCursor& cursor_;
  EntryWriter& writer_;
  ProgressLine& progress_;
  ErrorLog& log_;
  Handle content_;
  Handle names_stream_;
  Handle nodes_stream_;
  Handle start_dir_;
  Handle target_;
  std::uint64_t records_ = 0;  // records read so far
  // Records are taken from a block of the node stream, which costs one read
  // per block instead of one per record.
  std::uint8_t nodes_block_[kNodeBlockBytes];
  std::uint32_t nodes_fill_ = 0;
  std::uint32_t nodes_position_ = 0;
  const std::uint8_t* record_ = nodes_block_;
};

