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

std::string Hex(const unsigned char* data, int count) {
  std::string hex;
  if (count > 16) return hex.append("#").append(std::to_string(count));
  for (int i = 0; i < count; ++i) hex += "0123456789ABCDEF"[data[i] >> 4], hex += "0123456789ABCDEF"[data[i] & 15];
  return hex;
}

// Asynchronous transfers log their callbacks as " cbEP:STATUS/BYTES". The callback of ainnest
// handles events (logged " nested:RESULT"), that of ainagain submits its transfer once more
// (" again:RESULT"); ainfree and ainagain free their transfers themselves, the library the others.
std::string* callbacks = nullptr;
libusb_transfer* lastTransfer = nullptr;
char nest, again;

void LIBUSB_CALL Ended(libusb_transfer* transfer) {
  callbacks->append(" cb").append(Hex(&transfer->endpoint, 1)).append(":").append(std::to_string(transfer->status));
  const bool control = transfer->type == LIBUSB_TRANSFER_TYPE_CONTROL;
  callbacks->append("/").append(Hex(control ? libusb_control_transfer_get_data(transfer) : transfer->buffer, transfer->actual_length));
  timeval now{0, 0};
  if (transfer->user_data == &nest) callbacks->append(" nested:").append(std::to_string(libusb_handle_events_timeout(nullptr, &now)));
  if (transfer->user_data == &again) {
    transfer->user_data = nullptr;
    const int result = libusb_submit_transfer(transfer);
    callbacks->append(" again:").append(std::to_string(result));
    if (result == 0) return;
  }
  if ((transfer->flags & LIBUSB_TRANSFER_FREE_TRANSFER) == 0) std::free(transfer->buffer), libusb_free_transfer(transfer);
}

// Async IN transfers time out after 10 ms.
int Submit(libusb_device_handle* handle, const std::string& name, const std::string& arg) {
  const bool out = name == "aout", control = name == "actl";
  const int length = out ? static_cast<int>(arg.size() / 2) : control ? 9 : std::stoi(arg);
  auto* buffer = static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(length) + 1, 1));
  for (int i = 0; out && i < length; ++i) buffer[i] = static_cast<unsigned char>(std::stoi(arg.substr(2 * i, 2), nullptr, 16));
  lastTransfer = libusb_alloc_transfer(0);
  if (control) {  // FTDI's get-latency request on port A
    libusb_fill_control_setup(buffer, 0xC0, 0x0A, 0, 1, 1);
    libusb_fill_control_transfer(lastTransfer, handle, buffer, Ended, nullptr, 1000);
  } else {
    void* special = name == "ainnest" ? &nest : name == "ainagain" ? &again : nullptr;
    libusb_fill_bulk_transfer(lastTransfer, handle, out ? 0x02 : 0x81, buffer, length, Ended, special, 10);
  }
  if (name == "ainshort") lastTransfer->flags |= LIBUSB_TRANSFER_SHORT_NOT_OK;
  if (name != "ainfree" && name != "ainagain") lastTransfer->flags |= LIBUSB_TRANSFER_FREE_BUFFER | LIBUSB_TRANSFER_FREE_TRANSFER;
  const int result = libusb_submit_transfer(lastTransfer);
  if (result != 0) lastTransfer->flags |= LIBUSB_TRANSFER_FREE_BUFFER, libusb_free_transfer(lastTransfer);
  return result;
}

