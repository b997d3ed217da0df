// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The wire protocol between a simulated camera (velto-simcam) and its sim carrier, shared by both
// ends. docs/simcam-protocol.md is the reference; this file is its only implementation.
//
// A stream of frames over a Unix stream socket: a 32-bit little-endian body length, then the body,
// whose first byte is the message type. Bodies longer than kMaxBodySize (or empty) are malformed,
// and a malformed frame ends that connection. Pure functions over bytes: no I/O, no allocation
// beyond the decoded message, never reads outside its input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/usb/status.h"

namespace velto::usb::simcam {

// Version 1: control requests. Version 2 adds the frame stream (BGRA). Version 3 sends frames as
// the camera would (YUY2 or MJPEG), each behind a frame header: the format's four-character code
// and the length of what follows, u32 little-endian each. Version 4 lets the client ask for one of
// the modes the camera's streaming descriptors advertise (StreamModeRequest). A server speaks all
// four.
inline constexpr std::uint16_t kProtocolVersion = 1;
inline constexpr std::uint16_t kStreamProtocolVersion = 2;
inline constexpr std::uint16_t kCodedStreamProtocolVersion = 3;
inline constexpr std::uint16_t kModeStreamProtocolVersion = 4;
inline constexpr std::size_t kCodedFrameHeaderSize = 8;
// Large enough for a 64 KiB control payload or configuration descriptor with its header; video
// frames travel in chunks below this limit.
inline constexpr std::size_t kMaxBodySize = 256 * 1024;
inline constexpr std::size_t kLengthPrefix = 4;
// A frame chunk: length prefix, type, u32 sequence, u32 offset, then the pixels.
inline constexpr std::size_t kChunkHeaderSize = kLengthPrefix + 1 + 8;
inline constexpr std::size_t kMaxChunkData = kMaxBodySize - (kChunkHeaderSize - kLengthPrefix);

enum class MessageType : std::uint8_t {
  hello = 0x01,
  welcome = 0x02,
  deviceInfo = 0x03,
  controlRequest = 0x10,
  controlReply = 0x11,
  reenumerate = 0x12,
  reenumerateReply = 0x13,
  // 0x40-0x4f: the video stream (version 2).
  streamRequest = 0x40,
  streamStart = 0x41,
  streamRefused = 0x42,
  frameChunk = 0x43,
  streamModeRequest = 0x44,  // version 4
  // 0x50-0x5f: change notices.
  noticeRequest = 0x50,
  controlChanged = 0x51,
  error = 0x7f,
};

// Client -> server, first message: the protocol versions the client speaks.
struct Hello {
  std::uint16_t minVersion = kProtocolVersion;
  std::uint16_t maxVersion = kProtocolVersion;
  friend bool operator==(const Hello&, const Hello&) = default;
};

// Server -> client: the version chosen; a DeviceInfo follows.
struct Welcome {
  std::uint16_t version = kProtocolVersion;
  friend bool operator==(const Welcome&, const Welcome&) = default;
};

// Server -> client: what the system's USB registry knows of the device.
struct DeviceInfo {
  std::uint64_t registryID = 0;
  std::uint16_t vendorID = 0;
  std::uint16_t productID = 0;
  std::uint32_t locationID = 0;
  std::optional<std::string> productName;  // at most 65535 bytes
  std::vector<std::uint8_t> configuration;  // raw configuration descriptor 0
  friend bool operator==(const DeviceInfo&, const DeviceInfo&) = default;
};

// Client -> server: one default-pipe request. `data` is the OUT payload (wLength bytes) for a
// host-to-device request and empty for a device-to-host one.
struct ControlRequest {
  std::uint32_t tag = 0;  // echoed in the reply, so a late answer can be told from a fresh one
  std::uint8_t bmRequestType = 0;
  std::uint8_t bRequest = 0;
  std::uint16_t wValue = 0;
  std::uint16_t wIndex = 0;
  std::uint16_t wLength = 0;
  std::vector<std::uint8_t> data;
  friend bool operator==(const ControlRequest&, const ControlRequest&) = default;
};

// Server -> client: the status of a request and, for an IN request, at most wLength bytes.
struct ControlReply {
  std::uint32_t tag = 0;
  Status status = status::success;
  std::vector<std::uint8_t> data;
  friend bool operator==(const ControlReply&, const ControlReply&) = default;
};

// Client -> server: leave the bus and come back. The server answers, then closes the connection.
struct Reenumerate {
  std::uint32_t tag = 0;
  friend bool operator==(const Reenumerate&, const Reenumerate&) = default;
};

struct ReenumerateReply {
  std::uint32_t tag = 0;
  Status status = status::success;
  friend bool operator==(const ReenumerateReply&, const ReenumerateReply&) = default;
};

// Server -> client, before closing: why (unsupported version, malformed input). Free text.
struct Error {
  std::string text;
  friend bool operator==(const Error&, const Error&) = default;
};

// Client -> server (version 2): send frames of at most this size on this connection. The
// connection carries nothing else from then on.
struct StreamRequest {
  std::uint16_t maxWidth = 0;
  std::uint16_t maxHeight = 0;
  friend bool operator==(const StreamRequest&, const StreamRequest&) = default;
};

// Client -> server (version 4), in place of a StreamRequest: send frames in exactly this format
// ("MJPG", "YUY2", "H264" as four characters, first character in the lowest byte), size and rate,
// one the camera advertises. The server refuses anything else as unsupported.
struct StreamModeRequest {
  std::uint32_t fourcc = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint16_t fps = 0;
  friend bool operator==(const StreamModeRequest&, const StreamModeRequest&) = default;
};

// Server -> client: frames follow, BGRA, rows of exactly 4 × width bytes. All fields at least 1.
struct StreamStart {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint16_t fps = 0;
  friend bool operator==(const StreamStart&, const StreamStart&) = default;
};

// Server -> client, before closing: no stream.
struct StreamRefused {
  enum class Reason : std::uint8_t {
    busy = 1,         // another application streams from the camera
    unsupported = 2,  // no frame size fits the request, or the mode asked for is not offered
  };
  Reason reason = Reason::busy;
  std::string text;
  friend bool operator==(const StreamRefused&, const StreamRefused&) = default;
};

// Server -> client: `data` belongs at byte `offset` of frame `sequence`. A frame's chunks come in
// order, back to back, and fill it exactly; the data is never empty.
struct FrameChunk {
  std::uint32_t sequence = 0;
  std::uint32_t offset = 0;
  std::vector<std::uint8_t> data;
  friend bool operator==(const FrameChunk&, const FrameChunk&) = default;
};

// Client -> server, after the handshake: tell of control changes on this connection. It carries
// nothing else from then on. A server that does not know it closes the connection.
struct NoticeRequest {
  friend bool operator==(const NoticeRequest&, const NoticeRequest&) = default;
};

// Server -> client, on a notice connection: the control at `unit`/`selector` has changed (by a
// host, `velto-simcam ctl set`, or the firmware itself).
struct ControlChanged {
  std::uint8_t unit = 0;
  std::uint8_t selector = 0;
  friend bool operator==(const ControlChanged&, const ControlChanged&) = default;
};

using Message = std::variant<Hello, Welcome, DeviceInfo, ControlRequest, ControlReply, Reenumerate,
                             ReenumerateReply, Error, StreamRequest, StreamStart, StreamRefused, FrameChunk, StreamModeRequest,
                             NoticeRequest, ControlChanged>;

// The whole frame: length prefix and body. A message whose fields do not fit their wire widths
// (a name longer than 65535 bytes, data longer than 65535 bytes, a descriptor past the size limit)
// is a programming error; it is cut to fit.
std::vector<std::uint8_t> encode(const Message& message);

// Decodes one body (without the length prefix). None when the body is empty, too long, of an
// unknown type, shorter or longer than its fields say, or inconsistent (OUT data length != wLength).
std::optional<Message> decodeBody(std::span<const std::uint8_t> body);

// The first kChunkHeaderSize bytes of a frame chunk carrying `dataLength` bytes (at most
// kMaxChunkData): a sender writes the pixels straight after it, a receiver reads them straight
// into place, neither copies them into a message.
std::array<std::uint8_t, kChunkHeaderSize> encodeChunkHeader(std::uint32_t sequence, std::uint32_t offset,
                                                            std::size_t dataLength);
struct ChunkHeader {
  std::uint32_t sequence = 0;
  std::uint32_t offset = 0;
  std::size_t dataLength = 0;
};
// Reads a chunk header. None when `header` is not the start of a frame chunk with data, or its
// length is out of bounds; the caller then reads the message whole (it may be an error).
std::optional<ChunkHeader> decodeChunkHeader(std::span<const std::uint8_t, kChunkHeaderSize> header);

// Cuts a byte stream into messages.
class FrameReader {
 public:
  enum class Result { message, needMore, malformed };

  // Appends received bytes. Cheap; nothing is decoded here.
  void append(std::span<const std::uint8_t> bytes);

  // Takes the next whole message out of the buffer. `malformed` is final: the stream cannot be
  // resynchronised and the connection should be closed.
  Result next(Message& out);

  std::size_t buffered() const { return buffer_.size() - start_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;
  bool broken_ = false;
};

}  // namespace velto::usb::simcam
