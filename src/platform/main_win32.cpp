#include "platform/platform_win32.h"
#include "restore/restore_driver.h"

// The wide entry point: arguments arrive as UTF-16, whatever the code pages.
int wmain(int argc, wchar_t** argv) {
  static Win32Platform platform(argc, argv);
  return fsrestore_main(platform);
}
