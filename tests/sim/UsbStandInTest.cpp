// The libusb stand-in called as libftdi1 calls it: claims and the kernel's serial driver, the
// latency timer, the virtual clock, late answers and unplugging. Each case
// runs in a child process, whose first libusb call sets up a bench from QZSIM_OPTIONS.
#include <gtest/gtest.h>
#include <libusb.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::int64_t Micros(clockid_t clock = CLOCK_MONOTONIC) {
  timespec now{};
  clock_gettime(clock, &now);
  return std::int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000;
}

// Steps "name" or "name:N" (outA and outB: "name:BYTES" in hexadecimal), each logged as
// " RESULT"; in and sleep add "/", the bytes received in hexadecimal (or "#count" past 16), "/"
// and the virtual micros taken.
std::string Steps(const std::string& steps) {
  const std::map<std::string, std::uint8_t> vendor = {{"purge", 0x00}, {"latency", 0x09}, {"mpsse", 0x0B}};
  const std::map<std::string, int (*)(libusb_device_handle*, int)> onInterface = {
      {"claim", libusb_claim_interface}, {"release", libusb_release_interface},
      {"detach", libusb_detach_kernel_driver}, {"config", libusb_set_configuration}};
  std::istringstream in(steps);
  std::string log;
  libusb_device_handle* handle = nullptr;
  libusb_device** list = nullptr;
  for (std::string step; in >> step;) {
    const std::string name = step.substr(0, step.find(':')), arg = name == step ? "" : step.substr(name.size() + 1);
    const int n = arg.empty() || name.starts_with("out") ? 0 : std::stoi(arg);
    std::vector<unsigned char> data(name == "scans" ? 2 * n : 1024);
    for (std::size_t i = 0; name.starts_with("out") && i < arg.size(); i += 2) data[i / 2] = std::stoi(arg.substr(i, 2), nullptr, 16);
    int result = 0, moved = 0;
    const std::int64_t start = Micros();
    if (name == "open" || name == "list") {
      libusb_init(nullptr);
      result = static_cast<int>(libusb_get_device_list(nullptr, &list));
      if (name == "open") result = result > 0 ? libusb_open(list[0], &handle) : LIBUSB_ERROR_NO_DEVICE;
      libusb_free_device_list(list, 1);
    } else if (onInterface.contains(name)) {
      result = onInterface.at(name)(handle, n);
    } else if (name == "autodetach") {
      result = libusb_set_auto_detach_kernel_driver(handle, 1);
    } else if (vendor.contains(name)) {  // FTDI's requests on port A
      result = libusb_control_transfer(handle, 0x40, vendor.at(name), name == "mpsse" ? 0x0200 : n, 1, nullptr, 0, 1000);
    } else if (name == "outA" || name == "outB" || name == "scans") {  // scans:N reads N bytes, 0x2A 0x07 each
      for (int i = 0; name == "scans" && i < n; ++i) data[2 * i] = 0x2A, data[2 * i + 1] = 0x07;
      const int length = name == "scans" ? 2 * n : static_cast<int>(arg.size() / 2);
      result = libusb_bulk_transfer(handle, name == "outB" ? 0x04 : 0x02, data.data(), length, &moved, 1000);
    } else if (name == "in") {  // n: the time-out in ms
      result = libusb_bulk_transfer(handle, 0x81, data.data(), static_cast<int>(data.size()), &moved, n ? n : 1000);
    } else if (name == "sleep") {  // n: nanoseconds
      const timespec request{0, n};
      result = nanosleep(&request, nullptr);
    } else if (name == "clocks") {  // 1: the monotonic clock counts on from the real one; 2: the others are real
      result = (std::abs(Micros() - Micros(CLOCK_MONOTONIC_RAW)) < 1'000'000) +
               2 * (std::abs(Micros(CLOCK_REALTIME) - std::int64_t{time(nullptr)} * 1'000'000) < 2'000'000);
    }
    log.append(" ").append(std::to_string(result));
    if (name != "in" && name != "sleep") continue;
    log += "/";
    for (int i = 0; i < moved && moved <= 16; ++i) log += "0123456789ABCDEF"[data[i] >> 4], log += "0123456789ABCDEF"[data[i] & 15];
    if (moved > 16) log.append("#").append(std::to_string(moved));
    log.append("/").append(std::to_string(Micros() - start));
  }
  if (handle != nullptr) libusb_close(handle);
  return log + "\n";
}

