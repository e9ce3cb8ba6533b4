// Time of day, time arithmetic, plain sleeping and local dates. Date texts
// under the user's locale use a thread-local locale object, so the process
// locale that other threads see stays "C".
#include "runtime/os.h"

#include <cstdio>
#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <sys/time.h>
#include <unistd.h>

#include "runtime/blocking.h"

uint32_t GetSysTime(vlTimeVal* out) {
  timeval tv;
  gettimeofday(&tv, nullptr);
  out->seconds = static_cast<uint32_t>(tv.tv_sec);
  out->micros = static_cast<uint32_t>(tv.tv_usec);
  return out->micros;
}

void SubTimeVal(vlTimeVal* a, const vlTimeVal* b) {
  if (a->micros < b->micros) {
    a->micros = a->micros + 1000000 - b->micros;
    a->seconds = a->seconds - b->seconds - 1;
  } else {
    a->micros -= b->micros;
    a->seconds -= b->seconds;
  }
}

void AddTimeVal(vlTimeVal* a, const vlTimeVal* b) {
  a->micros += b->micros;
  a->seconds += b->seconds;
  if (a->micros > 999999) {
    a->micros -= 1000000;
    a->seconds += 1;
  }
}

int CompareTimeVal(const vlTimeVal* a, const vlTimeVal* b) {
  if (a->seconds != b->seconds) return a->seconds > b->seconds ? 1 : -1;
  if (a->micros != b->micros) return a->micros > b->micros ? 1 : -1;
  return 0;
}

double GetTimeSeconds() {
  vlTimeVal now;
  GetSysTime(&now);
  return now.seconds + now.micros / 1000000.0;
}

void SleepMillis(uint32_t millis) {
  // A signal ends the sleep early, as it would end sleep() or usleep().
  if (millis) WaitReady(nullptr, 0, static_cast<int64_t>(millis) * 1000);
}

namespace {

// Formats with the user's locale (from the environment) on this thread only.
void FormatInUserLocale(const tm& t, bool weekday, char* out) {
  out[0] = 0;
  locale_t user = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) user = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return;
  const char* format = weekday ? "%A" : nl_langinfo_l(D_FMT, user);
  if (strftime_l(out, 256, format, &t, user) == 0) out[0] = 0;
  freelocale(user);
}

}  // namespace

void FormatDateTimeAt(int64_t when, int mode, char* first, char* second) {
  time_t moment = static_cast<time_t>(when);
  tm t;
  if (!localtime_r(&moment, &t)) return;
  switch (mode) {
    case 0:
      FormatInUserLocale(t, false, first);
      break;
    case 1:
      snprintf(first, 256, "%.2d-%.2d-%.2d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900 - 2000);
      snprintf(second, 256, "%.2d:%.2d:%.2d", t.tm_hour, t.tm_min, t.tm_sec);
      break;
    case 2:
      snprintf(first, 256, "%.2d:%.2d:%.2d", t.tm_hour, t.tm_min, t.tm_sec);
      break;
    case 3:
      FormatInUserLocale(t, true, first);
      break;
    default:
      break;
  }
}

void FormatDateTime(int mode, char* first, char* second) {
  FormatDateTimeAt(static_cast<int64_t>(time(nullptr)), mode, first, second);
}

int MakeTimeFromDate(const int32_t date[6], int64_t* times, int index) {
  tm t{};
  t.tm_sec = date[0];
  t.tm_min = date[1];
  t.tm_hour = date[2];
  t.tm_mday = date[3];
  t.tm_mon = date[4];
  t.tm_year = date[5] - 1900;
  t.tm_isdst = -1;
  time_t result = mktime(&t);
  if (result == static_cast<time_t>(-1)) return 0;
  times[index] = static_cast<int64_t>(result);
  return 1;
}

void SplitTimeToDate(const int64_t* times, int32_t date[6], int index) {
  time_t moment = static_cast<time_t>(times[index]);
  tm t{};
  localtime_r(&moment, &t);
  date[0] = t.tm_sec;
  date[1] = t.tm_min;
  date[2] = t.tm_hour;
  date[3] = t.tm_mday;
  date[4] = t.tm_mon;
  date[5] = t.tm_year + 1900;
}
