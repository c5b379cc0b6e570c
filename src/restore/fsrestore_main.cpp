#include "restore/restorer.h"

// The restorer's single instance lives in static storage for the whole run;
// nothing is allocated.
int fsrestore_main(Platform& platform) {
  static Restorer restorer(platform);
  return restorer.driver.run();
}
