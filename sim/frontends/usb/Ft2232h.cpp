#include "Ft2232h.h"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "Warnings.h"

namespace qzsim::usb {

namespace {

// Request types without their direction bit.
constexpr int kStandardToDevice = int{LIBUSB_REQUEST_TYPE_STANDARD} | int{LIBUSB_RECIPIENT_DEVICE};
constexpr int kVendorToDevice = int{LIBUSB_REQUEST_TYPE_VENDOR} | int{LIBUSB_RECIPIENT_DEVICE};

// Port numbers of the vendor requests (wIndex low byte); interface i is port i + 1.
constexpr std::uint16_t kPortA = 1;

// FTDI's vendor requests.
constexpr std::uint8_t kReset = 0x00;
constexpr std::uint8_t kSetModemControl = 0x01;
constexpr std::uint8_t kSetFlowControl = 0x02;
constexpr std::uint8_t kSetBaudRate = 0x03;
constexpr std::uint8_t kSetData = 0x04;
constexpr std::uint8_t kPollModemStatus = 0x05;
constexpr std::uint8_t kSetEventChar = 0x06;
constexpr std::uint8_t kSetErrorChar = 0x07;
constexpr std::uint8_t kSetLatencyTimer = 0x09;
constexpr std::uint8_t kGetLatencyTimer = 0x0A;
constexpr std::uint8_t kSetBitMode = 0x0B;

// kReset's values: the whole port, the bytes from the host not yet run (none are held: the
// engine runs each packet as it comes), the bytes for the host not yet sent.
constexpr std::uint16_t kResetPort = 0;
constexpr std::uint16_t kPurgeFromHost = 1;
constexpr std::uint16_t kPurgeToHost = 2;

// The two status bytes that lead every IN packet, as a port with nothing on its modem lines
// sends them: modem status, then line status (transmitter empty).
constexpr std::uint8_t kModemStatus = 0x32;
constexpr std::uint8_t kLineStatus = 0x60;
constexpr std::size_t kStatusBytes = 2;

constexpr std::uint16_t kEnglishUs = 0x0409;
// Manufacturer, product and serial number, string descriptors 1 to 3.
constexpr const char* kStrings[] = {"FTDI", "Dual RS232-HS", "QZSIM001"};

constexpr libusb_device_descriptor kDevice{
    .bLength = LIBUSB_DT_DEVICE_SIZE,
    .bDescriptorType = LIBUSB_DT_DEVICE,
    .bcdUSB = 0x0200,
    .bDeviceClass = 0,
    .bDeviceSubClass = 0,
    .bDeviceProtocol = 0,
    .bMaxPacketSize0 = 64,
    .idVendor = 0x0403,
    .idProduct = 0x6010,
    .bcdDevice = 0x0700,  // FT2232H: libftdi1 tells the chips apart by this
    .iManufacturer = 1,
    .iProduct = 2,
    .iSerialNumber = 3,
    .bNumConfigurations = 1,
};

constexpr libusb_endpoint_descriptor Endpoint(std::uint8_t address) {
  return {LIBUSB_DT_ENDPOINT_SIZE, LIBUSB_DT_ENDPOINT, address, LIBUSB_TRANSFER_TYPE_BULK,
          Ft2232h::kPacketSize, 0, 0, 0, nullptr, 0};
}

// Per interface: bulk IN, then bulk OUT.
constexpr std::uint8_t kEndpoints[Ft2232h::kInterfaces][2] = {{0x81, 0x02}, {0x83, 0x04}};
constexpr libusb_endpoint_descriptor kEndpointsA[] = {Endpoint(kEndpoints[0][0]),
                                                      Endpoint(kEndpoints[0][1])};
constexpr libusb_endpoint_descriptor kEndpointsB[] = {Endpoint(kEndpoints[1][0]),
                                                      Endpoint(kEndpoints[1][1])};

constexpr libusb_interface_descriptor Interface(std::uint8_t number,
                                                const libusb_endpoint_descriptor* endpoints) {
  return {LIBUSB_DT_INTERFACE_SIZE, LIBUSB_DT_INTERFACE, number, 0, 2, LIBUSB_CLASS_VENDOR_SPEC,
          0xFF, 0xFF, 2, endpoints, nullptr, 0};
}

constexpr libusb_interface_descriptor kInterfaceA = Interface(0, kEndpointsA);
constexpr libusb_interface_descriptor kInterfaceB = Interface(1, kEndpointsB);
constexpr libusb_interface kInterfaces[] = {{&kInterfaceA, 1}, {&kInterfaceB, 1}};

// libusb hands out a configuration the caller may not change; ours is the chip's own.
constinit libusb_config_descriptor config{
    .bLength = LIBUSB_DT_CONFIG_SIZE,
    .bDescriptorType = LIBUSB_DT_CONFIG,
    .wTotalLength = LIBUSB_DT_CONFIG_SIZE +
                    Ft2232h::kInterfaces * (LIBUSB_DT_INTERFACE_SIZE + 2 * LIBUSB_DT_ENDPOINT_SIZE),
    .bNumInterfaces = Ft2232h::kInterfaces,
    .bConfigurationValue = Ft2232h::kConfiguration,
    .iConfiguration = 0,
    .bmAttributes = 0x80,  // bus-powered
    .MaxPower = 50,        // 100 mA, in 2 mA units
    .interface = kInterfaces,
    .extra = nullptr,
    .extra_length = 0,
};

std::string ErrorName(int error) { return libusb_error_name(error); }

std::string Hex(unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

// The bytes of a reply, as many as the host asked for.
int Reply(unsigned char* data, std::uint16_t length, std::initializer_list<std::uint8_t> bytes) {
  const std::size_t count = std::min<std::size_t>(length, bytes.size());
  std::copy_n(bytes.begin(), count, data);
  return static_cast<int>(count);
}

}  // namespace

Ft2232h::Ft2232h(Bench& bench)
    : bench_(bench),
      portB_(floatingTdo_, bench.ProtocolWarnings(), {}),
      ports_{&bench.Adapter(), &portB_} {}

const libusb_device_descriptor& Ft2232h::DeviceDescriptor() { return kDevice; }

libusb_config_descriptor* Ft2232h::ConfigDescriptor() { return &config; }

std::optional<int> Ft2232h::InterfaceOf(std::uint8_t endpoint) {
  for (int i = 0; i < kInterfaces; ++i) {
    if (endpoint == kEndpoints[i][0] || endpoint == kEndpoints[i][1]) return i;
  }
  return std::nullopt;
}

int Ft2232h::Control(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                     std::uint16_t index, unsigned char* data, std::uint16_t length) {
  const int result = Present() ? Answer(requestType, request, value, index, data, length)
                               : LIBUSB_ERROR_NO_DEVICE;
  bench_.Trace("control " + Hex(requestType, 2) + ' ' + Hex(request, 2) + ' ' + Hex(value, 4) +
               ' ' + Hex(index, 4) + ' ' + Hex(length, 4) + ' ' +
               (result < 0 ? ErrorName(result) : Hex(static_cast<unsigned>(result), 1)),
               false);
  return result;
}

int Ft2232h::Answer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                    std::uint16_t index, unsigned char* data, std::uint16_t length) {
  const bool in = (requestType & LIBUSB_ENDPOINT_IN) != 0;
  const int kind = requestType & ~LIBUSB_ENDPOINT_IN;
  if (kind == kStandardToDevice && in &&
      request == LIBUSB_REQUEST_GET_DESCRIPTOR && value >> 8 == LIBUSB_DT_STRING) {
    return StringDescriptor(static_cast<std::uint8_t>(value), data, length);
  }
  const unsigned port = index & 0xFF;
  if (kind != kVendorToDevice || port < kPortA ||
      port >= kPortA + kInterfaces) {
    return Stall();
  }
  VirtualAdapter& target = *ports_[port - kPortA];
  switch (request) {
    case kReset:
      if (in || value > kPurgeToHost) return Stall();
      if (value != kPurgeFromHost) target.Purge();
      return 0;
    // The serial engine's settings: nothing the MPSSE engine does depends on them.
    case kSetModemControl:
    case kSetFlowControl:
    case kSetBaudRate:
    case kSetData:
    case kSetEventChar:
    case kSetErrorChar:
      return in ? Stall() : 0;
    case kPollModemStatus:
      return in ? Reply(data, length, {kModemStatus, kLineStatus}) : Stall();
    case kSetLatencyTimer:
      if (in || (value & 0xFF) == 0) return Stall();
      target.SetLatencyMs(static_cast<std::uint8_t>(value));
      return 0;
    case kGetLatencyTimer:
      return in ? Reply(data, length, {target.LatencyMs()}) : Stall();
    case kSetBitMode:
      // Reset and MPSSE are the modes modelled; the pin mask is MPSSE's to set.
      return !in && target.SetBitMode(static_cast<std::uint8_t>(value >> 8), bench_.Clock().NowMicros())
                 ? 0
                 : Stall();
  }
  return Stall();
}

// String descriptor 0 lists the languages; the others are UTF-16LE text.
int Ft2232h::StringDescriptor(std::uint8_t index, unsigned char* data, std::uint16_t length) {
  if (index == 0) {
    return Reply(data, length, {4, LIBUSB_DT_STRING, kEnglishUs & 0xFF, kEnglishUs >> 8});
  }
  if (index > std::size(kStrings)) return Stall();
  const std::string text = kStrings[index - 1];
  std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(2 + 2 * text.size()),
                                       LIBUSB_DT_STRING};
  for (char c : text) descriptor.insert(descriptor.end(), {static_cast<std::uint8_t>(c), 0});
  const std::size_t count = std::min<std::size_t>(length, descriptor.size());
  std::copy_n(descriptor.begin(), count, data);
  return static_cast<int>(count);
}

