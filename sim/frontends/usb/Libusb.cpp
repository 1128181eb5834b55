// libusb-1.0, answered by a virtual bus carrying one FT2232H instead of the USB stack. Built as
// libusb-1.0.so.0 and loaded ahead of the system's library, so that an unchanged program (the
// system's libftdi1, openocd) talks to the chip of Ft2232h.h. The host side lives here:
// contexts, device lists and descriptors, handles, interface claims and the kernel's serial
// driver; asynchronous transfers in Transfers.cpp, the rest of the interface in Library.cpp.
#include <libusb.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "Session.h"

struct libusb_context {};

struct libusb_device {
  int references = 1;
};

struct libusb_device_handle {
  libusb_device* device;
  bool autoDetach = false;
};

namespace qzsim::usb {

namespace {

constexpr StandInKind kKind{"virtual-usb", false, false, true};

Session* session = nullptr;

Ft2232h& Chip() { return Current().chip; }

bool ValidInterface(int interface) { return interface >= 0 && interface < Ft2232h::kInterfaces; }

void RecordExitStatus(int status, void*) {
  session->exiting = true;
  session->exitStatus = status;
}

// At exit the target stays powered: what it started, it finishes, and the run is summed up. The
// exit handlers have run, so only ending here can turn a lost state into a failed run.
__attribute__((destructor)) void Finish() {
  if (session == nullptr || session->standIn.Finish()) return;
  if (session->exiting && session->exitStatus == 0) {
    std::fflush(nullptr);
    _exit(1);
  }
}

}  // namespace

Session::Session()
    : standIn(kKind),
      chip(standIn.TheBench()),
      transfers(chip, standIn.TheBench().Clock()),
      startMicros(RealMonotonicMicros()) {
  on_exit(RecordExitStatus, nullptr);
}

Session* CurrentSession() { return session; }

Session& Current() {
  if (session == nullptr) session = new Session();
  return *session;
}

int Claim(libusb_device_handle* handle, int interface, bool detachDriver) {
  Session& run = Current();
  if (run.standIn.OpenFailure() == UsbError::Busy) return LIBUSB_ERROR_BUSY;
  const auto i = static_cast<std::size_t>(interface);
  if (run.claimedBy[i] == handle) return LIBUSB_SUCCESS;
  if (run.claimedBy[i] != nullptr) return LIBUSB_ERROR_BUSY;
  if (run.kernelDriver[i]) {
    if (!detachDriver) return LIBUSB_ERROR_BUSY;
    run.kernelDriver[i] = false;
  }
  run.claimedBy[i] = handle;
  return LIBUSB_SUCCESS;
}

void Unserved(const std::string& call) {
  if (Current().unserved.insert(call).second) {
    std::fprintf(stderr, "virtual-usb: %s: not supported on the virtual bus\n", call.c_str());
  }
}

}  // namespace qzsim::usb

using qzsim::usb::Chip;
using qzsim::usb::Current;
using qzsim::usb::Ft2232h;

int libusb_init(libusb_context** context) {
  Current().standIn.MarkUsed();
  if (context != nullptr) *context = new (std::nothrow) libusb_context;
  return context == nullptr || *context != nullptr ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_MEM;
}

void libusb_exit(libusb_context* context) { delete context; }

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
  if (list == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  const bool present = Chip().Present();
  auto** devices = static_cast<libusb_device**>(std::calloc(2, sizeof(libusb_device*)));
  if (devices == nullptr) return LIBUSB_ERROR_NO_MEM;
  if (present) devices[0] = new libusb_device;
  *list = devices;
  return present ? 1 : 0;
}

void libusb_free_device_list(libusb_device** list, int unrefDevices) {
  if (list == nullptr) return;
  for (libusb_device** device = list; unrefDevices != 0 && *device != nullptr; ++device) {
    libusb_unref_device(*device);
  }
  std::free(list);
}

libusb_device* libusb_ref_device(libusb_device* device) {
  ++device->references;
  return device;
}

void libusb_unref_device(libusb_device* device) {
  if (device != nullptr && --device->references == 0) delete device;
}

int libusb_get_device_descriptor(libusb_device*, libusb_device_descriptor* descriptor) {
  *descriptor = Ft2232h::DeviceDescriptor();
  return LIBUSB_SUCCESS;
}

int libusb_get_config_descriptor(libusb_device*, uint8_t index, libusb_config_descriptor** config) {
  if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
  *config = Ft2232h::ConfigDescriptor();
  return LIBUSB_SUCCESS;
}

