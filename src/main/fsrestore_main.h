// The program over a platform: reads the command line and runs the mode it
// asks for. Returns the exit status.
#pragma once

#include "platform/platform.h"

int fsrestore_main(Platform& platform);
