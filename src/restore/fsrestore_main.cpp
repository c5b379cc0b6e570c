#include "restore/dump_switch.h"
#include "restore/restorer.h"

// The restorer's single instance lives in static storage for the whole run;
// nothing is allocated.
int fsrestore_main(Platform& platform) {
  int status = 0;
  if (answer_dump_switch(platform, &status)) return status;
  static Restorer restorer(platform);
  return restorer.driver.run();
}