int Ft2232h::Stall() {
  bench_.ProtocolWarnings().Count(Warning::UnknownUsbRequest);
  return LIBUSB_ERROR_PIPE;
}

int Ft2232h::Bulk(std::uint8_t endpoint, unsigned char* data, int length, unsigned timeoutMs,
                  int& moved) {
  moved = 0;
  if ((endpoint & LIBUSB_ENDPOINT_IN) != 0) {
    InTransfer transfer = StartIn(data, length, timeoutMs);
    const int result = MoveIn(endpoint, transfer, transfer.deadline).value();
    moved = transfer.taken;
    return result;
  }
  int result = LIBUSB_ERROR_NO_DEVICE;
  if (Present()) {
    Port(endpoint).Write(std::span(data, static_cast<std::size_t>(length)), bench_.Clock().NowMicros());
    moved = length;
    result = 0;
  }
  Record(false, data, length, result < 0 ? ErrorName(result) : "");
  return result;
}

Ft2232h::InTransfer Ft2232h::StartIn(unsigned char* data, int length, unsigned timeoutMs) const {
  const std::uint64_t deadline = timeoutMs == 0 ? std::numeric_limits<std::uint64_t>::max()
                                                : bench_.Clock().NowMicros() + timeoutMs * 1000ull;
  return {data, length, deadline, 0, std::nullopt};
}

