#include "main/fsrestore_main.h"

#include <cstring>
#include <new>

#include "inspect/dump_check.h"
#include "inspect/dump_listing.h"
#include "inspect/inspection.h"
#include "inspect/tree_compare.h"
#include "main/command_line.h"
#include "report/exit_status.h"
#include "report/failure.h"
#include "report/line_writer.h"
#include "report/open_failure.h"
#include "restore/part_filter.h"
#include "restore/restorer.h"
#include "restore/writer_pool.h"

namespace {

// -j, or by default the processors the process may use, at most
// kDefaultWriters; never more than kMaxWriters.
int writers_asked(Platform& platform, const CommandLine& line) {
  int jobs = line.jobs;
  if (jobs == 0) jobs = platform.processor_count() < kDefaultWriters ? platform.processor_count() : kDefaultWriters;
  return jobs > kMaxWriters ? kMaxWriters : jobs;
}

const char kUsage[] =
    "usage: fsrestore [-j N] [-q] [--strict] [--resume] [--only PATH]...\n"
    "                 [--errors FILE] [--report FILE] [--] [BASEPATH [TARGET]]\n"
    "       fsrestore --list [-q] [--] [BASEPATH]\n"
    "       fsrestore --check [-q] [--] [BASEPATH]\n"
    "       fsrestore --compare [-q] [--] [BASEPATH [TARGET]]\n"
    "\n"
    "Restores the directory tree held in a dump: the streams BASEPATH$fsnodes,\n"
    "BASEPATH$fsnames and BASEPATH$content. BASEPATH is prefixed to the stream names\n"
    "as it stands: end it with a path separator to name a directory. Without it the\n"
    "streams are read from the current directory.\n"
    "\n"
    "Every directory and file is recreated inside TARGET (default: the current\n"
    "directory) with its name, body, attribute word and times. What cannot be\n"
    "restored is listed in the file $errors, written to the directory the program\n"
    "was started in (or to FILE with --errors); it is empty after a clean run. A\n"
    "start that fails leaves the previous log as it was.\n"
    "\n"
    "Options may stand before, between or after BASEPATH and TARGET; \"--\" ends\n"
    "them, so an argument that begins with \"-\" needs \"--\" before it. Further\n"
    "arguments are ignored, each with a warning on stderr.\n"
    "  --list         print one line per entry (type, attr, size, last-write time,\n"
    "                 path) and write nothing; faults of the dump go to stderr\n"
    "  --check        read the whole dump and tell on stderr what would not restore\n"
    "                 cleanly; stdout gets \"dirs=D files=F bytes=B problems=P\"\n"
    "  --compare      compare TARGET with the dump and print one line per entry\n"
    "                 that differs (missing, extra, kind, size, bytes, time, attr)\n"
    "                 and \"entries=N refused=R differences=D\"; write nothing\n"
    "  --only PATH, --only=PATH\n"
    "                 restore only the entry at PATH (as --list writes it), all\n"
    "                 below it and the directories on the way; repeatable\n"
    "  --resume       keep the files already in TARGET with the dump's size and\n"
    "                 last-write time (finishes an interrupted restore)\n"
    "  --errors FILE, --errors=FILE\n"
    "                 write the log to FILE instead of $errors (a relative FILE\n"
    "                 is taken from the starting directory)\n"
    "  --report FILE, --report=FILE\n"
    "                 also write what was not restored to FILE as JSON Lines\n"
    "  -j N, --jobs N, --jobs=N\n"
    "                 restore (or --compare) with N writer threads (default: the\n"
    "                 processors the program may use, at most 4; -j 1: one thread)\n"
    "  --strict       end a restore whose $errors got lines with status 3\n"
    "  -q, --quiet    print only the answer, in every mode: a restore prints nothing\n"
    "                 on stdout (no basepath and progress lines), --check no\n"
    "                 warnings about names that meet on Windows only\n"
    "  -h, --help     show this text\n"
    "  -V, --version  show the version\n"
    "\n"
    "Exit status:\n"
    "  0    the dump was read to its end (see $errors for what was left out);\n"
    "       with --check: the dump is consistent\n"
    "  1    start-up failed (a stream, the log or TARGET could not be opened, or\n"
    "       memory was short; the reason is on stderr; an earlier log stays), or\n"
    "       the command line is wrong\n"
    "  2    $errors could not be written completely (the log is incomplete); with\n"
    "       --list or --check: standard output could not be written\n"
    "  3    --check found problems; --compare found differences; an --only path\n"
    "       matched nothing; with --strict: $errors got lines\n"
    "  130  interrupted by SIGINT (Ctrl+C), 143 by SIGTERM, 129 by SIGHUP\n";

const char kTryHelp[] = "Try 'fsrestore --help'.\n";

void print(Platform& platform, const char* text) {
  platform.console_write(text, static_cast<std::uint32_t>(std::strlen(text)));
  platform.console_flush();
}

void complain(Platform& platform, const char* first, const char* second = "", const char* third = "") {
  BufferedLineWriter<1024>(platform, LineSink::kStandardError)
      .text("fsrestore: ")
      .text(first)
      .text(second)
      .text(third)
      .end_line();
}

// A listing or summary that did not reach standard output is a failure;
// a reader that went away (a closed pipe) is not.
int with_output_checked(Platform& platform, int status) {
  SystemError why;
  if (!platform.console_failed(&why)) return status;
  Failure failure;
  failure.system = why;
  static char words[1024];
  console_failure_text(platform, failure, words, sizeof words);
  complain(platform, "standard output: ", words);
  return kExitOutputFailed;
}

// Each --only path that matched no entry, as the user typed it, after a
// run that read its dump to the end.
void tell_unmatched(Platform& platform, const CommandLine& line, const PartFilter& part, char16_t* text,
                    std::uint32_t capacity) {
  BufferedLineWriter<4096> err(platform, LineSink::kStandardError);
  for (int i = 0; i < part.count(); ++i) {
    if (part.found(i)) continue;
    err.text("fsrestore: --only ");
    if (arg_text(platform, line.only[i], text, capacity)) write_user_path(err, text);
    err.text(": no such entry in the dump").end_line();
  }
}

}  // namespace

