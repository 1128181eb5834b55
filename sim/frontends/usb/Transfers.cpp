#include "Transfers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "Session.h"

namespace qzsim::usb {

namespace {

// libusb_handle_events and its like without a time-out wait as long as libusb's.
constexpr std::uint64_t kDefaultEventWaitMicros = 60'000'000;

constexpr int kSetupBytes = LIBUSB_CONTROL_SETUP_SIZE;

libusb_transfer_status StatusOf(int result) {
  switch (result) {
    case LIBUSB_SUCCESS: return LIBUSB_TRANSFER_COMPLETED;
    case LIBUSB_ERROR_TIMEOUT: return LIBUSB_TRANSFER_TIMED_OUT;
    case LIBUSB_ERROR_OVERFLOW: return LIBUSB_TRANSFER_OVERFLOW;
    case LIBUSB_ERROR_NO_DEVICE: return LIBUSB_TRANSFER_NO_DEVICE;
    case LIBUSB_ERROR_PIPE: return LIBUSB_TRANSFER_STALL;
  }
  return LIBUSB_TRANSFER_ERROR;
}

bool In(const libusb_transfer& transfer) { return (transfer.endpoint & LIBUSB_ENDPOINT_IN) != 0; }

}  // namespace

std::deque<Transfers::Flight>::iterator Transfers::Find(const libusb_transfer* transfer) {
  return std::find_if(flight_.begin(), flight_.end(),
                      [transfer](const Flight& f) { return f.transfer == transfer; });
}

int Transfers::Submit(libusb_transfer* transfer) {
  if (transfer == nullptr || transfer->dev_handle == nullptr || transfer->length < 0 ||
      (transfer->buffer == nullptr && transfer->length > 0)) {
    return LIBUSB_ERROR_INVALID_PARAM;
  }
  if (Find(transfer) != flight_.end()) return LIBUSB_ERROR_BUSY;
  if (!chip_.Present()) return LIBUSB_ERROR_NO_DEVICE;
  Flight flight{transfer, serial_, {}, {}};
  transfer->actual_length = 0;
  if (transfer->type == LIBUSB_TRANSFER_TYPE_CONTROL) {
    libusb_control_setup setup{};
    if (transfer->length < kSetupBytes) return LIBUSB_ERROR_INVALID_PARAM;
    std::memcpy(&setup, transfer->buffer, sizeof setup);
    const std::uint16_t length = libusb_le16_to_cpu(setup.wLength);
    if (transfer->length < kSetupBytes + length) return LIBUSB_ERROR_INVALID_PARAM;
    const int result = chip_.Control(setup.bmRequestType, setup.bRequest,
                                     libusb_le16_to_cpu(setup.wValue),
                                     libusb_le16_to_cpu(setup.wIndex),
                                     transfer->buffer + kSetupBytes, length);
    transfer->actual_length = std::max(result, 0);
    flight.ended = StatusOf(std::min(result, 0));
  } else if (transfer->type == LIBUSB_TRANSFER_TYPE_BULK) {
    const auto interface = Ft2232h::InterfaceOf(transfer->endpoint);
    if (!interface) return LIBUSB_ERROR_NOT_FOUND;
    if (const int claim = Claim(transfer->dev_handle, *interface, false); claim != 0) return claim;
    if (In(*transfer)) {
      flight.in = chip_.StartIn(transfer->buffer, transfer->length, transfer->timeout);
    } else {
      const int result = chip_.Bulk(transfer->endpoint, transfer->buffer, transfer->length, 0,
                                    transfer->actual_length);
      flight.ended = StatusOf(result);
    }
  } else {
    Unserved("libusb_submit_transfer of an isochronous, interrupt or stream transfer");
    return LIBUSB_ERROR_NOT_SUPPORTED;
  }
  ++serial_;
  flight_.push_back(flight);
  return LIBUSB_SUCCESS;
}

int Transfers::Cancel(libusb_transfer* transfer) {
  const auto flight = Find(transfer);
  if (flight == flight_.end() || flight->ended) return LIBUSB_ERROR_NOT_FOUND;
  chip_.Abandon(flight->in, "LIBUSB_TRANSFER_CANCELLED");
  transfer->actual_length = flight->in.taken;
  flight->ended = LIBUSB_TRANSFER_CANCELLED;
  return LIBUSB_SUCCESS;
}

void Transfers::Forget(const libusb_transfer* transfer) {
  if (const auto flight = Find(transfer); flight != flight_.end()) flight_.erase(flight);
}

bool Transfers::FirstOnEndpoint(std::deque<Flight>::const_iterator at) const {
  return std::none_of(flight_.begin(), at, [at](const Flight& f) {
    return !f.ended && f.transfer->endpoint == at->transfer->endpoint;
  });
}

int Transfers::Handle(std::uint64_t until, const int* completed) {
  if (handling_) return LIBUSB_ERROR_BUSY;
  if (completed != nullptr && *completed != 0) return LIBUSB_SUCCESS;
  handling_ = true;
  for (;;) {
    MoveIn(clock_.NowMicros());
    if (Deliver(serial_) || clock_.NowMicros() >= until) break;
    if (!MoveIn(until)) {
      // Nothing to wait for: the program's wait runs out. On the real clock `until` may have
      // passed meanwhile.
      const std::uint64_t now = clock_.NowMicros();
      if (until > now) clock_.SleepMicros(until - now);
      break;
    }
  }
  handling_ = false;
  return LIBUSB_SUCCESS;
}

bool Transfers::MoveIn(std::uint64_t until) {
  bool waiting = false;
  for (auto flight = flight_.begin(); flight != flight_.end(); ++flight) {
    if (flight->ended || !In(*flight->transfer) || !FirstOnEndpoint(flight)) continue;
    waiting = true;
    const std::optional<int> result = chip_.MoveIn(flight->transfer->endpoint, flight->in, until);
    flight->transfer->actual_length = flight->in.taken;
    if (!result) continue;
    flight->ended = StatusOf(*result);
    // The others only take what has come by then.
    until = clock_.NowMicros();
  }
  return waiting;
}

bool Transfers::Deliver(std::uint64_t serial) {
  bool delivered = false;
  for (;;) {
    auto flight = flight_.begin();
    while (flight != flight_.end() &&
           !(flight->ended && flight->serial < serial && FirstOnEndpoint(flight))) {
      ++flight;
    }
    if (flight == flight_.end()) return delivered;
    libusb_transfer* transfer = flight->transfer;
    transfer->status = *flight->ended;
    flight_.erase(flight);
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED &&
        (transfer->flags & LIBUSB_TRANSFER_SHORT_NOT_OK) != 0 &&
        transfer->actual_length < transfer->length) {
      transfer->status = LIBUSB_TRANSFER_ERROR;
    }
    // As libusb: the flags as they were before the callback, which may free the transfer.
    const std::uint8_t flags = transfer->flags;
    if (transfer->callback != nullptr) transfer->callback(transfer);
    if ((flags & LIBUSB_TRANSFER_FREE_TRANSFER) != 0) libusb_free_transfer(transfer);
    delivered = true;
  }
}

}  // namespace qzsim::usb