std::optional<int> Ft2232h::MoveIn(std::uint8_t endpoint, InTransfer& transfer,
                                   std::uint64_t until) {
  const std::optional<int> result =
      Present() ? BulkIn(Port(endpoint), transfer, until) : LIBUSB_ERROR_NO_DEVICE;
  if (result) Record(true, transfer.data, transfer.taken, *result < 0 ? ErrorName(*result) : "");
  return result;
}

void Ft2232h::Abandon(const InTransfer& transfer, const char* why) {
  Record(true, transfer.data, transfer.taken, why);
}

void Ft2232h::Reset() {
  const std::uint64_t now = bench_.Clock().NowMicros();
  for (VirtualAdapter* port : ports_) {
    port->SetBitMode(VirtualAdapter::kModeReset, now);
    port->Purge();
    port->SetLatencyMs(VirtualAdapter::kPowerOnLatencyMs);
  }
}

void Ft2232h::Record(bool in, const unsigned char* data, int count, const std::string& status) {
  BenchStats& stats = bench_.Stats();
  ++(in ? stats.reads : stats.writes);
  // Failed writes moved nothing.
  const auto moved = static_cast<std::uint64_t>(in || status.empty() ? count : 0);
  (in ? stats.bytesRead : stats.bytesWritten) += moved;
  const std::string hex = TraceHex(data, static_cast<std::size_t>(count));
  std::string line = (in ? "read " : "write ") + hex;
  if (!status.empty()) line += (hex.empty() ? "status " : " status ") + status;
  // An IN transfer of the status bytes alone brought no data.
  bench_.Trace(line, in ? count > static_cast<int>(kStatusBytes) : count > 0);
}

