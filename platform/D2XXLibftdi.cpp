// The D2XX operations for real adapters on Linux, through libftdi1.
//
// Device number n is the n-th interface of the attached Hi-Speed FTDI chips, counted chip type
// by chip type (FT2232H, FT4232H, FT232H at their default USB IDs), then in libusb's bus order,
// then interface A, B, ... of each chip.
#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "D2XX.h"

namespace {

constexpr int FtdiVendorId = 0x0403;

// FT_SetBitMode hands its mode straight to libftdi.
static_assert(FT_BITMODE_RESET == BITMODE_RESET && FT_BITMODE_MPSSE == BITMODE_MPSSE);

struct HiSpeedChip {
  int productId;
  int interfaces;
  DWORD type;
};

constexpr std::array<HiSpeedChip, 3> HiSpeedChips{{
    {0x6010, 2, FT_DEVICE_2232H},
    {0x6011, 4, FT_DEVICE_4232H},
    {0x6014, 1, FT_DEVICE_232H},
}};

// libusb reads 0 as "wait forever" and has no "return at once". The chip answers every bulk IN
// within one latency-timer period (2 ms once configured, 16 ms before), with at least its two
// status bytes, so a poll normally returns well inside this bound; it only catches a chip that
// stopped answering. It must stay above the latency timer, or normal answers would time out.
constexpr int PollTimeoutMs = 50;
constexpr int DefaultWriteTimeoutMs = 5000;

// D2XX's largest USB transfer size.
constexpr unsigned MaxTransferSize = 65536;

// Bytes the chip has sent that no FT_Read has taken yet: far more than any answer the program
// waits for, and a bound on what one poll pulls in.
constexpr std::size_t ReceiveCapacity = 65536;

struct FtdiFree {
  void operator()(ftdi_context* ftdi) const { ftdi_free(ftdi); }
};
using FtdiContext = std::unique_ptr<ftdi_context, FtdiFree>;

struct DeviceListFree {
  void operator()(ftdi_device_list* list) const { ftdi_list_free2(list); }
};
using DeviceList = std::unique_ptr<ftdi_device_list, DeviceListFree>;

struct Port {
  FtdiContext ftdi;
  std::array<UCHAR, ReceiveCapacity> received{};
  std::size_t receivedCount = 0;
};

DriverError lastError;

// Keeps libftdi1's words for the failure, with libusb's error name where libftdi1 dropped it.
FT_STATUS Fail(FT_STATUS status, ftdi_context* ftdi, int libusbError = 0) {
  lastError = {};
  lastError.text = ftdi_get_error_string(ftdi);
  if (libusbError != 0) lastError.text += std::string(" (") + libusb_error_name(libusbError) + ")";
  lastError.accessDenied = libusbError == LIBUSB_ERROR_ACCESS;
  return status;
}

// libftdi1 reports a failed libusb_open without libusb's reason; opening again tells it.
int WhyLibusbOpenFails(libusb_device* device) {
  libusb_device_handle* probe = nullptr;
  const int result = libusb_open(device, &probe);
  if (result == 0) libusb_close(probe);
  return result;
}

// ftdi_usb_open_dev's results for a libusb_open that failed, an interface another program
// claimed, and a kernel driver it had no right to detach.
constexpr int OpenDevLibusbOpenFailed = -4;
constexpr int OpenDevClaimFailed = -5;
constexpr int OpenDevNoPermission = -8;

// Handles are sequence numbers, never reused, so a closed handle cannot alias a later open and
// an unknown value is recognised without being dereferenced.
std::map<std::uintptr_t, std::unique_ptr<Port>> openPorts;
std::uintptr_t lastHandle = 0;

Port* Find(FT_HANDLE handle) {
  auto entry = openPorts.find(reinterpret_cast<std::uintptr_t>(handle));
  return entry == openPorts.end() ? nullptr : entry->second.get();
}

struct ListedInterface {
  libusb_device* device;
  const HiSpeedChip* chip;
  int index;  // 0 for interface A
};

// Must be released before the context it was listed with: libusb_exit ends the devices' life.
struct InterfaceList {
  // Keeps the listed libusb devices referenced while `interfaces` points at them.
  std::vector<DeviceList> chips;
  std::vector<ListedInterface> interfaces;
};

// False when the bus cannot be listed.
bool ListInterfaces(ftdi_context* ftdi, InterfaceList& list) {
  for (const HiSpeedChip& chip : HiSpeedChips) {
    ftdi_device_list* found = nullptr;
    int count = ftdi_usb_find_all(ftdi, &found, FtdiVendorId, chip.productId);
    list.chips.emplace_back(found);
    if (count < 0) return false;
    for (ftdi_device_list* entry = found; entry != nullptr; entry = entry->next)
      for (int i = 0; i < chip.interfaces; ++i) list.interfaces.push_back({entry->dev, &chip, i});
  }
  return true;
}

int LibusbTimeoutMs(DWORD ms, int whenZero) {
  return ms == 0 ? whenZero : static_cast<int>(std::min<DWORD>(ms, INT_MAX));
}

// A bulk IN request shorter than a packet the chip sends overflows (512 bytes at Hi-Speed), and
// libftdi strips the status bytes packet by packet: keep chunks whole packets. Writes are rounded
// alike, so a command string leaves in full packets rather than 64-byte transfers.
unsigned ChunkSize(DWORD requested, unsigned packetSize) {
  unsigned size = static_cast<unsigned>(std::clamp<DWORD>(requested, packetSize, MaxTransferSize));
  return (size + packetSize - 1) / packetSize * packetSize;
}

FT_STATUS Check(int libftdiResult, ftdi_context* ftdi) {
  return libftdiResult < 0 ? Fail(FT_IO_ERROR, ftdi) : FT_OK;
}

// As much of text as fits in size bytes with its terminator.
void CopyText(const std::string& text, char* buffer, DWORD size) {
  const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
}

}  // namespace

