// The process's scheduler, in a file of its own so that only programs that
// use it carry it (its destructor writes to the profile at exit).
#include "core/Scheduler.h"

Scheduler& TheScheduler() {
  static Scheduler scheduler;
  return scheduler;
}
