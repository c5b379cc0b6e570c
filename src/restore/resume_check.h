// --resume: a file already in the target whole, from an earlier run of the
// same restore, is kept. Whole means the dump's size and last-write time:
// a restore sets the time last, so a file an interruption cut keeps none.
#pragma once

#include "dump/fs_node.h"
#include "platform/platform.h"

// True when dir holds a file of this name with the record's size and
// last-write time (as the system keeps what set_times gave it).
bool already_restored(Platform& platform, Handle dir, const char16_t* name, const FsNode& node);
