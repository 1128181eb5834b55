// The run of one process under the libusb stand-in: the bench set up from QZSIM_OPTIONS, the
// FT2232H on the virtual bus, and what the host side holds of it.
#pragma once

#include <libusb.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>

#include "Ft2232h.h"
#include "StandIn.h"
#include "Transfers.h"

namespace qzsim::usb {

struct Session {
  Session();

  StandIn standIn;
  Ft2232h chip;
  Transfers transfers;
  // Virtual time counts on from the real monotonic clock at the start, so that the program's
  // clock never goes back.
  const std::uint64_t startMicros;
  // As on a machine where ftdi_sio is installed: it holds both interfaces until detached.
  std::array<bool, Ft2232h::kInterfaces> kernelDriver{true, true};
  std::array<libusb_device_handle*, Ft2232h::kInterfaces> claimedBy{};
  // A transfer is under way: a sleep now is the chip's latency wait, not one of the program's.
  bool inTransfer = false;
  // The process is ending through exit(), with this status.
  bool exiting = false;
  int exitStatus = 0;
  // The calls the stand-in cannot serve that the program has made, each said once.
  std::set<std::string> unserved;
};

// Set up at the program's first libusb call and kept to the very end of the process, whose
// exit handlers may still read the clock; nullptr before.
Session* CurrentSession();
// The session, set up now if need be.
Session& Current();

// usbfs claims an interface itself for a transfer when nothing holds it; the kernel's serial
// driver still holding it, or another program (--usb-error busy), makes the claim fail.
int Claim(libusb_device_handle* handle, int interface, bool detachDriver);

// A call the stand-in cannot serve, said once on standard error; the caller returns the call's
// failure.
void Unserved(const std::string& call);

// The clock libc would have read, in microseconds.
std::uint64_t RealMonotonicMicros();

}  // namespace qzsim::usb
