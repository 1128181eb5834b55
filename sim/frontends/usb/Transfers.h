// libusb's asynchronous transfers on the virtual bus. An OUT or control transfer reaches the chip
// when it is submitted, as a host controller sends it at once; an IN transfer waits on the chip
// while events are handled. Callbacks run only from event handling, each endpoint's in
// submission order, and only for transfers submitted before that round of handling began.
#pragma once

#include <libusb.h>

#include <cstdint>
#include <deque>
#include <optional>

#include "Ft2232h.h"

namespace qzsim::usb {

class Transfers {
 public:
  Transfers(Ft2232h& chip, VirtualClock& clock) : chip_(chip), clock_(clock) {}

  // libusb_submit_transfer's results.
  int Submit(libusb_transfer* transfer);
  // libusb_cancel_transfer's: the callback follows with LIBUSB_TRANSFER_CANCELLED.
  int Cancel(libusb_transfer* transfer);
  // Freeing a transfer in flight is the program's error; it is forgotten rather than followed
  // into freed memory.
  void Forget(const libusb_transfer* transfer);
  bool InFlight() const { return !flight_.empty(); }
  // Runs the callbacks of transfers that have ended; with none, waits until one ends or the
  // clock reaches `until`, and runs them then. From inside a callback LIBUSB_ERROR_BUSY, as
  // libusb refuses to handle events recursively.
  int Handle(std::uint64_t until, const int* completed);

 private:
  struct Flight {
    libusb_transfer* transfer;
    std::uint64_t serial;
    Ft2232h::InTransfer in;
    std::optional<libusb_transfer_status> ended;
  };

  std::deque<Flight>::iterator Find(const libusb_transfer* transfer);
  // Moves the first IN transfer of each endpoint on, waiting no later than `until`; false when
  // there is none to wait for.
  bool MoveIn(std::uint64_t until);
  // The callbacks of transfers ended before `serial`; false when there were none.
  bool Deliver(std::uint64_t serial);
  // No transfer submitted before `at` on its endpoint is still going.
  bool FirstOnEndpoint(std::deque<Flight>::const_iterator at) const;

  Ft2232h& chip_;
  VirtualClock& clock_;
  std::deque<Flight> flight_;
  std::uint64_t serial_ = 0;
  bool handling_ = false;
};

}  // namespace qzsim::usb
