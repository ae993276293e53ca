// The stopwatch: monotonic readings in seconds from the nanosecond counter.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ORXTimer.h"

namespace {

TEST(ORXTimer, ConversionIsSetUpByTheFirstTimer) {
  ORXTimer timer;
  EXPECT_TRUE(ORXTimer::g_firstTime.load());
  EXPECT_DOUBLE_EQ(ORXTimer::g_conversion, 1e-9);
}

TEST(ORXTimer, TicksToSecondsScalesByTheConversion) {
  EXPECT_DOUBLE_EQ(ORXTimer::TicksToSeconds(1000000, 1e-9), 0.001);
  EXPECT_DOUBLE_EQ(ORXTimer::TicksToSeconds(0, 1e-9), 0.0);
  // Counts past 32 bits must not wrap: 5e9 ns is 5 s.
  EXPECT_DOUBLE_EQ(ORXTimer::TicksToSeconds(5000000000ull, 1e-9), 5.0);
}

TEST(ORXTimer, ReadingsNeverGoBackwards) {
  ORXTimer timer;
  double previous = timer.GetElapsedTime();
  for (int i = 0; i < 1000; ++i) {
    const double now = timer.GetElapsedTime();
    ASSERT_GE(now, previous) << "reading " << i;
    previous = now;
  }
}

TEST(ORXTimer, ResetStartsAgainFromZero) {
  ORXTimer timer;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  timer.ResetTimer();
  const double elapsed = timer.GetElapsedTime();
  EXPECT_GE(elapsed, 0.0);
  // A sanity bound, loose enough for a busy machine, that still fails when the
  // 250 ms before the reset are counted.
  EXPECT_LT(elapsed, 0.2);
}

TEST(ORXTimer, ElapsedCoversASleep) {
  ORXTimer timer;
  timer.ResetTimer();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(timer.GetElapsedTime(), 0.02);
}

}  // namespace
