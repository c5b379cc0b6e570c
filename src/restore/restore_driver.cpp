#include "restore/restore_driver.h"

#include <cstring>

#include "report/text_out.h"

int RestoreDriver::run() {
  if (answer_switch()) return kExitDone;
  if (!start_up()) return kExitStartFailed;
  return restore_all();
}

// Start-up failures print nothing beyond the basepath line and log nothing;
// handles already opened are left to the end of the process.
bool RestoreDriver::start_up() {
  if (!open_streams()) return false;
  start_dir_ = platform_.open_start_dir();
  if (!start_dir_.valid()) return false;
  // An old log is replaced, never written through: it may be a link, a
  // FIFO or a file with other names.
  const Handle log = guard_.create_file(start_dir_, u"$errors");
  if (!log_.open(log) || !guard_.protect(log)) return false;
  if (platform_.arg_count() >= 2) {
    target_ = platform_.open_target(1);
  } else {
    target_ = start_dir_;
  }
  if (!target_.valid()) return false;
  cursor_.start(target_);
  progress_.start();
  return true;
}

// The streams are opened in this order, the order a producer writing them
// through named pipes must open them in too. Each is registered as the run's
// own, so no entry of the dump replaces it.
bool RestoreDriver::open_streams() {
  char16_t* name = name_reader_.name();
  std::uint32_t units = 1;
  name[0] = 0;
  if (platform_.arg_count() >= 1) units = platform_.arg_to_name(0, name, kNameUnits);
  print("basepath=<");
  if (platform_.arg_count() >= 1) platform_.console_write_arg(0);
  print(">\n");
  platform_.console_flush();
  // A base path that leaves no room for the longest suffix cannot name the
  // streams.
  if (units == 0 || units - 1 + kLongestSuffixUnits + 1 > kNameUnits) return false;
  // The base path is converted into the name buffer; the stream suffixes go
  // where its terminator was.
  const std::uint32_t at = units - 1;
  Handle* const streams[] = {&content_, &names_stream_, &nodes_stream_};
  const char16_t* const suffixes[] = {kContentSuffix, kNamesSuffix, kNodesSuffix};
  for (int i = 0; i < 3; ++i) {
    put_suffix(name, at, suffixes[i]);
    *streams[i] = platform_.open_stream(name);
    if (!streams[i]->valid() || !guard_.protect(*streams[i])) return false;
  }
  return true;
}

int RestoreDriver::restore_all() {
  for (;;) {
    const std::uint32_t got = next_record();
    const bool at_end = got != kFsNodeBytes;
    if (got == kReadFailed) log_.nodes_failed();
    const FsNode node = at_end ? FsNode{} : decode_fs_node(record_);
    if (!at_end) ++records_;
    progress_.turn(at_end);
    cursor_.move_to(node.depth, node.attr, records_);
    if (at_end) {
      if (got > 0 && got != kReadFailed) log_.nodes_stray(got);
      break;
    }
    const NameRead name = name_reader_.read_name(names_stream_);
    if (name != NameRead::kName) {
      // Directories still held keep no times and the cursor stays where it is.
      if (name == NameRead::kFailed) {
        log_.names_failed();
      } else {
        log_.names_ended();
      }
      break;
    }
    const RecordsAhead next{nodes_block_ + nodes_position_, (nodes_fill_ - nodes_position_) / kFsNodeBytes};
    writer_.restore_entry(node, content_, next);
  }
  return finish();
}

// A read may deliver less than asked before the end (a pipe): records are
// taken as soon as they are whole, and only a read of nothing ends the
// stream.
std::uint32_t RestoreDriver::next_record() {
  std::uint32_t left = nodes_fill_ - nodes_position_;
  if (left < kFsNodeBytes) {
    std::memmove(nodes_block_, nodes_block_ + nodes_position_, left);
    nodes_position_ = 0;
    nodes_fill_ = left;
    while (nodes_fill_ < kFsNodeBytes) {
      const std::uint32_t got = platform_.read(nodes_stream_, nodes_block_ + nodes_fill_, kNodeBlockBytes - nodes_fill_);
      if (got == kReadFailed) return kReadFailed;
      if (got == 0) return nodes_fill_;
      nodes_fill_ += got;
    }
  }
  record_ = nodes_block_ + nodes_position_;
  nodes_position_ += kFsNodeBytes;
  return kFsNodeBytes;
}

int RestoreDriver::finish() {
  platform_.close(content_);
  platform_.close(names_stream_);
  platform_.close(nodes_stream_);
  log_.close();
  print("\n");
  platform_.console_flush();
  if (!log_.incomplete()) return kExitDone;
  const char* const parts[] = {"fsrestore: $errors: ", log_.failure_text(), ": the log is incomplete\n"};
  for (const char* part : parts) platform_.error_write(part, static_cast<std::uint32_t>(std::strlen(part)));
  return kExitLogIncomplete;
}

void RestoreDriver::print(const char* text) {
  platform_.console_write(text, static_cast<std::uint32_t>(std::strlen(text)));
}

bool RestoreDriver::answer_switch() {
  if (platform_.arg_count() < 1) return false;
  const char* native = platform_.native_help_switch();
  if (platform_.arg_is(0, "--help") || platform_.arg_is(0, "-h") || (native && platform_.arg_is(0, native))) {
    print(
        "usage: fsrestore [BASEPATH [TARGET]]\n"
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
        "  3  --check found problems\n");
    platform_.console_flush();
    return true;
  }
  if (platform_.arg_is(0, "--version")) {
    print("fsrestore " FSRESTORE_VERSION "\n");
    platform_.console_flush();
    return true;
  }
  return false;
}
