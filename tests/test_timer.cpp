// The stopwatch: monotonic readings in seconds from the nanosecond counter.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/Platform/ORXTimer.h"

namespace {

// The conversion the first timer sets up turns the counter into seconds: an
// interval read by the timer and by the standard steady clock around the
// same sleep agree (both see whatever delay the machine adds).
TEST(ORXTimer, ConversionIsSetUpByTheFirstTimer) {
  const auto start = std::chrono::steady_clock::now();
  ORXTimer timer;
  EXPECT_TRUE(ORXTimer::g_firstTime.load());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double seconds = timer.GetElapsedTime();
  const double reference = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(seconds, 0.0);
  EXPECT_LE(seconds, reference + 1e-3);  // read after it, on a clock of its own
  EXPECT_GE(seconds, 0.5 * reference);
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

// After a reset the timer counts from the reset: less than a timer started
// before the sleep that preceded it, by at least the sleep.
TEST(ORXTimer, ResetStartsAgainFromZero) {
  ORXTimer timer, before;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  timer.ResetTimer();
  const double elapsed = timer.GetElapsedTime();
  const double whole = before.GetElapsedTime();
  EXPECT_GE(elapsed, 0.0);
  EXPECT_GE(whole - elapsed, 0.05);
}

TEST(ORXTimer, ElapsedCoversASleep) {
  ORXTimer timer;
  timer.ResetTimer();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(timer.GetElapsedTime(), 0.02);
}

}  // namespace
