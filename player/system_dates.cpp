// The system library's date and time commands: the date, time and weekday
// texts, date parts and comparing two long date texts. Depends on the
// platform layer's date formatting.
#include <cstdio>
#include <cstring>

#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "player/system_library.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The fields of a long date text "DD-Mon-YYYY hh:mm:ss" (or its first 11
// characters): {year, month, day, hours, minutes, seconds}; false when the
// month is not one of the twelve or a field is not a number.
bool ParseLongDate(const char* text, bool withTime, long out[6]) {
  auto number = [](const char* p, int digits, long* value) {
    *value = 0;
    for (int i = 0; i < digits; ++i) {
      if (p[i] < '0' || p[i] > '9') return false;
      *value = *value * 10 + (p[i] - '0');
    }
    return true;
  };
  int month = -1;
  for (int i = 0; i < 12; ++i)
    if (!std::strncmp(text + 3, kMonths[i], 3)) month = i;
  if (month < 0) return false;
  out[1] = month;
  if (!number(text, 2, &out[2]) || !number(text + 7, 4, &out[0])) return false;
  if (!withTime) return true;
  return number(text + 12, 2, &out[3]) && number(text + 15, 2, &out[4]) && number(text + 18, 2, &out[5]);
}

int64_t Now() {
  vlTimeVal tv;
  GetSysTime(&tv);
  return tv.seconds;
}

}  // namespace

int CmdGetDate(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  bool longForm = vl::OptIntArg(L, 1, 0) != 0;
  char first[256] = "", second[256] = "";
  if (!longForm) {
    FormatDateTime(0, first, second);
    vl::PushString(L, first);
    return 1;
  }
  int64_t now = Now();
  int32_t date[6];
  SplitTimeToDate(&now, date, 0);
  char text[64];
  std::snprintf(text, sizeof text, "%.2ld-%s-20%.2ld %.2ld:%.2ld:%.2ld", long(date[3]), kMonths[date[4]],
                long(date[5] % 100), long(date[2]), long(date[1]), long(date[0]));
  vl::PushString(L, text);
  return 1;
}

int CmdGetTime(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  bool seconds = vl::OptIntArg(L, 1, 0) != 0;
  char first[256] = "", second[256] = "";
  FormatDateTime(2, first, second);
  size_t n = std::strlen(first);
  if (!seconds && n >= 3) first[n - 3] = 0;
  vl::PushString(L, first);
  return 1;
}

int CmdGetWeekday(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  char first[256] = "", second[256] = "";
  FormatDateTime(3, first, second);
  vl::PushString(L, first);
  return 1;
}

int CmdGetDateNum(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int32_t part = vl::CheckIntArg(L, 1);
  int64_t now = Now();
  int32_t date[6];
  SplitTimeToDate(&now, date, 0);
  double value = 0;
  switch (part) {
    case 0: value = date[5]; break;
    case 1: value = date[4] + 1; break;
    case 2: value = date[3]; break;
    case 3: value = date[2] * 10000 + date[1] * 100 + date[0]; break;
    default: break;
  }
  vl::PushNumber(L, value);
  return 1;
}

int CmdCompareDates(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  size_t lengthA = 0, lengthB = 0;
  const char* a = vl::CheckStringArg(L, 1, &lengthA);
  const char* b = vl::CheckStringArg(L, 2, &lengthB);
  bool dateOnly = vl::OptIntArg(L, 3, 0) != 0;
  auto lengthOk = [dateOnly](size_t n) { return n == 20 || (dateOnly && n == 11); };
  if (!lengthOk(lengthA) || !lengthOk(lengthB)) return ERR_INVALIDDATE;
  long fa[6], fb[6];
  if (!ParseLongDate(a, !dateOnly, fa) || !ParseLongDate(b, !dateOnly, fb)) return ERR_INVALIDDATE;
  int result = 0;
  for (int i = 0; i < (dateOnly ? 3 : 6) && result == 0; ++i) {
    if (fa[i] > fb[i]) result = 1;
    else if (fa[i] < fb[i]) result = 2;
  }
  vl::PushNumber(L, result);
  return 1;
}
