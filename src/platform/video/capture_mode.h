// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A way a camera can stream: its format, frame size and frame rate, as V4L2 enumerates it or a
// UVC VideoStreaming descriptor advertises it. The preview streams in one when the user chose
// one, and otherwise picks for itself (automatic).
//
// Formats are named by one four-character code whichever side told them: V4L2's YUYV and UVC's
// YUY2 GUID are both "YUY2". Only the formats the session can ask GStreamer for are listed
// (kFormats); a camera's other formats are left out. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velto::video {

struct CaptureMode {
  std::uint32_t fourcc = 0;  // fourccOf("MJPG"), "YUY2", "NV12", "H264"
  int width = 0;
  int height = 0;
  int fps = 0;  // frames a second, rounded to a whole number

  friend bool operator==(const CaptureMode&, const CaptureMode&) = default;
};

constexpr std::uint32_t fourccOf(std::string_view code) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4 && i < code.size(); ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(code[i])) << (8 * i);
  return value;
}

// The formats a mode may have: their code, the name people know them by, and GStreamer's caps.
struct FormatInfo {
  std::uint32_t fourcc;
  const char* name;  // "MJPEG", "YUY2", "NV12", "H.264"
  const char* caps;  // "image/jpeg", "video/x-raw,format=YUY2", ...
};
std::span<const FormatInfo> knownFormats();
const FormatInfo* formatInfo(std::uint32_t fourcc);

// "MJPEG", "YUY2", "H.264"; the four characters for a format not in the table.
std::string formatName(std::uint32_t fourcc);
// The format called `name`, case-insensitively: its name or code, or V4L2's ("YUYV", "H.264",
// "h264", "mjpg" all count); none for anything else.
std::optional<std::uint32_t> formatNamed(std::string_view name);

// "1920 × 1080 · 30 fps · MJPEG" (UTF-8).
std::string describeMode(const CaptureMode& mode);

// `modes` as a person reads a list of them: the largest picture first, then the higher rate,
// then the format in the table's order; each mode once.
std::vector<CaptureMode> orderedModes(std::vector<CaptureMode> modes);

// How a mode is stored: "MJPG 1920x1080@30"; parseModeKey reads it back, none for anything else.
std::string modeKey(const CaptureMode& mode);
std::optional<CaptureMode> parseModeKey(std::string_view key);

// GStreamer caps that hold the session to `mode`. A driver's rate may be a fraction such as
// 30000/1001: any rate that rounds to the mode's is accepted. Empty for an unknown format.
std::string modeCaps(const CaptureMode& mode);

// The modes a UVC configuration descriptor advertises in its VideoStreaming interfaces
// (uncompressed, MJPEG and frame-based formats with their frames and intervals), ordered.
// Malformed descriptors end the walk: what was read before them is kept.
std::vector<CaptureMode> modesFromConfiguration(std::span<const std::uint8_t> configuration);

// What a command asks for: each part that is set must match.
struct ModeWish {
  std::optional<std::uint32_t> fourcc;
  std::optional<int> width;
  std::optional<int> height;
  std::optional<int> fps;
  bool empty() const { return !fourcc && !width && !fps; }
  friend bool operator==(const ModeWish&, const ModeWish&) = default;
};
// The first of `offered` (ordered) that fits `wish`; none when none does.
std::optional<CaptureMode> pickMode(const std::vector<CaptureMode>& offered, const ModeWish& wish);
// "1280x720, MJPEG, 15 fps": the parts of `wish` that are set.
std::string describeWish(const ModeWish& wish);

}  // namespace velto::video