FT_STATUS FT_CreateDeviceInfoList(DWORD* numDevs) {
  if (numDevs == nullptr) return FT_INVALID_PARAMETER;
  FtdiContext ftdi(ftdi_new());
  if (!ftdi) return FT_OTHER_ERROR;
  InterfaceList list;
  if (!ListInterfaces(ftdi.get(), list)) return Fail(FT_IO_ERROR, ftdi.get());
  *numDevs = static_cast<DWORD>(list.interfaces.size());
  return FT_OK;
}

// The USB strings of the chip, as far as it can be opened to read them; the location is the
// bus and the device address on it.
FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* locId,
                                 void* serialNumber, void* description, FT_HANDLE* handle) {
  FtdiContext ftdi(ftdi_new());
  if (!ftdi) return FT_OTHER_ERROR;
  InterfaceList list;
  if (!ListInterfaces(ftdi.get(), list)) return FT_IO_ERROR;
  if (index >= list.interfaces.size()) return FT_DEVICE_NOT_FOUND;
  const ListedInterface& listed = list.interfaces[index];
  char serial[FT_SERIAL_NUMBER_SIZE] = {};
  char product[FT_DESCRIPTION_SIZE] = {};
  ftdi_usb_get_strings(ftdi.get(), listed.device, nullptr, 0, product, sizeof product, serial, sizeof serial);
  std::string serialText = serial;
  std::string descriptionText = product;
  if (listed.chip->interfaces > 1) {
    const char letter = static_cast<char>('A' + listed.index);
    serialText += letter;
    descriptionText = descriptionText + ' ' + letter;
  }
  if (flags) *flags = FT_FLAGS_HISPEED;
  if (type) *type = listed.chip->type;
  if (id) *id = static_cast<DWORD>(FtdiVendorId << 16 | listed.chip->productId);
  if (locId)
    *locId = static_cast<DWORD>(libusb_get_bus_number(listed.device) << 8 | libusb_get_device_address(listed.device));
  if (serialNumber) CopyText(serialText, static_cast<char*>(serialNumber), FT_SERIAL_NUMBER_SIZE);
  if (description) CopyText(descriptionText, static_cast<char*>(description), FT_DESCRIPTION_SIZE);
  if (handle) *handle = nullptr;
  return FT_OK;
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
  // What an earlier call said is no reason for this one to fail.
  lastError = {};
  if (handle == nullptr) return FT_INVALID_PARAMETER;
  FtdiContext ftdi(ftdi_new());
  if (!ftdi) return FT_DEVICE_NOT_OPENED;
  InterfaceList list;
  if (!ListInterfaces(ftdi.get(), list)) return Fail(FT_DEVICE_NOT_OPENED, ftdi.get());
  if (deviceNumber < 0 || static_cast<std::size_t>(deviceNumber) >= list.interfaces.size())
    return FT_DEVICE_NOT_FOUND;
  const ListedInterface& listed = list.interfaces[static_cast<std::size_t>(deviceNumber)];
  const auto interface = static_cast<ftdi_interface>(INTERFACE_A + listed.index);
  if (ftdi_set_interface(ftdi.get(), interface) < 0) return Fail(FT_DEVICE_NOT_OPENED, ftdi.get());
  // libftdi's default detach mode unbinds ftdi_sio from the interface it claims.
  switch (ftdi_usb_open_dev(ftdi.get(), listed.device)) {
    case 0:
      break;
    case OpenDevLibusbOpenFailed:
      return Fail(FT_DEVICE_NOT_OPENED, ftdi.get(), WhyLibusbOpenFails(listed.device));
    case OpenDevClaimFailed:
      Fail(FT_DEVICE_NOT_OPENED, ftdi.get());
      lastError.busy = true;
      return FT_DEVICE_NOT_OPENED;
    case OpenDevNoPermission:
      Fail(FT_DEVICE_NOT_OPENED, ftdi.get());
      lastError.accessDenied = true;
      return FT_DEVICE_NOT_OPENED;
    default:
      return Fail(FT_DEVICE_NOT_OPENED, ftdi.get());
  }
  // Polls are short from the start: the port set-up polls before it sets the time-outs.
  ftdi->usb_read_timeout = PollTimeoutMs;

  auto port = std::make_unique<Port>();
  port->ftdi = std::move(ftdi);
  openPorts.emplace(++lastHandle, std::move(port));
  *handle = reinterpret_cast<FT_HANDLE>(lastHandle);
  return FT_OK;
}

