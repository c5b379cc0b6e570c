#include "platform/platform_posix.h"
#include "restore/restorer.h"

int main(int argc, char** argv) {
  static PosixPlatform platform(argc, argv);
  return fsrestore_main(platform);
}
