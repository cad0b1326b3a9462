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
  std::tm tm{};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  EXPECT_TRUE(before <= t && t <= after) << t - before;
  EXPECT_EQ(std::make_pair(tm.tm_wday, 0), std::make_pair(int{st.wDayOfWeek}, int{st.wMilliseconds}));
}

}  // namespace
