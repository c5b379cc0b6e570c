#include "target/target_dir.h"

#include "dump/buffer_sizes.h"
#include "report/failure.h"
#include "report/open_failure.h"

Handle enter_target(Platform& platform, int target_arg, Handle start_dir, LineWriter& err, char16_t* scratch) {
  if (target_arg < 0 && start_dir.valid()) return start_dir;
  const Handle target = target_arg < 0 ? platform.open_start_dir() : platform.open_target(target_arg);
  if (target.valid()) return target;
  const Failure why = Failure::of_last_call(platform);
  err.text("fsrestore: cannot enter the target ");
  if (target_arg < 0) {
    err.text(".");
  } else if (platform.arg_to_name(target_arg, scratch, kNameUnits) > 0) {
    write_user_path(err, scratch);
  }
  static char words[1024];
  console_failure_text(platform, why, words, sizeof words);
  err.text(": ").text(words).end_line();
  return Handle::none();
}