// Whole packets until a short one or a full buffer. A packet larger than the room left is
// more than the host asked for: the transfer overflows and the packet is lost.
std::optional<int> Ft2232h::BulkIn(VirtualAdapter& port, InTransfer& transfer,
                                   std::uint64_t until) {
  std::size_t queued = port.Poll(bench_.Clock().NowMicros());
  const auto room = static_cast<std::size_t>(transfer.length);
  for (;;) {
    if (queued == 0) {
      const Wait wait = AwaitPacket(port, transfer, until, queued);
      if (wait == Wait::Pending) return std::nullopt;
      if (wait == Wait::TimedOut) return LIBUSB_ERROR_TIMEOUT;
    }
    const std::size_t carried = std::min(queued, kPacketSize - kStatusBytes);
    const std::vector<std::uint8_t> bytes = port.Read(carried, bench_.Clock().NowMicros());
    queued -= carried;
    const std::size_t packet = kStatusBytes + carried;
    const auto taken = static_cast<std::size_t>(transfer.taken);
    if (taken + packet > room) return LIBUSB_ERROR_OVERFLOW;
    unsigned char* at = transfer.data + taken;
    at[0] = kModemStatus;
    at[1] = kLineStatus;
    std::copy(bytes.begin(), bytes.end(), at + kStatusBytes);
    transfer.taken = static_cast<int>(taken + packet);
    // A full packet does not end the transfer: the next one carries the rest, or the status
    // bytes alone once the latency timer fires.
    if (packet < kPacketSize || taken + packet == room) return 0;
  }
}

// The chip answers an IN request when it passes answer bytes on; with none in its buffer when
// its latency timer fires, with the status bytes alone.
Ft2232h::Wait Ft2232h::AwaitPacket(VirtualAdapter& port, InTransfer& transfer, std::uint64_t until,
                                   std::size_t& queued) {
  VirtualClock& clock = bench_.Clock();
  if (!transfer.latencyFires) transfer.latencyFires = clock.NowMicros() + port.LatencyMs() * 1000ull;
  std::uint64_t wake = *transfer.latencyFires;
  if (port.AnswerBy(wake)) wake = port.NextHandOver().value();
  const std::uint64_t end = std::min(until, transfer.deadline);
  if (wake > end) {
    clock.WaitUntil(end);
    return end == transfer.deadline ? Wait::TimedOut : Wait::Pending;
  }
  clock.WaitUntil(wake);
  transfer.latencyFires.reset();
  queued = port.Poll(clock.NowMicros());
  return Wait::Packet;
}

}  // namespace qzsim::usb
