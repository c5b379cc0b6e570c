#include "main/fsrestore_main.h"
#include "platform/platform_win32.h"

// The wide entry point: arguments arrive as UTF-16, whatever the code pages.
int wmain(int argc, wchar_t** argv) {
  static Win32Platform platform(argc, argv);
  Win32Platform::catch_interruptions();
  return fsrestore_main(platform);
}
