// Local date and time in whole seconds.
#include <ctime>

#include "platform/kx9platform.h"

SYSTEMTIME GetLocalTimeWholeSeconds() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  SYSTEMTIME st{};
  if (localtime_r(&now, &tm) == nullptr) return st;  // all zero: no local time available
  st.wYear = static_cast<WORD>(tm.tm_year + 1900);
  st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  st.wDay = static_cast<WORD>(tm.tm_mday);
  st.wHour = static_cast<WORD>(tm.tm_hour);
  st.wMinute = static_cast<WORD>(tm.tm_min);
  // A leap second (tm_sec 60) is shown as the last regular second.
  st.wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
  st.wMilliseconds = 0;
  return st;
}
