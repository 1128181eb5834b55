// The program's clock and sleeps on the virtual clock. The stand-in is loaded ahead of libc,
// so these definitions are the ones the program calls: its sleeps advance the virtual clock at
// once, exactly as qzflash-sim's do, and runs are fast and the same every time. With
// --realtime, or before the first libusb call, they are libc's (the program's sleeps are still
// counted for --stats).
#include <dlfcn.h>

#include <ctime>

#include "Session.h"

namespace qzsim::usb {

namespace {

constexpr std::uint64_t kMicrosPerSecond = 1'000'000;
constexpr long kNanosPerSecond = 1'000'000'000;

template <typename Function>
Function Libc(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int RealClockGettime(clockid_t clock, timespec* now) {
  static const auto real = Libc<int (*)(clockid_t, timespec*)>("clock_gettime");
  return real(clock, now);
}

int RealNanosleep(const timespec* request, timespec* remaining) {
  static const auto real = Libc<int (*)(const timespec*, timespec*)>("nanosleep");
  return real(request, remaining);
}

}  // namespace

std::uint64_t RealMonotonicMicros() {
  timespec now{};
  RealClockGettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * kMicrosPerSecond +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

}  // namespace qzsim::usb

using qzsim::usb::CurrentSession;
using qzsim::usb::Session;

int clock_gettime(clockid_t clock, timespec* now) noexcept {
  Session* session = CurrentSession();
  if (clock != CLOCK_MONOTONIC || session == nullptr || !session->standIn.VirtualTime()) {
    return qzsim::usb::RealClockGettime(clock, now);
  }
  const std::uint64_t micros =
      session->startMicros + session->standIn.TheBench().Clock().NowMicros();
  now->tv_sec = static_cast<std::time_t>(micros / qzsim::usb::kMicrosPerSecond);
  now->tv_nsec = static_cast<long>(micros % qzsim::usb::kMicrosPerSecond) * 1000;
  return 0;
}

int nanosleep(const timespec* request, timespec* remaining) {
  Session* session = CurrentSession();
  if (session == nullptr || request == nullptr || request->tv_sec < 0 || request->tv_nsec < 0 ||
      request->tv_nsec >= qzsim::usb::kNanosPerSecond) {
    return qzsim::usb::RealNanosleep(request, remaining);
  }
  const std::uint64_t micros =
      static_cast<std::uint64_t>(request->tv_sec) * qzsim::usb::kMicrosPerSecond +
      static_cast<std::uint64_t>(request->tv_nsec + 999) / 1000;
  qzsim::Bench& bench = session->standIn.TheBench();
  if (!session->inTransfer) bench.Stats().sleepMs += micros / 1000;
  if (!session->standIn.VirtualTime()) return qzsim::usb::RealNanosleep(request, remaining);
  bench.Clock().SleepMicros(micros);
  return 0;
}
