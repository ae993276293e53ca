// Linux: CLOCK_MONOTONIC in nanoseconds; one tick is 1e-9 seconds.
#include "core/Platform/ORXTimer.h"

#include <time.h>

#include <mutex>

std::atomic<bool> ORXTimer::g_firstTime{false};
double ORXTimer::g_conversion = 0.0;

namespace {

ORXTimer::Ticks Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ORXTimer::Ticks>(ts.tv_sec) * 1000000000ull + static_cast<ORXTimer::Ticks>(ts.tv_nsec);
}

std::once_flag g_conversionOnce;

}  // namespace

double ORXTimer::TicksToSeconds(Ticks ticks, double secondsPerTick) {
  return static_cast<double>(ticks) * secondsPerTick;
}

ORXTimer::ORXTimer() {
  if (!g_firstTime.load(std::memory_order_acquire)) {
    std::call_once(g_conversionOnce, [] {
      // Timebase numerator / denominator = 1 / 1: the clock counts nanoseconds.
      const uint32_t numer = 1, denom = 1;
      g_conversion = static_cast<double>(numer) / static_cast<double>(denom) * 1e-9;
      g_firstTime.store(true, std::memory_order_release);
    });
  }
  m_start = Now();
}

ORXTimer::~ORXTimer() = default;

void ORXTimer::ResetTimer() { m_start = Now(); }

double ORXTimer::GetElapsedTime() {
  const Ticks now = Now();
  return TicksToSeconds(now - m_start, g_conversion);
}
