// Date conversion for file status records and the engine's start date.
// Depends only on the C library's local-time rules.
#include "runtime/file_stat.h"

#include <cstring>
#include <mutex>

uint32_t DateRecordToTime(const vlDateRecord& date) {
  struct tm t;
  std::memset(&t, 0, sizeof t);
  t.tm_mday = date.day;
  t.tm_mon = date.month - 1;
  t.tm_year = date.year - 1900;
  t.tm_hour = date.hours;
  t.tm_min = date.minutes;
  t.tm_sec = date.seconds;
  t.tm_isdst = -1;
  time_t s = mktime(&t);
  if (s == static_cast<time_t>(-1) || s < 0) return 0;
  return static_cast<uint32_t>(s);
}

namespace {
std::once_flag g_startOnce;
vlDateRecord g_startDate;

void TakeStartDate() {
  time_t now = time(nullptr);
  struct tm t;
  localtime_r(&now, &t);
  // The stamp carries a two-digit year in the twenty-first century.
  g_startDate = {t.tm_mday, t.tm_mon + 1, 2000 + t.tm_year % 100, t.tm_hour, t.tm_min, t.tm_sec};
}
}  // namespace

void CaptureStartDateStamp() { std::call_once(g_startOnce, TakeStartDate); }

const vlDateRecord& GetStartDateStamp() {
  CaptureStartDateStamp();
  return g_startDate;
}

void ConvertAdapterStat(const vlAdapterStat& in, vlFileStat* out) {
  out->isDirectory = in.isDirectory ? 1 : 0;
  out->size = in.size;
  out->protection = in.protection;
  std::memcpy(out->comment, in.comment, sizeof out->comment);
  out->comment[sizeof out->comment - 1] = 0;
  out->accessTime = DateRecordToTime(in.accessDate);
  out->modifyTime = DateRecordToTime(in.modifyDate);
  out->changeTime = DateRecordToTime(in.changeDate);
  out->adapterWords[0] = in.words[0];
  out->adapterWords[1] = in.words[1];
}
