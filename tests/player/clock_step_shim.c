/* Preloaded into the player by a test: the wall clock goes back an hour as
   soon as the file named by VL_CLOCK_STEP_FILE exists, as when the system
   clock is set back (by hand or by time synchronisation) while the player
   runs. */
#define _GNU_SOURCE
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

__attribute__((visibility("default"))) int gettimeofday(struct timeval* tv, void* tz) {
  struct timespec now;
  const char* marker = getenv("VL_CLOCK_STEP_FILE");
  (void)tz;
  clock_gettime(CLOCK_REALTIME, &now);
  if (marker && access(marker, F_OK) == 0) now.tv_sec -= 3600;
  tv->tv_sec = now.tv_sec;
  tv->tv_usec = now.tv_nsec / 1000;
  return 0;
}