using qzsim::usb::CurrentSession;
using qzsim::usb::Session;

namespace {

qzsim::usb::Transfers& InFlight() { return qzsim::usb::Current().transfers; }

// Events are handled on the bench's clock; waits for the chip are latency waits, not sleeps of
// the program's.
int HandleEvents(const timeval* timeout, const int* completed) {
  std::uint64_t wait = qzsim::usb::kDefaultEventWaitMicros;
  if (timeout != nullptr) {
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0 || timeout->tv_usec >= 1'000'000) {
      return LIBUSB_ERROR_INVALID_PARAM;
    }
    wait = static_cast<std::uint64_t>(timeout->tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(timeout->tv_usec);
  }
  Session& run = qzsim::usb::Current();
  const std::uint64_t now = run.standIn.TheBench().Clock().NowMicros();
  const std::uint64_t until = wait > std::numeric_limits<std::uint64_t>::max() - now
                                  ? std::numeric_limits<std::uint64_t>::max()
                                  : now + wait;
  const bool outer = !run.inTransfer;
  run.inTransfer = true;
  const int result = run.transfers.Handle(until, completed);
  if (outer) run.inTransfer = false;
  return result;
}

}  // namespace

libusb_transfer* libusb_alloc_transfer(int isoPackets) {
  if (isoPackets < 0) return nullptr;
  const std::size_t isoSize =
      static_cast<std::size_t>(isoPackets) * sizeof(libusb_iso_packet_descriptor);
  auto* transfer = static_cast<libusb_transfer*>(std::calloc(1, sizeof(libusb_transfer) + isoSize));
  if (transfer != nullptr) transfer->num_iso_packets = isoPackets;
  return transfer;
}

