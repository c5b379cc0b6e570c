// The restorer's parts wired together over one platform: the program holds
// one in static storage, a test makes a fresh one over a fake platform.
#pragma once

#include "dump/dump_reader.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/progress_line.h"
#include "restore/dir_cursor.h"
#include "restore/entry_guard.h"
#include "restore/entry_writer.h"
#include "restore/restore_counters.h"
#include "restore/restore_driver.h"

struct Restorer {
  explicit Restorer(Platform& platform)
      : guard(platform),
        name_reader(platform),
        dump(platform, name_reader),
        log(platform, name_reader),
        cursor(platform, guard, log),
        writer(platform, guard, name_reader, cursor, log, counters),
        progress(platform, counters.dirs, counters.files, counters.outbytes, &counters.files_in_flight),
        driver(platform, guard, name_reader, dump, cursor, writer, progress, log) {}

  RestoreCounters counters;
  EntryGuard guard;
  NameReader name_reader;
  DumpReader dump;
  ErrorLog log;
  DirCursor cursor;
  EntryWriter writer;
  ProgressLine progress;
  RestoreDriver driver;
};