FT_STATUS FT_ResetDevice(FT_HANDLE handle) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  port->receivedCount = 0;
  if (ftdi_usb_reset(port->ftdi.get()) < 0) return Fail(FT_IO_ERROR, port->ftdi.get());
  return Check(ftdi_tcioflush(port->ftdi.get()), port->ftdi.get());
}

// libftdi1 has no queue query: move what the chip has sent into the port's buffer and report
// that. At most one IN transfer: asked for one byte, ftdi_read_data returns as soon as a transfer
// brings data and keeps the rest in its read buffer, which is then taken without a transfer.
// Asked for more, it would read on until a transfer came back empty, a latency-timer period
// after the answer was complete.
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (rxBytes == nullptr) return FT_INVALID_PARAMETER;
  ftdi_context* ftdi = port->ftdi.get();
  const auto take = [&](std::size_t count) {
    const int got = ftdi_read_data(ftdi, port->received.data() + port->receivedCount, static_cast<int>(count));
    if (got > 0) port->receivedCount += static_cast<std::size_t>(got);
    return got >= 0;
  };
  if (ftdi->readbuffer_remaining == 0 && port->receivedCount < ReceiveCapacity && !take(1))
    return Fail(FT_IO_ERROR, ftdi);
  const std::size_t held = std::min<std::size_t>(ftdi->readbuffer_remaining, ReceiveCapacity - port->receivedCount);
  if (held > 0 && !take(held)) return Fail(FT_IO_ERROR, ftdi);
  *rxBytes = static_cast<DWORD>(port->receivedCount);
  return FT_OK;
}

