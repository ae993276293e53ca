// Windows: the performance counter. The first construction in the process
// (decided by an interlocked increment) reads the frequency; a construction
// racing it waits until the frequency is stored, so no reading divides by 0.
#include "core/Platform/ORXTimer.h"

#include <windows.h>

#include <atomic>

std::atomic<int32_t> ORXTimer::g_firstTime{0};
int64_t ORXTimer::g_conversion = 0;

namespace {

ORXTimer::Ticks Now() {
  LARGE_INTEGER t;
  if (!QueryPerformanceCounter(&t)) return 0;  // reads as no time elapsed
  return t.QuadPart;
}

}  // namespace

double ORXTimer::TicksToSeconds(Ticks ticks, double secondsPerTick) {
  return static_cast<double>(ticks) * secondsPerTick;
}

ORXTimer::ORXTimer() {
  std::atomic_ref<int64_t> conversion(g_conversion);
  if (g_firstTime.fetch_add(1) + 1 == 1) {
    LARGE_INTEGER f;
    conversion.store(QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1000);
  } else {
    while (conversion.load() == 0) Sleep(0);
  }
  m_start = Now();
}

ORXTimer::~ORXTimer() = default;

void ORXTimer::ResetTimer() { m_start = Now(); }

double ORXTimer::GetElapsedTime() {
  const Ticks now = Now();
  if (now <= m_start) return 0.0;
  return static_cast<double>(now - m_start) / static_cast<double>(std::atomic_ref<int64_t>(g_conversion).load());
}
