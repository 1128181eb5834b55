// The FT2232H as libftdi1 and the D2XX driver see it on the bus: its descriptors, the vendor
// requests of its two ports, and their bulk endpoints. Port A's MPSSE engine is the bench's
// adapter, wired to the target; port B's pins lead nowhere.
#pragma once

#include <libusb.h>

#include <array>
#include <cstdint>
#include <optional>

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

 private:
  int Answer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
             std::uint16_t index, unsigned char* data, std::uint16_t length);
  int StringDescriptor(std::uint8_t index, unsigned char* data, std::uint16_t length);
  int Stall();
  int BulkOut(VirtualAdapter& port, const unsigned char* data, int length, int& moved);
  int BulkIn(VirtualAdapter& port, unsigned char* data, int length, unsigned timeoutMs, int& moved);
  // Waits until the port has a packet to send, or until the deadline when that comes first;
  // `queued`: the answer bytes it can send.
  bool AwaitPacket(VirtualAdapter& port, std::uint64_t deadline, std::size_t& queued);

  Bench& bench_;
  StuckTdo floatingTdo_{true};
  VirtualAdapter portB_;
  std::array<VirtualAdapter*, kInterfaces> ports_;
};

}  // namespace qzsim::usb
