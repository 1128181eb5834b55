// The libusb stand-in from libftdi1's side: claims and the kernel's serial driver, the latency
// timer, the virtual clock, late answers, unplugging and the opening faults. Each case runs in
// a child process, whose first libusb call sets up a bench from QZSIM_OPTIONS, and reports
// what it saw as one line. Results: 0 success, -3 access, -4 no device, -5 not found, -6 busy,
// -7 time-out, -9 stall.
#include <gtest/gtest.h>
#include <libusb.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace {

class Host {
 public:
  std::string log;

  Host& Open() {
    libusb_context* context = nullptr;
    libusb_device** list = nullptr;
    libusb_init(&context);
    const ssize_t count = libusb_get_device_list(context, &list);
    const int result = count > 0 ? libusb_open(list[0], &handle_) : LIBUSB_ERROR_NO_DEVICE;
    libusb_free_device_list(list, 1);
    return Note("open", result);
  }
  Host& Detach(int interface) { return Note("detach", libusb_detach_kernel_driver(handle_, interface)); }
  Host& AutoDetach() { return Note("auto", libusb_set_auto_detach_kernel_driver(handle_, 1)); }
  Host& Claim(int interface) { return Note("claim", libusb_claim_interface(handle_, interface)); }
  Host& Release(int interface) { return Note("release", libusb_release_interface(handle_, interface)); }
  // Port A: 0x0B sets the bit mode (0x02 MPSSE), 0x09 the latency timer in ms.
  Host& Vendor(std::uint8_t request, std::uint16_t value) {
    return Note("vendor", libusb_control_transfer(handle_, 0x40, request, value, 1, nullptr, 0, 1000));
  }
  Host& Out(std::vector<std::uint8_t> bytes, std::uint8_t endpoint = 0x02) {
    int moved = 0;
    return Note("out", libusb_bulk_transfer(handle_, endpoint, bytes.data(), static_cast<int>(bytes.size()),
                                            &moved, 1000));
  }
  // " in RESULT HEX MICROS": the bytes and the virtual time the transfer took.
  Host& In(unsigned timeoutMs = 1000) {
    unsigned char data[512];
    int moved = 0;
    const std::uint64_t start = Now();
    Note("in", libusb_bulk_transfer(handle_, 0x81, data, sizeof data, &moved, timeoutMs));
    for (int i = 0; i < moved; ++i) log += (i ? "" : " ") + Hex(data[i]);
    log += " " + std::to_string(Now() - start);
    return *this;
  }
  Host& Sleep(long nanos) {
    const std::uint64_t start = Now();
    const timespec request{0, nanos};
    nanosleep(&request, nullptr);
    log += " slept " + std::to_string(Now() - start);
    return *this;
  }

 private:
  Host& Note(const char* what, int result) {
    log += std::string(log.empty() ? "" : " ") + what + " " + std::to_string(result);
    return *this;
  }
  static std::string Hex(unsigned char byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
  }
  static std::uint64_t Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
  }
  libusb_device_handle* handle_ = nullptr;
};

// The host's log from a child process with these options; the child gets ten seconds.
std::string InChild(const char* options, const std::function<void(Host&)>& steps) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    setenv("QZSIM_OPTIONS", options, 1);
    Host host;
    steps(host);
    if (write(out[1], host.log.data(), host.log.size()) < 0) _exit(1);
    _exit(0);
  }
  close(out[1]);
  std::string log;
  char buffer[256];
  for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) log.append(buffer, static_cast<std::size_t>(got));
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return log;
}

void Ready(Host& host) { host.Open().Detach(0).Claim(0).Vendor(0x0B, 0x0200); }

TEST(UsbStandIn, AsLibftdi1SeesIt) {
  const struct {
    const char* name;
    const char* options;
    std::function<void(Host&)> steps;
    std::string log;
  } cases[] = {
      {"ftdi_sio holds both interfaces until detached", "",
       [](Host& h) { h.Open().Claim(0).Out({0x00}).Detach(0).Detach(0).Claim(0).Claim(1).AutoDetach().Claim(1); },
       "open 0 claim -6 out -6 detach 0 detach -5 claim 0 claim -6 auto 0 claim 0"},
      {"nothing to send: the status bytes when the latency timer fires", "",
       [](Host& h) { Ready(h); h.In().Vendor(0x09, 2).In().In(1).Vendor(0x09, 0).In(); },
       "open 0 detach 0 claim 0 vendor 0 in 0 3260 16000 vendor 0 in 0 3260 2000 in -7 1000 vendor -9 in 0 3260 2000"},
      {"an answer goes at once", "",
       [](Host& h) { Ready(h); h.Out({0xAA}).In(); }, "open 0 detach 0 claim 0 vendor 0 out 0 in 0 3260FAAA 0"},
      {"sleeps move the virtual clock, rounded up to the microsecond", "",
       [](Host& h) { h.Open().Sleep(1'500'000).Sleep(1).Sleep(0); }, "open 0 slept 1500 slept 1 slept 0"},
      {"late answers, one byte per IN transfer", "--late-replies 1",
       [](Host& h) { Ready(h); h.Out({0xAA}).In().In().In(); },
       "open 0 detach 0 claim 0 vendor 0 out 0 in 0 3260FA 0 in 0 3260AA 0 in 0 3260 16000"},
      {"unplugged after port A's second OUT transfer; port B's do not count", "--unplug-after 2",
       [](Host& h) {
         Ready(h);
         h.Detach(1).Claim(1).Out({0x00}, 0x04).Out({0xAA}).Out({0xAA}, 0x04).In().Out({0xAA}).In().Vendor(0x09, 2).Release(0).Claim(1).Open();
       },
       "open 0 detach 0 claim 0 vendor 0 detach 0 claim 0 out 0 out 0 out 0 in 0 3260FAAA 0 out 0 in -4 0 vendor -4 "
       "release -4 claim -4 open -4"},
      {"--usb-error access", "--usb-error access", [](Host& h) { h.Open(); }, "open -3"},
      {"--usb-error no-device", "--usb-error no-device", [](Host& h) { h.Open(); }, "open -4"},
      {"--usb-error busy", "--usb-error busy", [](Host& h) { h.Open().Detach(0).Claim(0).Out({0x00}); },
       "open 0 detach 0 claim -6 out -6"},
  };
  for (const auto& c : cases) EXPECT_EQ(InChild(c.options, c.steps), c.log) << c.name;
}

}  // namespace
