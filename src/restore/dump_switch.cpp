#include "restore/dump_switch.h"

#include "restore/dump_check.h"
#include "restore/dump_listing.h"

bool answer_dump_switch(Platform& platform, int* status) {
  if (platform.arg_count() < 1) return false;
  if (platform.arg_is(0, "--list")) {
    *status = list_dump(platform);
    return true;
  }
  if (platform.arg_is(0, "--check")) {
    *status = check_dump(platform);
    return true;
  }
  return false;
}
