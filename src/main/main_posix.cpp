#include "main/fsrestore_main.h"
#include "platform/platform_posix.h"

int main(int argc, char** argv) {
  static PosixPlatform platform(argc, argv);
  return fsrestore_main(platform);
}
