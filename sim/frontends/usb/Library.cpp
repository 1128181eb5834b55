// The calls about the library itself (version, capabilities, options, logging, error texts) and
// those the virtual bus cannot serve: each of those says so once and fails as libusb fails on a
// system without the feature.
#include <libusb.h>

#include "Session.h"

using qzsim::usb::Unserved;

// libusb's own names and texts, which programs print.
const char* libusb_error_name(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    case LIBUSB_TRANSFER_ERROR: return "LIBUSB_TRANSFER_ERROR";
    case LIBUSB_TRANSFER_TIMED_OUT: return "LIBUSB_TRANSFER_TIMED_OUT";
    case LIBUSB_TRANSFER_CANCELLED: return "LIBUSB_TRANSFER_CANCELLED";
    case LIBUSB_TRANSFER_STALL: return "LIBUSB_TRANSFER_STALL";
    case LIBUSB_TRANSFER_NO_DEVICE: return "LIBUSB_TRANSFER_NO_DEVICE";
    case LIBUSB_TRANSFER_OVERFLOW: return "LIBUSB_TRANSFER_OVERFLOW";
  }
  return "**UNKNOWN**";
}

const char* libusb_strerror(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "Success";
    case LIBUSB_ERROR_IO: return "Input/Output Error";
    case LIBUSB_ERROR_INVALID_PARAM: return "Invalid parameter";
    case LIBUSB_ERROR_ACCESS: return "Access denied (insufficient permissions)";
    case LIBUSB_ERROR_NO_DEVICE: return "No such device (it may have been disconnected)";
    case LIBUSB_ERROR_NOT_FOUND: return "Entity not found";
    case LIBUSB_ERROR_BUSY: return "Resource busy";
    case LIBUSB_ERROR_TIMEOUT: return "Operation timed out";
    case LIBUSB_ERROR_OVERFLOW: return "Overflow";
    case LIBUSB_ERROR_PIPE: return "Pipe error";
    case LIBUSB_ERROR_INTERRUPTED: return "System call interrupted (perhaps due to signal)";
    case LIBUSB_ERROR_NO_MEM: return "Insufficient memory";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "Operation not supported or unimplemented on this platform";
  }
  return "Other error";
}

// The texts stay English, one of the languages libusb has.
int libusb_setlocale(const char* locale) {
  return locale == nullptr ? LIBUSB_ERROR_INVALID_PARAM : LIBUSB_SUCCESS;
}

// The release whose interface this is.
const libusb_version* libusb_get_version() {
  static constexpr libusb_version kVersion{1, 0, 26, 11724, "", "http://libusb.info"};
  return &kVersion;
}

// What Linux offers, but hot-plug notification: the virtual bus does not change under a program.
int libusb_has_capability(uint32_t capability) {
  return capability == LIBUSB_CAP_HAS_CAPABILITY ||
         capability == LIBUSB_CAP_SUPPORTS_DETACH_KERNEL_DRIVER;
}

// The stand-in has no log of its own: its trace is QZSIM_OPTIONS' --trace.
void libusb_set_debug(libusb_context*, int) {}

void libusb_set_log_cb(libusb_context*, libusb_log_cb, int) {}

int libusb_set_option(libusb_context*, libusb_option option, ...) {
  switch (option) {
    case LIBUSB_OPTION_LOG_LEVEL:
    case LIBUSB_OPTION_WEAK_AUTHORITY:
      return LIBUSB_SUCCESS;
    case LIBUSB_OPTION_USE_USBDK:  // Windows only
      return LIBUSB_ERROR_NOT_SUPPORTED;
    default:
      return LIBUSB_ERROR_INVALID_PARAM;
  }
}

int libusb_hotplug_register_callback(libusb_context*, int, int, int, int, int,
                                     libusb_hotplug_callback_fn, void*,
                                     libusb_hotplug_callback_handle*) {
  Unserved("libusb_hotplug_register_callback");
  return LIBUSB_ERROR_NOT_SUPPORTED;
}

void libusb_hotplug_deregister_callback(libusb_context*, libusb_hotplug_callback_handle) {}

void* libusb_hotplug_get_user_data(libusb_context*, libusb_hotplug_callback_handle) {
  return nullptr;
}

int libusb_wrap_sys_device(libusb_context*, intptr_t, libusb_device_handle**) {
  Unserved("libusb_wrap_sys_device");
  return LIBUSB_ERROR_NOT_SUPPORTED;
}

// The FT2232H's endpoints are bulk endpoints of USB 2.0: no interrupt transfers, no streams.
int libusb_interrupt_transfer(libusb_device_handle*, unsigned char, unsigned char*, int,
                              int* transferred, unsigned int) {
  if (transferred != nullptr) *transferred = 0;
  Unserved("libusb_interrupt_transfer");
  return LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_alloc_streams(libusb_device_handle*, uint32_t, unsigned char*, int) {
  Unserved("libusb_alloc_streams");
  return LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_free_streams(libusb_device_handle*, unsigned char*, int) {
  Unserved("libusb_free_streams");
  return LIBUSB_ERROR_NOT_SUPPORTED;
}

void libusb_transfer_set_stream_id(libusb_transfer*, uint32_t) {}

uint32_t libusb_transfer_get_stream_id(libusb_transfer*) { return 0; }

// No device memory to map: libusb's answer where the kernel has none either.
unsigned char* libusb_dev_mem_alloc(libusb_device_handle*, size_t) {
  Unserved("libusb_dev_mem_alloc");
  return nullptr;
}

int libusb_dev_mem_free(libusb_device_handle*, unsigned char*, size_t) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}

// A USB 2.0 device without a BOS descriptor stalls the request for one; its endpoints have no
// SuperSpeed companions. No BOS capability is ever handed out to be parsed.
int libusb_get_bos_descriptor(libusb_device_handle*, libusb_bos_descriptor** bos) {
  if (bos != nullptr) *bos = nullptr;
  return LIBUSB_ERROR_PIPE;
}

void libusb_free_bos_descriptor(libusb_bos_descriptor*) {}

int libusb_get_ss_endpoint_companion_descriptor(libusb_context*, const libusb_endpoint_descriptor*,
                                                libusb_ss_endpoint_companion_descriptor**) {
  return LIBUSB_ERROR_NOT_FOUND;
}

void libusb_free_ss_endpoint_companion_descriptor(libusb_ss_endpoint_companion_descriptor*) {}

int libusb_get_usb_2_0_extension_descriptor(libusb_context*, libusb_bos_dev_capability_descriptor*,
                                            libusb_usb_2_0_extension_descriptor**) {
  return LIBUSB_ERROR_INVALID_PARAM;
}

void libusb_free_usb_2_0_extension_descriptor(libusb_usb_2_0_extension_descriptor*) {}

int libusb_get_ss_usb_device_capability_descriptor(libusb_context*,
                                                   libusb_bos_dev_capability_descriptor*,
                                                   libusb_ss_usb_device_capability_descriptor**) {
  return LIBUSB_ERROR_INVALID_PARAM;
}

void libusb_free_ss_usb_device_capability_descriptor(libusb_ss_usb_device_capability_descriptor*) {}

int libusb_get_container_id_descriptor(libusb_context*, libusb_bos_dev_capability_descriptor*,
                                       libusb_container_id_descriptor**) {
  return LIBUSB_ERROR_INVALID_PARAM;
}

void libusb_free_container_id_descriptor(libusb_container_id_descriptor*) {}
