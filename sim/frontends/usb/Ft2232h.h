// The FT2232H as libftdi1 and the D2XX driver see it on the bus: its descriptors, the vendor
// requests of its two ports, and their bulk endpoints. Port A's MPSSE engine is the bench's
// adapter, wired to the target; port B's pins lead nowhere.
#pragma once

#include <libusb.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "Bench.h"
#include "JtagPins.h"
#include "VirtualAdapter.h"

namespace qzsim::usb {

class Ft2232h {
 public:
  static constexpr int kInterfaces = 2;
  static constexpr std::uint8_t kConfiguration = 1;
  // Hi-Speed bulk packets; each IN packet starts with the two status bytes.
  static constexpr std::size_t kPacketSize = 512;

  explicit Ft2232h(Bench& bench);

  // On the bus: set up, and not unplugged.
  bool Present() const { return bench_.Devices() > 0; }

  static const libusb_device_descriptor& DeviceDescriptor();
  static libusb_config_descriptor* ConfigDescriptor();
  // The interface whose bulk endpoint this is.
  static std::optional<int> InterfaceOf(std::uint8_t endpoint);

  // A request on the default pipe: the bytes of its data stage, or a libusb error.
  int Control(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
              std::uint16_t index, unsigned char* data, std::uint16_t length);
  // A bulk transfer on one of the four data endpoints: 0 or a libusb error; `moved` bytes went.
  int Bulk(std::uint8_t endpoint, unsigned char* data, int length, unsigned timeoutMs, int& moved);

  // An IN transfer under way: where its bytes go, what it has taken, when it gives up, and when
  // the latency timer fires for the packet it waits for.
  struct InTransfer {
    unsigned char* data;
    int length;
    std::uint64_t deadline;
    int taken = 0;
    std::optional<std::uint64_t> latencyFires;
  };
  // Time-out 0: none.
  InTransfer StartIn(unsigned char* data, int length, unsigned timeoutMs) const;
  // Moves an IN transfer on, waiting no later than `until`: 0 or a libusb error once it has
  // ended, and traced then; nothing while it goes on.
  std::optional<int> MoveIn(std::uint8_t endpoint, InTransfer& transfer, std::uint64_t until);
  // The host gave the transfer up: what it took is traced with the reason.
  void Abandon(const InTransfer& transfer, const char* why);
  // A USB port reset: both ports as at power-on.
  void Reset();

 private:
  int Answer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
             std::uint16_t index, unsigned char* data, std::uint16_t length);
  int StringDescriptor(std::uint8_t index, unsigned char* data, std::uint16_t length);
  int Stall();
  std::optional<int> BulkIn(VirtualAdapter& port, InTransfer& transfer, std::uint64_t until);
  enum class Wait { Packet, Pending, TimedOut };
  // Waits until the port has a packet to send, or until `until` or the deadline when one of
  // them comes first; `queued`: the answer bytes it can send.
  Wait AwaitPacket(VirtualAdapter& port, InTransfer& transfer, std::uint64_t until,
                   std::size_t& queued);
  VirtualAdapter& Port(std::uint8_t endpoint) {
    return *ports_[static_cast<std::size_t>(InterfaceOf(endpoint).value())];
  }
  void Record(bool in, const unsigned char* data, int count, const std::string& status);

  Bench& bench_;
  StuckTdo floatingTdo_{true};
  VirtualAdapter portB_;
  std::array<VirtualAdapter*, kInterfaces> ports_;
};

}  // namespace qzsim::usb
