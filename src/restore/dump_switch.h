// The switches that look into a dump instead of restoring it. Like --help
// they count only as the first argument; anywhere else, and any other
// argument starting with "--", a word is what it always was: a base path or
// a target.
#pragma once

#include "platform/platform.h"

// Runs --list or --check when the first argument is one of them and puts
// the exit status in *status. False when neither was given.
bool answer_dump_switch(Platform& platform, int* status);
