#include "restore/dump_switch.h"
#include "restore/restore_driver.h"

// The restorer's single instances live in static storage for the whole run;
// nothing is allocated.
int fsrestore_main(Platform& platform) {
  int status = 0;
  if (answer_dump_switch(platform, &status)) return status;
  static RestoreCounters counters;
  static NameReader names(platform);
  static ErrorLog log(platform, names);
  static DirCursor cursor(platform, names, log);
  static EntryWriter writer(platform, names, cursor, log, counters);
  static ProgressLine progress(platform, counters);
  static RestoreDriver driver(platform, names, cursor, writer, progress, log);
  return driver.run();
}
