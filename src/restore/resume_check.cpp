#include "restore/resume_check.h"

bool already_restored(Platform& platform, Handle dir, const char16_t* name, const FsNode& node) {
  const Handle file = platform.open_file_read(dir, name);
  if (!file.valid()) return false;
  OpenState disk;
  const bool described = platform.describe_open(file, &disk);
  platform.close(file);
  const UnixTime want = filetime_to_unix(node.write_time);
  return described && !disk.directory && disk.size == node.size && disk.write_time.seconds == want.seconds &&
         disk.write_time.nanoseconds == want.nanoseconds;
}
