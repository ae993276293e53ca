// Stopwatch over the platform's monotonic counter, reporting seconds.
#pragma once

#include <atomic>
#include <cstdint>

class ORXTimer {
 public:
  ORXTimer();
  virtual void ResetTimer();
  virtual double GetElapsedTime();
  virtual ~ORXTimer();

#if defined(_WIN32)
  typedef int64_t Ticks;
  static std::atomic<int32_t> g_firstTime;  // constructions so far
  static int64_t g_conversion;              // ticks per second
#else
  typedef uint64_t Ticks;
  static std::atomic<bool> g_firstTime;  // conversion computed
  static double g_conversion;            // seconds per tick
#endif

  // Seconds for a tick count under the given conversion (testable without
  // waiting on the clock).
  static double TicksToSeconds(Ticks ticks, double secondsPerTick);

 private:
  Ticks m_start = 0;
};