// The descriptor is the chip's own, handed out rather than copied.
void libusb_free_config_descriptor(libusb_config_descriptor*) {}

int libusb_get_active_config_descriptor(libusb_device* device, libusb_config_descriptor** config) {
  return libusb_get_config_descriptor(device, 0, config);
}

int libusb_get_config_descriptor_by_value(libusb_device* device, uint8_t value,
                                          libusb_config_descriptor** config) {
  if (value != Ft2232h::kConfiguration) return LIBUSB_ERROR_NOT_FOUND;
  return libusb_get_config_descriptor(device, 0, config);
}

// The chip sits on port 1 of the root hub of bus 1, which is not listed.
uint8_t libusb_get_bus_number(libusb_device*) { return 1; }

uint8_t libusb_get_device_address(libusb_device*) { return 2; }

uint8_t libusb_get_port_number(libusb_device*) { return 1; }

int libusb_get_port_numbers(libusb_device* device, uint8_t* ports, int length) {
  if (length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  ports[0] = libusb_get_port_number(device);
  return 1;
}

int libusb_get_port_path(libusb_context*, libusb_device* device, uint8_t* path, uint8_t length) {
  return libusb_get_port_numbers(device, path, length);
}

libusb_device* libusb_get_parent(libusb_device*) { return nullptr; }

int libusb_get_device_speed(libusb_device*) { return LIBUSB_SPEED_HIGH; }

int libusb_get_max_packet_size(libusb_device*, unsigned char endpoint) {
  if (!Ft2232h::InterfaceOf(endpoint)) return LIBUSB_ERROR_NOT_FOUND;
  return Ft2232h::kPacketSize;
}

int libusb_get_max_iso_packet_size(libusb_device* device, unsigned char endpoint) {
  return libusb_get_max_packet_size(device, endpoint);
}

int libusb_open(libusb_device* device, libusb_device_handle** handle) {
  const qzsim::UsbError failure = Current().standIn.OpenFailure();
  if (!Chip().Present() || failure == qzsim::UsbError::NoDevice) return LIBUSB_ERROR_NO_DEVICE;
  if (failure == qzsim::UsbError::Access) return LIBUSB_ERROR_ACCESS;
  *handle = new libusb_device_handle{libusb_ref_device(device)};
  return LIBUSB_SUCCESS;
}

libusb_device_handle* libusb_open_device_with_vid_pid(libusb_context*, uint16_t vendor,
                                                      uint16_t product) {
  const libusb_device_descriptor& chip = Ft2232h::DeviceDescriptor();
  if (vendor != chip.idVendor || product != chip.idProduct) return nullptr;
  libusb_device** list = nullptr;
  libusb_device_handle* handle = nullptr;
  if (libusb_get_device_list(nullptr, &list) > 0) libusb_open(list[0], &handle);
  libusb_free_device_list(list, 1);
  return handle;
}

libusb_device* libusb_get_device(libusb_device_handle* handle) { return handle->device; }

void libusb_close(libusb_device_handle* handle) {
  if (handle == nullptr) return;
  for (libusb_device_handle*& owner : Current().claimedBy) {
    if (owner == handle) owner = nullptr;
  }
  libusb_unref_device(handle->device);
  delete handle;
}

int libusb_get_configuration(libusb_device_handle*, int* configuration) {
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  *configuration = Ft2232h::kConfiguration;
  return LIBUSB_SUCCESS;
}

int libusb_set_configuration(libusb_device_handle*, int configuration) {
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  return configuration == Ft2232h::kConfiguration ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_claim_interface(libusb_device_handle* handle, int interface) {
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  if (!qzsim::usb::ValidInterface(interface)) return LIBUSB_ERROR_NOT_FOUND;
  return qzsim::usb::Claim(handle, interface, handle->autoDetach);
}

// A claim ends even when the device has gone, as libusb ends it.
int libusb_release_interface(libusb_device_handle* handle, int interface) {
  if (!qzsim::usb::ValidInterface(interface)) return LIBUSB_ERROR_NOT_FOUND;
  libusb_device_handle*& owner = Current().claimedBy[static_cast<std::size_t>(interface)];
  if (owner != handle) return LIBUSB_ERROR_NOT_FOUND;
  owner = nullptr;
  return Chip().Present() ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_DEVICE;
}

int libusb_detach_kernel_driver(libusb_device_handle*, int interface) {
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  if (!qzsim::usb::ValidInterface(interface)) return LIBUSB_ERROR_NOT_FOUND;
  bool& bound = Current().kernelDriver[static_cast<std::size_t>(interface)];
  if (!bound) return LIBUSB_ERROR_NOT_FOUND;
  bound = false;
  return LIBUSB_SUCCESS;
}

int libusb_kernel_driver_active(libusb_device_handle*, int interface) {
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  if (!qzsim::usb::ValidInterface(interface)) return LIBUSB_ERROR_NOT_FOUND;
  return Current().kernelDriver[static_cast<std::size_t>(interface)] ? 1 : 0;
}

int libusb_attach_kernel_driver(libusb_device_handle*, int interface) {
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  if (!qzsim::usb::ValidInterface(interface)) return LIBUSB_ERROR_NOT_FOUND;
  const auto i = static_cast<std::size_t>(interface);
  qzsim::usb::Session& run = Current();
  if (run.kernelDriver[i] || run.claimedBy[i] != nullptr) return LIBUSB_ERROR_BUSY;
  run.kernelDriver[i] = true;
  return LIBUSB_SUCCESS;
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable) {
  handle->autoDetach = enable != 0;
  return LIBUSB_SUCCESS;
}

// Each interface has the one setting 0.
int libusb_set_interface_alt_setting(libusb_device_handle* handle, int interface, int setting) {
  if (!qzsim::usb::ValidInterface(interface) ||
      Current().claimedBy[static_cast<std::size_t>(interface)] != handle) {
    return LIBUSB_ERROR_NOT_FOUND;
  }
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  return setting == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

// Bulk endpoints of the chip never halt, so there is nothing to clear.
int libusb_clear_halt(libusb_device_handle*, unsigned char endpoint) {
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  return Ft2232h::InterfaceOf(endpoint) ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

// The chip starts again as at power-on; libusb claims again what the handle held.
int libusb_reset_device(libusb_device_handle*) {
  if (!Chip().Present()) return LIBUSB_ERROR_NO_DEVICE;
  Chip().Reset();
  return LIBUSB_SUCCESS;
}

int libusb_control_transfer(libusb_device_handle*, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int) {
  if (data == nullptr && length > 0) return LIBUSB_ERROR_INVALID_PARAM;
  return Chip().Control(requestType, request, value, index, data, length);
}

int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                         int length, int* transferred, unsigned int timeoutMs) {
  if (transferred != nullptr) *transferred = 0;
  if (length < 0 || (data == nullptr && length > 0)) return LIBUSB_ERROR_INVALID_PARAM;
  const auto interface = Ft2232h::InterfaceOf(endpoint);
  if (!interface) return LIBUSB_ERROR_NOT_FOUND;
  if (Chip().Present()) {
    if (const int claim = qzsim::usb::Claim(handle, *interface, false); claim != LIBUSB_SUCCESS) {
      return claim;
    }
  }
  int moved = 0;
  // Called from a callback, the event handling around it is still waiting on the chip.
  const bool outer = !Current().inTransfer;
  Current().inTransfer = true;
  const int result = Chip().Bulk(endpoint, data, length, timeoutMs, moved);
  if (outer) Current().inTransfer = false;
  if (transferred != nullptr) *transferred = moved;
  return result;
}

// Fetched as libusb does: the language list, then the string in the first language.
int libusb_get_string_descriptor_ascii(libusb_device_handle*, uint8_t index, unsigned char* data,
                                       int length) {
  if (index == 0 || data == nullptr || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  unsigned char descriptor[255];
  const uint16_t string = LIBUSB_DT_STRING << 8;
  int got = Chip().Control(LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR, string, 0, descriptor,
                           sizeof descriptor);
  if (got < 0) return got;
  if (got < 4) return LIBUSB_ERROR_IO;
  const auto language = static_cast<uint16_t>(descriptor[2] | descriptor[3] << 8);
  got = Chip().Control(LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR, string | index, language,
                       descriptor, sizeof descriptor);
  if (got < 0) return got;
  if (got < 2 || descriptor[1] != LIBUSB_DT_STRING || descriptor[0] > got) return LIBUSB_ERROR_IO;
  int count = 0;
  for (int at = 2; at + 1 < descriptor[0] && count < length - 1; at += 2) {
    const bool ascii = descriptor[at + 1] == 0 && descriptor[at] < 0x80;
    data[count++] = ascii ? descriptor[at] : '?';
  }
  data[count] = 0;
  return count;
}
