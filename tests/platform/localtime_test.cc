// Local time in whole seconds, with the day of the week.
#include <gtest/gtest.h>

#include <ctime>

#include "platform/kx9platform.h"

namespace {

// The fields name a moment between two reads of the clock, milliseconds 0,
// and the week day mktime computes for that date (0 = Sunday).
TEST(LocalTime, WholeSecondsOfTheLocalClock) {
  const std::time_t before = std::time(nullptr);
  const SYSTEMTIME st = GetLocalTimeWholeSeconds();
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(st.wMilliseconds, 0);
  std::tm tm{};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  EXPECT_LE(before, t);
  EXPECT_LE(t, after);
  EXPECT_EQ(st.wDayOfWeek, tm.tm_wday);
}

}  // namespace
