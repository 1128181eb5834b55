// The libusb stand-in called as libftdi1 calls it: claims and the kernel's serial driver, the
// latency timer, the virtual clock, late answers, unplugging and the opening faults. Each case
// runs in a child process, whose first libusb call sets up a bench from QZSIM_OPTIONS.
#include <gtest/gtest.h>
#include <libusb.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <sstream>
#include <string>

namespace {

std::uint64_t Micros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

// Steps "name" or "name:N" (hexadecimal for out, else decimal), each logged as " step=RESULT";
// in and sleep add "/" with the bytes received in hexadecimal and the virtual micros taken.
std::string Steps(const std::string& steps) {
  std::istringstream in(steps);
  std::string log;
  libusb_device_handle* handle = nullptr;
  for (std::string step; in >> step;) {
    const std::string name = step.substr(0, step.find(':'));
    const int n = name == step ? 0 : std::stoi(step.substr(name.size() + 1), nullptr, name.starts_with("out") ? 16 : 10);
    unsigned char data[512] = {static_cast<unsigned char>(n)};
    int result = 0, moved = 0;
    const std::uint64_t start = Micros();
    if (name == "open") {
      libusb_device** list = nullptr;
      libusb_init(nullptr);
      result = libusb_get_device_list(nullptr, &list) > 0 ? libusb_open(list[0], &handle) : LIBUSB_ERROR_NO_DEVICE;
      libusb_free_device_list(list, 1);
    } else if (name == "claim" || name == "release" || name == "detach") {
      result = (name == "claim"     ? libusb_claim_interface
                : name == "release" ? libusb_release_interface
                                    : libusb_detach_kernel_driver)(handle, n);
    } else if (name == "autodetach") {
      result = libusb_set_auto_detach_kernel_driver(handle, 1);
    } else if (name == "mpsse" || name == "latency") {  // FTDI's vendor requests 0x0B and 0x09, port A
      result = libusb_control_transfer(handle, 0x40, name == "mpsse" ? 0x0B : 0x09, name == "mpsse" ? 0x0200 : n, 1,
                                       nullptr, 0, 1000);
    } else if (name == "outA" || name == "outB") {
      result = libusb_bulk_transfer(handle, name == "outA" ? 0x02 : 0x04, data, 1, &moved, 1000);
    } else if (name == "in") {  // n: the time-out in ms
      result = libusb_bulk_transfer(handle, 0x81, data, sizeof data, &moved, n ? n : 1000);
    } else if (name == "sleep") {  // n: nanoseconds
      const timespec request{0, n};
      result = nanosleep(&request, nullptr);
    }
    log += " " + step + "=" + std::to_string(result);
    if (name == "in" || name == "sleep") {
      log += "/";
      for (int i = 0; i < moved; ++i) log += "0123456789ABCDEF"[data[i] >> 4], log += "0123456789ABCDEF"[data[i] & 15];
      log += "/" + std::to_string(Micros() - start);
    }
  }
  return log;
}

// The log of the steps in a child process with these options; a child that hangs dies in 10 s.
std::string InChild(const char* options, const std::string& steps) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  if (fork() == 0) {
    alarm(10);
    setenv("QZSIM_OPTIONS", options, 1);
    const std::string log = Steps(steps);
    _exit(write(out[1], log.data(), log.size()) < 0);
  }
  close(out[1]);
  std::string log;
  char buffer[256];
  for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) log.append(buffer, static_cast<std::size_t>(got));
  close(out[0]);
  wait(nullptr);
  return log;
}

// Results: 0 success, -3 access, -4 no device, -5 not found, -6 busy, -7 time-out, -9 stall.
// Answers lead with the status bytes 32 60; the power-on latency timer is 16 ms.
TEST(UsbStandIn, AsLibftdi1SeesIt) {
  const char* const ready = "open detach:0 claim:0 mpsse ";
  const struct {
    const char* options;
    std::string steps, log;
  } cases[] = {
      // ftdi_sio holds both interfaces until detached, or claimed with auto-detach.
      {"", "open claim:0 outA:0 detach:0 detach:0 claim:0 claim:1 autodetach claim:1",
       " open=0 claim:0=-6 outA:0=-6 detach:0=0 detach:0=-5 claim:0=0 claim:1=-6 autodetach=0 claim:1=0"},
      // Nothing to send: the status bytes alone when the latency timer fires, or the time-out.
      {"", "open detach:0 in latency:2 in in:1 latency:0 in",
       " open=0 detach:0=0 in=0/3260/16000 latency:2=0 in=0/3260/2000 in:1=-7//1000 latency:0=-9 in=0/3260/2000"},
      {"", std::string(ready) + "outA:AA in sleep:1500000 sleep:1 sleep:0",
       " open=0 detach:0=0 claim:0=0 mpsse=0 outA:AA=0 in=0/3260FAAA/0 sleep:1500000=0//1500 sleep:1=0//1 sleep:0=0//0"},
      {"--late-replies 1", std::string(ready) + "outA:AA in in in",
       " open=0 detach:0=0 claim:0=0 mpsse=0 outA:AA=0 in=0/3260FA/0 in=0/3260AA/0 in=0/3260/16000"},
      // Only port A's OUT transfers count; after the unplug everything fails, the list is empty.
      {"--unplug-after 2", std::string(ready) + "detach:1 outB:0 outA:AA outB:AA in outA:AA in latency:2 release:0 claim:1 open",
       " open=0 detach:0=0 claim:0=0 mpsse=0 detach:1=0 outB:0=0 outA:AA=0 outB:AA=0 in=0/3260FAAA/0 outA:AA=0"
       " in=-4//0 latency:2=-4 release:0=-4 claim:1=-4 open=-4"},
      {"--usb-error access", "open", " open=-3"},
      {"--usb-error no-device", "open", " open=-4"},
      {"--usb-error busy", "open detach:0 claim:0 outA:0", " open=0 detach:0=0 claim:0=-6 outA:0=-6"},
  };
  for (const auto& c : cases) EXPECT_EQ(InChild(c.options, c.steps), c.log) << c.options << ": " << c.steps;
}

}  // namespace