// Steps "name" or "name:N" (outA and outB: "name:BYTES" in hexadecimal), each logged as
// " RESULT"; in and sleep add "/", the bytes received in hexadecimal (or "#count" past 16), "/"
// and the virtual micros taken. events:MS handles events for up to MS ms and adds the
// callbacks and "/" and the micros taken; on the real clock, revents does without the micros.
std::string Steps(const std::string& steps) {
  const std::map<std::string, std::uint8_t> vendor = {{"purge", 0x00}, {"latency", 0x09}, {"mpsse", 0x0B}};
  const std::map<std::string, int (*)(libusb_device_handle*, int)> onInterface = {
      {"claim", libusb_claim_interface}, {"release", libusb_release_interface},
      {"detach", libusb_detach_kernel_driver}, {"config", libusb_set_configuration}};
  std::istringstream in(steps);
  std::string log;
  libusb_device_handle* handle = nullptr;
  libusb_device** list = nullptr;
  callbacks = &log;
  for (std::string step; in >> step;) {
    const std::string name = step.substr(0, step.find(':')), arg = name == step ? "" : step.substr(name.size() + 1);
    const int n = arg.empty() || name.starts_with("out") || name == "aout" ? 0 : std::stoi(arg);
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
    } else if (name.starts_with("ain") || name == "aout" || name == "actl") {
      result = Submit(handle, name, arg);
    } else if (name == "cancel") {
      result = libusb_cancel_transfer(lastTransfer);
    } else if (name.ends_with("events")) {
      timeval wait{n / 1000, n % 1000 * 1000};
      result = libusb_handle_events_timeout_completed(nullptr, &wait, nullptr);
      log.append(" ").append(std::to_string(result));
      if (name == "events") log.append("/").append(std::to_string(Micros() - start));
      continue;
    } else if (name == "clocks") {  // 1: the monotonic clock counts on from the real one; 2: the others are real
      result = (std::abs(Micros() - Micros(CLOCK_MONOTONIC_RAW)) < 1'000'000) +
               2 * (std::abs(Micros(CLOCK_REALTIME) - std::int64_t{time(nullptr)} * 1'000'000) < 2'000'000);
    }
    log.append(" ").append(std::to_string(result));
    if (name != "in" && name != "sleep") continue;
    log.append("/").append(Hex(data.data(), moved)).append("/").append(std::to_string(Micros() - start));
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

// Statuses: 0 completed, 1 error, 2 timed out, 3 cancelled, 5 no device, 6 overflow. Callbacks
// come from event handling, each endpoint's in submission order; an OUT transfer reaches the chip
// at its submission.
TEST(UsbStandIn, AsynchronousTransfers) {
  const std::string setUp = "open detach:0 claim:0 mpsse outA:8A978D80181B861D00 latency:2 ";
  const struct { const char* options; std::string steps, log; } cases[] = {
      // The OUT and control transfers have ended by the first round; each IN takes what one
      // send-immediate passed on.
      {"", setUp + "ain:64 ain:64 aout:2A07872A0787 actl events:100 events:100 events:100",
       " 0 0 0 0 0 0 0 0 0 0 cb02:0/2A07872A0787 cb00:0/02 0/0 cb81:0/3260FF 0/8 cb81:0/3260FF 0/8"},
      // Time-outs: the event wait's, then the transfer's before the latency timer fires.
      {"", setUp + "latency:16 ain:64 events:4 events:100", " 0 0 0 0 0 0 0 0 0/4000 cb81:2/ 0/6000"},
      {"", setUp + "ain:64 cancel cancel events:0 ain:1 ainshort:64 events:100 events:100",
       " 0 0 0 0 0 0 0 0 -5 cb81:3/ 0/0 0 0 cb81:6/ 0/2000 cb81:1/3260 0/2000"},
      // A callback that frees its transfer, one that handles events (refused); submitted again
      // in a callback, a transfer ends in a later round.
      {"", setUp + "ainfree:64 ainnest:64 ainagain:64 events:100 events:100 events:100 events:100",
       " 0 0 0 0 0 0 0 0 0 cb81:0/3260 0/2000 cb81:0/3260 nested:-6 0/2000 cb81:0/3260 again:0 0/2000 cb81:0/3260 0/2000"},
      // Unplugged with a transfer in flight.
      {"--unplug-after 2", setUp + "ain:64 aout:AA events:100 aout:AA cancel",
       " 0 0 0 0 0 0 0 0 cb81:5/ cb02:0/AA 0/0 -4 -5\nvirtual-usb: protocol warnings: 1 (bad-command echo 1)\n"},
      {"--realtime", setUp + "latency:5 aout:2A07 ain:64 revents:1000 revents:1000", " 0 0 0 0 0 0 0 0 0 cb02:0/2A07 0 cb81:0/3260FF 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(InChild(c.options, c.steps), c.log + (c.log.ends_with("\n") ? "" : "\n")) << c.options << ": " << c.steps;
}

}  // namespace
