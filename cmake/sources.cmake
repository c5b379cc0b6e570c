# The restorer's portable sources, shared by the program's build and the
# fuzzer's, which builds them again with its own compiler and flags.
set(FSRESTORE_CORE_SOURCES
  src/dump/fs_node.cpp
  src/dump/name_codec.cpp
  src/dump/name_reader.cpp
  src/platform/entry_name.cpp
  src/report/error_log.cpp
  src/report/iso_time.cpp
  src/report/line_out.cpp
  src/report/name_text.cpp
  src/report/progress_line.cpp
  src/report/text_out.cpp
  src/restore/dir_cursor.cpp
  src/restore/dump_check.cpp
  src/restore/dump_listing.cpp
  src/restore/dump_report.cpp
  src/restore/dump_switch.cpp
  src/restore/dump_walk.cpp
  src/restore/entry_guard.cpp
  src/restore/content_read_ahead.cpp
  src/restore/entry_writer.cpp
  src/restore/restore_driver.cpp
  src/restore/fsrestore_main.cpp
)
# The POSIX platform's own sources, beside its implementation file.
set(FSRESTORE_POSIX_SOURCES
  src/platform/interruption.cpp
  src/platform/platform_posix.cpp
  src/platform/utf8_path.cpp
)
