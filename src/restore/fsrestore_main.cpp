#include "restore/restore_driver.h"

// The restorer's single instances live in static storage for the whole run;
// nothing is allocated.
int fsrestore_main(Platform& platform) {
  static RestoreCounters counters;
  static NameReader names(platform);
  static ErrorLog log(platform, names);
  static DirCursor cursor(platform, names, log);
  static EntryWriter writer(platform, names, cursor, log, counters);
  static ProgressLine progress(platform, counters);
  static RestoreDriver driver(platform, names, cursor, writer, progress, log);
  return driver.run();
}