// The single instances of the restorer and the inspection live in static
// storage for the whole run; the large tables only writers or a restore
// need are taken when such a run starts, and writer threads allocate their
// own stacks.
int fsrestore_main(Platform& platform) {
  const CommandLine line = parse_command_line(platform);
  switch (line.mode) {
    case Mode::kUsageError:
      complain(platform, line.error);
      platform.error_write(kTryHelp, sizeof kTryHelp - 1);
      return kExitUsage;
    case Mode::kHelp:
      print(platform, kUsage);
      return kExitDone;
    case Mode::kVersion:
      print(platform, "fsrestore " FSRESTORE_VERSION "\n");
      return kExitDone;
    case Mode::kList:
    case Mode::kCheck: {
      warn_ignored_operands(platform, line);
      static Inspection inspection(platform);
      const int status =
          line.mode == Mode::kList
              ? list_dump(platform, inspection.walk, line.base_arg, inspection.out, inspection.err)
              : check_dump(platform, inspection.walk, line.base_arg, inspection.out, inspection.err, line.quiet);
      return with_output_checked(platform, status);
    }
    case Mode::kCompare: {
      warn_ignored_operands(platform, line);
      static Inspection inspection(platform);
      static TreeCompare compare(platform, inspection.walk, inspection.out, inspection.err);
      return with_output_checked(platform, compare.run(line.base_arg, line.target_arg, writers_asked(platform, line)));
    }
    case Mode::kRestore:
      warn_ignored_operands(platform, line);
      break;
  }
  static Restorer restorer(platform);
  static PartFilter part;
  static char16_t text[32768];
  RestoreOptions options;
  options.strict = line.strict;
  options.quiet = line.quiet;
  options.resume = line.resume;
  for (int i = 0; i < line.only_count; ++i) {
    if (!arg_text(platform, line.only[i], text, sizeof text / sizeof text[0]) || !part.add(text)) {
      complain(platform, "--only takes a path as --list writes it (names joined by '/')");
      platform.error_write(kTryHelp, sizeof kTryHelp - 1);
      return kExitUsage;
    }
  }
  static char16_t log_path[32768];
  if (line.errors.arg >= 0) {
    if (!arg_text(platform, line.errors, log_path, sizeof log_path / sizeof log_path[0]) || log_path[0] == 0) {
      complain(platform, "--errors takes the path of a file");
      platform.error_write(kTryHelp, sizeof kTryHelp - 1);
      return kExitUsage;
    }
    options.log_path = log_path;
  }
  static char16_t report_path[32768];
  if (line.report.arg >= 0) {
    if (!arg_text(platform, line.report, report_path, sizeof report_path / sizeof report_path[0]) ||
        report_path[0] == 0) {
      complain(platform, "--report takes the path of a file");
      platform.error_write(kTryHelp, sizeof kTryHelp - 1);
      return kExitUsage;
    }
    options.report = report_path;
  }
  if (line.only_count > 0) options.part = &part;
  const int jobs = writers_asked(platform, line);
  if (jobs > 1) {
    // Taken only for a run with writers, so a run on one thread (and
    // --help) needs none of its memory.
    static WriterPool* pool = new (std::nothrow) WriterPool(platform);
    if (pool == nullptr) {
      complain(platform, "not enough memory for the writers; -j 1 restores on one thread");
      return kExitStartFailed;
    }
    restorer.driver.use_pool(pool, jobs);
  }
  const int status = restorer.driver.run(line.base_arg, line.target_arg, options);
  if (restorer.driver.ran_to_end()) tell_unmatched(platform, line, part, text, sizeof text / sizeof text[0]);
  return status;
}
