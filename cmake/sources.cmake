# The restorer's portable sources, shared by the program's build and the
# fuzzer's, which builds them again with its own compiler and flags.
set(FSRESTORE_CORE_SOURCES
  src/dump/dump_reader.cpp
  src/dump/fs_node.cpp
  src/dump/name_codec.cpp
  src/dump/name_reader.cpp
  src/platform/entry_name.cpp
  src/report/entry_lines.cpp
  src/report/error_log.cpp
  src/report/failure.cpp
  src/report/iso_time.cpp
  src/report/line_writer.cpp
  src/report/name_text.cpp
  src/report/number_text.cpp
  src/report/progress_line.cpp
  src/restore/content_read_ahead.cpp
  src/restore/dir_cursor.cpp
  src/restore/entry_guard.cpp
  src/restore/entry_writer.cpp
  src/restore/made_entries.cpp
  src/restore/restore_driver.cpp
  src/restore/writer_pool.cpp
  src/inspect/dump_check.cpp
  src/inspect/dump_listing.cpp
  src/inspect/dump_report.cpp
  src/inspect/dump_walk.cpp
  src/main/command_line.cpp
  src/main/fsrestore_main.cpp
)
# The POSIX platform's own sources, beside its implementation file.
set(FSRESTORE_POSIX_SOURCES
  src/platform/interruption.cpp
  src/platform/platform_posix.cpp
  src/platform/utf8_path.cpp
)