// Serves only what FT_GetQueueStatus has already moved in, so it never waits.
FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesReturned) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (bytesReturned == nullptr || (buffer == nullptr && bytesToRead > 0))
    return FT_INVALID_PARAMETER;
  std::size_t count = std::min<std::size_t>(bytesToRead, port->receivedCount);
  if (count > 0) {
    std::memcpy(buffer, port->received.data(), count);
    std::memmove(port->received.data(), port->received.data() + count,
                 port->receivedCount - count);
    port->receivedCount -= count;
  }
  *bytesReturned = static_cast<DWORD>(count);
  return FT_OK;
}

FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (bytesWritten == nullptr || (buffer == nullptr && bytesToWrite > 0))
    return FT_INVALID_PARAMETER;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  DWORD sent = 0;
  // Ends: every pass either sends at least one byte or stops; each transfer is bounded by the
  // write time-out.
  while (sent < bytesToWrite) {
    int piece = static_cast<int>(std::min<DWORD>(bytesToWrite - sent, INT_MAX));
    int written = ftdi_write_data(port->ftdi.get(), bytes + sent, piece);
    if (written <= 0) break;
    sent += static_cast<DWORD>(std::min(written, piece));
  }
  *bytesWritten = sent;
  return sent == bytesToWrite ? FT_OK : Fail(FT_IO_ERROR, port->ftdi.get());
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inTransferSize, DWORD outTransferSize) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  ftdi_context* ftdi = port->ftdi.get();
  unsigned packetSize = std::max(ftdi->max_packet_size, 64u);
  if (ftdi_read_data_set_chunksize(ftdi, ChunkSize(inTransferSize, packetSize)) < 0)
    return Fail(FT_IO_ERROR, ftdi);
  return Check(ftdi_write_data_set_chunksize(ftdi, ChunkSize(outTransferSize, packetSize)), ftdi);
}

FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                      UCHAR errorCharEnabled) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  ftdi_context* ftdi = port->ftdi.get();
  if (ftdi_set_event_char(ftdi, eventChar, eventCharEnabled) < 0) return Fail(FT_IO_ERROR, ftdi);
  return Check(ftdi_set_error_char(ftdi, errorChar, errorCharEnabled), ftdi);
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeout, DWORD writeTimeout) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  port->ftdi->usb_read_timeout = LibusbTimeoutMs(readTimeout, PollTimeoutMs);
  port->ftdi->usb_write_timeout = LibusbTimeoutMs(writeTimeout, DefaultWriteTimeoutMs);
  return FT_OK;
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  if (latencyMs == 0) return FT_INVALID_PARAMETER;
  return Check(ftdi_set_latency_timer(port->ftdi.get(), latencyMs), port->ftdi.get());
}

FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR pinMask, UCHAR mode) {
  Port* port = Find(handle);
  if (port == nullptr) return FT_INVALID_HANDLE;
  return Check(ftdi_set_bitmode(port->ftdi.get(), pinMask, mode), port->ftdi.get());
}

// Forgets the handle whatever the outcome, so later calls on it fail.
FT_STATUS FT_Close(FT_HANDLE handle) {
  auto entry = openPorts.find(reinterpret_cast<std::uintptr_t>(handle));
  if (entry == openPorts.end()) return FT_INVALID_HANDLE;
  const FT_STATUS closed = Check(ftdi_usb_close(entry->second->ftdi.get()), entry->second->ftdi.get());
  openPorts.erase(entry);
  return closed;
}

DriverError LastDriverError() { return lastError; }
