#include "main/fsrestore_main.h"

#include <cstring>

#include "inspect/dump_check.h"
#include "inspect/dump_listing.h"
#include "inspect/inspection.h"
#include "main/command_line.h"
#include "report/exit_status.h"
#include "restore/restorer.h"
#include "restore/writer_pool.h"

namespace {

const char kUsage[] =
    "usage: fsrestore [-j N] [BASEPATH [TARGET]]\n"
    "       fsrestore --list [BASEPATH]\n"
    "       fsrestore --check [BASEPATH]\n"
    "\n"
    "Restores the directory tree held in a dump: the streams BASEPATH$fsnodes,\n"
    "BASEPATH$fsnames and BASEPATH$content. BASEPATH is prefixed to the stream names\n"
    "as it stands: end it with a path separator to name a directory. Without it the\n"
    "streams are read from the current directory.\n"
    "\n"
    "Every directory and file is recreated inside TARGET (default: the current\n"
    "directory) with its name, body, attribute word and times. What cannot be\n"
    "restored is listed in the file $errors, written to the directory the program\n"
    "was started in; it is empty after a clean run.\n"
    "\n"
    "  --list       print one line per entry (type, attr, size, last-write time,\n"
    "               path) and write nothing; faults of the dump go to stderr\n"
    "  --check      read the whole dump and tell on stderr what would not restore\n"
    "               cleanly; stdout gets \"dirs=D files=F bytes=B problems=P\"\n"
    "  -j N, --jobs N, --jobs=N\n"
    "               restore with N writers (default: the processors the program\n"
    "               may use, at most 4; -j 1 restores on one thread)\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n"
    "These switches count only as the first argument; any other argument, also\n"
    "one starting with \"--\", is a base path or a target.\n"
    "\n"
    "Exit status:\n"
    "  0  the dump was read to its end (see $errors for what was left out);\n"
    "     with --check: the dump is consistent\n"
    "  1  the dump or $errors could not be opened, or TARGET not entered\n"
    "  2  $errors could not be written completely; the log is incomplete\n"
    "  3  --check found problems\n";

void print(Platform& platform, const char* text) {
  platform.console_write(text, static_cast<std::uint32_t>(std::strlen(text)));
  platform.console_flush();
}

}  // namespace

// The single instances of the restorer and the inspection live in static
// storage for the whole run; nothing is allocated.
int fsrestore_main(Platform& platform) {
  const CommandLine line = parse_command_line(platform);
  switch (line.mode) {
    case Mode::kHelp:
      print(platform, kUsage);
      return kExitDone;
    case Mode::kVersion:
      print(platform, "fsrestore " FSRESTORE_VERSION "\n");
      return kExitDone;
    case Mode::kList:
    case Mode::kCheck: {
      static Inspection inspection(platform);
      return line.mode == Mode::kList
                 ? list_dump(platform, inspection.walk, line.base_arg, inspection.out, inspection.err)
                 : check_dump(platform, inspection.walk, line.base_arg, inspection.out, inspection.err);
    }
    case Mode::kUsageError:
      platform.error_write(line.problem, static_cast<std::uint32_t>(std::strlen(line.problem)));
      return kExitStartFailed;
    case Mode::kRestore:
      break;
  }
  static Restorer restorer(platform);
  // --- parallel restore (-j) ---
  int jobs = line.jobs;
  if (jobs == 0) jobs = platform.processor_count() < kDefaultWriters ? platform.processor_count() : kDefaultWriters;
  if (jobs > kMaxWriters) jobs = kMaxWriters;
  if (jobs > 1) {
    static WriterPool pool(platform);
    restorer.driver.use_pool(&pool, jobs);
  }
  return restorer.driver.run(line.base_arg, line.target_arg);
}