// The log of the steps in a child process with these options, then what the stand-in says on
// standard error at its exit; a child that hangs dies in 10 s.
std::string InChild(const char* options, const std::string& steps) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  std::fflush(nullptr);
  if (fork() == 0) {
    alarm(10);
    dup2(out[1], 2);
    setenv("QZSIM_OPTIONS", options, 1);
    const std::string log = Steps(steps);
    std::exit(write(out[1], log.data(), log.size()) < 0);
  }
  close(out[1]);
  std::string log;
  char buffer[256];
  for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) log.append(buffer, static_cast<std::size_t>(got));
  close(out[0]);
  wait(nullptr);
  return log;
}

// Results: 0 success, -4 no device, -5 not found, -6 busy, -7 time-out, -9 stall.
// Answers lead with the status bytes 32 60; the power-on latency timer is 16 ms.
TEST(UsbStandIn, AsLibftdi1SeesIt) {
  const std::string ready = "open detach:0 claim:0 mpsse ";
  // TCK at 1 MHz, TMS high, reset released.
  const std::string setUp = ready + "outA:8A978D80181B861D00 ";
  const struct { const char* options; std::string steps, log; } cases[] = {
      // ftdi_sio holds both interfaces until detached, or claimed with auto-detach.
      {"", "open claim:0 outA:00 detach:0 detach:0 claim:0 claim:1 autodetach claim:1", " 0 -6 -6 0 -5 0 -6 0 0\n"},
      // Nothing to send: the status bytes alone when the latency timer fires, or the time-out.
      // Latency waits are no sleeps of the program's.
      {"--stats", "open detach:0 in in:16 latency:2 in in:1 latency:0 in",
       " 0 0 0/3260/16000 0/3260/16000 0 0/3260/2000 -7//1000 -9 0/3260/2000\nvirtual-usb: protocol warnings: 1 (unknown USB"
       " request 1)\nvirtual-usb: stats: virtual 0.037 s, sleeps 0 ms, writes 0 (0 bytes), reads 5 (8 bytes), TCK 0 ms, answer waits 37 ms, sync echoes 0\n"},
      // Sleeps move the virtual clock, rounded up to the microsecond, and count as the program's.
      {"--stats", "open clocks sleep:1500000 sleep:1 sleep:0 clocks", " 0 3 0//1500 0//1 0//0 3\nvirtual-usb: stats: virtual"
       " 0.001 s, sleeps 1 ms, writes 0 (0 bytes), reads 0 (0 bytes), TCK 0 ms, answer waits 0 ms, sync echoes 0\n"},
      // An answer leaves when the latency timer runs out after it came in; a purge of what goes
      // to the host (2) drops it, one of what comes from it (1) does not. 600 reads at 6 MHz
      // (divide-by-5 on, divisor 0), 4/3 us each: 510 leave when their packet fills, at 680 us,
      // the rest 16 ms after the 511th came.
      {"", ready + "outA:AA in outA:AA purge:1 in outA:AA purge:2 in:1 scans:600 in", " 0 0 0 0 0 0/3260FAAA/16000 0 0"
       " 0/3260FAAA/16000 0 0 -7//1000 0 0/#604/16682\nvirtual-usb: protocol warnings: 602 (scan before clock set-up 600, bad-command echo 2)\n"},
      {"--late-replies 1", ready + "outA:AA in in in", " 0 0 0 0 0 0/3260FA/16000 0/3260AA/0 0/3260/16000\n"},
      // Only port A's OUT transfers count; after the unplug everything fails and the bus is empty.
      {"--unplug-after 2", ready + "detach:1 outB:00 outA:AA outB:AA in outA:AA in latency:2 release:0 claim:1 detach:1 config:1 list open",
       " 0 0 0 0 0 0 0 0 0/3260FAAA/16000 0 -4//0 -4 -4 -4 -4 -4 0 -4\nvirtual-usb: protocol warnings: 1 (bad-command echo 1)\n"},
      // An IN request waits for a send-immediate after the 8 clocks of a read, or for the latency
      // timer after them.
      {"", setUp + "latency:2 outA:2A0787 in outA:2A07 in", " 0 0 0 0 0 0 0 0/3260FF/8 0 0/3260FF/2008\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(InChild(c.options, c.steps), c.log) << c.options << ": " << c.steps;
}

}  // namespace
