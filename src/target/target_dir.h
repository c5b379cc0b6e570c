// The directory every job works in: TARGET as the user named it (followed
// if it is a link), or the starting directory when none is named. The
// restore and --compare open it the same way and say the same when they
// cannot.
#pragma once

#include "platform/platform.h"
#include "report/line_writer.h"

// The target of argument target_arg (-1: none named, then start_dir, or the
// starting directory opened here when start_dir is none). None when it
// cannot be entered, after the line that tells why on err; scratch (of
// kNameUnits) takes the name for that line.
Handle enter_target(Platform& platform, int target_arg, Handle start_dir, LineWriter& err, char16_t* scratch);