void libusb_free_transfer(libusb_transfer* transfer) {
  if (transfer == nullptr) return;
  if (CurrentSession() != nullptr) InFlight().Forget(transfer);
  if ((transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) != 0) std::free(transfer->buffer);
  std::free(transfer);
}

int libusb_submit_transfer(libusb_transfer* transfer) { return InFlight().Submit(transfer); }

int libusb_cancel_transfer(libusb_transfer* transfer) { return InFlight().Cancel(transfer); }

int libusb_handle_events_timeout_completed(libusb_context*, timeval* timeout, int* completed) {
  return HandleEvents(timeout, completed);
}

int libusb_handle_events_timeout(libusb_context*, timeval* timeout) {
  return HandleEvents(timeout, nullptr);
}

int libusb_handle_events(libusb_context*) { return HandleEvents(nullptr, nullptr); }

int libusb_handle_events_completed(libusb_context*, int* completed) {
  return HandleEvents(nullptr, completed);
}

int libusb_handle_events_locked(libusb_context*, timeval* timeout) {
  return HandleEvents(timeout, nullptr);
}

// One thread handles events at a time here: the program's own, and the lock is always free.
int libusb_try_lock_events(libusb_context*) { return 0; }

void libusb_lock_events(libusb_context*) {}

void libusb_unlock_events(libusb_context*) {}

int libusb_event_handling_ok(libusb_context*) { return 1; }

int libusb_event_handler_active(libusb_context*) { return 0; }

void libusb_interrupt_event_handler(libusb_context*) {}

void libusb_lock_event_waiters(libusb_context*) {}

void libusb_unlock_event_waiters(libusb_context*) {}

// With no other thread to handle them, the waiter handles the events itself.
int libusb_wait_for_event(libusb_context*, timeval* timeout) {
  return HandleEvents(timeout, nullptr) == LIBUSB_SUCCESS ? 0 : 1;
}

// No file descriptors to poll: a program with its own loop learns from the time-out that events
// are due now whenever a transfer is in flight.
int libusb_get_next_timeout(libusb_context*, timeval* timeout) {
  if (CurrentSession() == nullptr || !InFlight().InFlight()) return 0;
  *timeout = {0, 0};
  return 1;
}

int libusb_pollfds_handle_timeouts(libusb_context*) { return 0; }

const libusb_pollfd** libusb_get_pollfds(libusb_context*) {
  return static_cast<const libusb_pollfd**>(std::calloc(1, sizeof(libusb_pollfd*)));
}

void libusb_free_pollfds(const libusb_pollfd** pollfds) {
  std::free(const_cast<libusb_pollfd**>(pollfds));
}

void libusb_set_pollfd_notifiers(libusb_context*, libusb_pollfd_added_cb, libusb_pollfd_removed_cb,
                                 void*) {}
