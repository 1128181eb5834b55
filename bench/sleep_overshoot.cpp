// How much longer than asked a 4 ms sleep lasts, with the default timer slack and with the
// resolution the program raises for its run. The protocol's waits are 4 and 6 ms.
#include <chrono>
#include <cstdio>

#include "Platform.h"

namespace {

double MeanOvershootMs(int sleeps) {
  using Clock = std::chrono::steady_clock;
  double total = 0;
  for (int i = 0; i < sleeps; ++i) {
    const auto start = Clock::now();
    SleepMs(4);
    total += std::chrono::duration<double, std::milli>(Clock::now() - start).count() - 4.0;
  }
  return total / sleeps;
}

}  // namespace

int main() {
  constexpr int Sleeps = 250;
  const double before = MeanOvershootMs(Sleeps);
  RaiseTimerResolution();
  const double raised = MeanOvershootMs(Sleeps);
  RestoreTimerResolution();
  std::printf("4 ms sleep, mean overshoot over %d sleeps: default %.3f ms, raised resolution %.3f ms\n", Sleeps,
              before, raised);
}
