// The program's start-up and its only loop: opens the dump and the log,
// enters the target, then takes the records one by one until the node stream
// ends (status 0), the names stream ends first (status 0), or start-up fails
// (status 1).
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/progress_line.h"
#include "restore/dir_cursor.h"
#include "restore/entry_writer.h"

constexpr int kExitDone = 0;
constexpr int kExitStartFailed = 1;

class RestoreDriver {
 public:
  RestoreDriver(Platform& platform, NameReader& names, DirCursor& cursor, EntryWriter& writer,
                ProgressLine& progress, ErrorLog& log)
      : platform_(platform), names_(names), cursor_(cursor), writer_(writer), progress_(progress), log_(log) {}

  // Runs the whole program and returns its exit status.
  int run();

 private:
  bool answer_switch();  // --help, --version
  // Points record_ at the next record and returns its length: 32, or the
  // 0-31 bytes the stream ends with.
  std::uint32_t next_record();
  bool start_up();
  int restore_all();
  void finish();
  void print(const char* text);

  Platform& platform_;
  NameReader& names_;
  DirCursor& cursor_;
  EntryWriter& writer_;
  ProgressLine& progress_;
  ErrorLog& log_;
  Handle content_;
  Handle names_stream_;
  Handle nodes_;
  // Records are taken from a block of the node stream, which costs one read
  // per block instead of one per record.
  std::uint8_t nodes_block_[kNodeBlockBytes];
  std::uint32_t nodes_fill_ = 0;
  std::uint32_t nodes_position_ = 0;
  const std::uint8_t* record_ = nodes_block_;
};

// Builds the single instances over the given platform and runs the program.
int fsrestore_main(Platform& platform);
