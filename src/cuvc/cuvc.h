// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

/*
 * cuvc: the USB control transport of Velto Camera.
 *
 * Opens a USB device's UVC VideoControl interface, finds the camera terminal, the processing unit
 * and the first extension unit in its configuration descriptor, and issues UVC class control
 * requests (GET_* and SET_CUR) on the default pipe. Every request is built here; the device's
 * carrier (platform/usb/carrier.h) only moves it.
 *
 * The module keeps no state besides one opaque handle per opened device and takes no locks:
 * callers serialise every call on one handle. All calls block, a request for at most
 * CUVC_COMPLETION_TIMEOUT_MS. Statuses are the 32-bit codes of platform/usb/status.h, passed up
 * unchanged; 0 is success, and nothing here retries.
 */
#ifndef VELTO_CUVC_H
#define VELTO_CUVC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
namespace velto::usb {
struct Service;
}
typedef velto::usb::Service cuvc_service;
extern "C" {
#else
typedef struct cuvc_service cuvc_service; /* a USB device as the registry lists it */
#endif

typedef uint32_t cuvc_status;
#define CUVC_SUCCESS 0u

/* UVC request codes. GET_LEN and GET_INFO are never issued. */
#define CUVC_SET_CUR 0x01u
#define CUVC_GET_CUR 0x81u
#define CUVC_GET_MIN 0x82u
#define CUVC_GET_MAX 0x83u
#define CUVC_GET_RES 0x84u
#define CUVC_GET_DEF 0x87u

/* Time-outs of every request: without any data, and for the whole exchange. */
#define CUVC_NO_DATA_TIMEOUT_MS 500u
#define CUVC_COMPLETION_TIMEOUT_MS 1000u

/* What opening a device found. Every field is zero when not found. */
typedef struct cuvc_info {
  uint16_t vendorID;           /* idVendor */
  uint16_t productID;          /* idProduct */
  uint32_t locationID;         /* stable per physical port */
  uint8_t interfaceNumber;     /* bInterfaceNumber of the first VideoControl interface */
  uint8_t cameraTerminalID;    /* bTerminalID of the first camera input terminal */
  uint32_t cameraControls;     /* its bmControls, first up to 4 bytes, little-endian */
  uint8_t processingUnitID;    /* bUnitID of the first processing unit */
  uint32_t processingControls; /* its bmControls, as above */
  uint8_t extensionUnitID;     /* bUnitID of the first extension unit, any GUID */
  uint32_t extensionControls;  /* its bmControls, as above */
  uint8_t extensionGUID[16];   /* its guidExtensionCode in descriptor byte order */
} cuvc_info;

typedef struct cuvc_handle cuvc_handle;

/* Opens `service` and fills `info` (cleared first). Returns null when the device cannot be reached,
 * its descriptor cannot be read or has no VideoControl interface; `info` must not be used then.
 * Blocks for about one request time-out at most. */
cuvc_handle* cuvc_open(const cuvc_service* service, cuvc_info* info);

/* Why cuvc_open_ex found no device: the status (no device, not privileged, exclusive access, ...)
 * and, when a file refused, its path (a video or usbfs node), NUL-terminated and possibly cut. */
typedef struct cuvc_open_failure {
  cuvc_status status;
  char path[256];
} cuvc_open_failure;

/* cuvc_open that also says why it failed: `failure`, when not null, is cleared and, on failure,
 * filled. A device without a readable descriptor or a VideoControl interface answers
 * "unsupported". */
cuvc_handle* cuvc_open_ex(const cuvc_service* service, cuvc_info* info, cuvc_open_failure* failure);

/* Releases the device and frees the handle. A null handle is accepted and does nothing. */
void cuvc_close(cuvc_handle* handle);

/* Sends a UVC read request (`request` is one of the CUVC_GET_* codes) to `unit`/`selector` and
 * receives up to `length` bytes into `data`. A short answer is not an error: `transferred`, when
 * not null, receives the count, and the rest of `data` keeps its previous contents. */
cuvc_status cuvc_get(cuvc_handle* handle, uint8_t request, uint8_t unit, uint8_t selector,
                     void* data, uint16_t length, uint16_t* transferred);

/* Sends SET_CUR with `length` bytes of `data` to `unit`/`selector`. */
cuvc_status cuvc_set(cuvc_handle* handle, uint8_t unit, uint8_t selector, const void* data,
                     uint16_t length);

/* Makes the device leave the bus and return (a USB re-enumeration). Returns the status of the
 * exclusive open when that fails, and then does nothing else. The handle stays allocated; its
 * requests fail from then on. */
cuvc_status cuvc_reenumerate(cuvc_handle* handle);

/* Change notices: the device tells when other programs, or the camera itself, change a control.
 * cuvc_notice_source subscribes (the first time) and returns the descriptor to wait on, or -1 when
 * the device sends no notices; `priority`, when not null, is set to 1 when the descriptor signals
 * with priority data (POLLPRI) and 0 when it becomes readable (POLLIN). The descriptor stays open
 * until cuvc_close. */
int cuvc_notice_source(cuvc_handle* handle, int* priority);

/* One notice: the control at `unit`/`selector` has changed. Also names a control whose changes
 * are told (cuvc_notice_coverage). */
typedef struct cuvc_notice {
  uint8_t unit;
  uint8_t selector;
} cuvc_notice;

/* Takes the notices that have arrived, without waiting: up to `capacity` into `out` (any more are
 * dropped), and returns how many; -1 once no notice will come any more (the device has gone). */
int cuvc_take_notices(cuvc_handle* handle, cuvc_notice* out, size_t capacity);

/* The controls whose changes the notices tell of, once cuvc_notice_source has subscribed: -1 for
 * every control; otherwise how many, with up to `capacity` of them in `out` (0 without notices). */
int cuvc_notice_coverage(cuvc_handle* handle, cuvc_notice* out, size_t capacity);

/* Where a stream started by any program shows without streaming from the device: the path of the
 * file such a program opens first (the video node) goes into `node`, and that of the attribute
 * holding the streaming interface's current alternate setting into `alternate_setting`, each
 * NUL-terminated within `capacity` bytes. Returns 0, or -1 when the device cannot tell or a path
 * does not fit (both are then empty strings). */
int cuvc_stream_signs(cuvc_handle* handle, char* node, char* alternate_setting, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* VELTO_CUVC_H */
