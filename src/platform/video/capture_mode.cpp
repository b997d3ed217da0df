// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/capture_mode.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <tuple>

namespace velto::video {
namespace {

constexpr FormatInfo kFormats[] = {
    {fourccOf("MJPG"), "MJPEG", "image/jpeg"},
    {fourccOf("YUY2"), "YUY2", "video/x-raw,format=YUY2"},
    {fourccOf("NV12"), "NV12", "video/x-raw,format=NV12"},
    {fourccOf("H264"), "H.264", "video/x-h264,stream-format=byte-stream"},
};

// Other spellings of the table's formats: V4L2's codes and what people type.
struct Alias {
  const char* text;
  const char* code;
};
constexpr Alias kAliases[] = {{"YUYV", "YUY2"}, {"MJPG", "MJPG"}, {"JPEG", "MJPG"}, {"H264", "H264"}};

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

int formatRank(std::uint32_t fourcc) {
  const auto formats = knownFormats();
  for (std::size_t i = 0; i < formats.size(); ++i) {
    if (formats[i].fourcc == fourcc) return static_cast<int>(i);
  }
  return static_cast<int>(formats.size());
}

std::uint32_t le32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}
int le16(const std::uint8_t* at) { return at[0] | at[1] << 8; }

// Frames a second of a UVC frame interval (100 ns units); 0 for none.
int fpsOfInterval(std::uint32_t interval) {
  if (interval == 0) return 0;
  return static_cast<int>(std::lround(10'000'000.0 / interval));
}

std::optional<int> number(std::string_view text) {
  int value = 0;
  auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (err != std::errc{} || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

}  // namespace

std::span<const FormatInfo> knownFormats() { return kFormats; }

const FormatInfo* formatInfo(std::uint32_t fourcc) {
  for (const FormatInfo& f : kFormats) {
    if (f.fourcc == fourcc) return &f;
  }
  return nullptr;
}

std::string formatName(std::uint32_t fourcc) {
  if (const FormatInfo* f = formatInfo(fourcc)) return f->name;
  std::string code;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(fourcc >> (8 * i));
    code.push_back(c >= 0x20 && c < 0x7f ? c : '?');
  }
  return code;
}

std::optional<std::uint32_t> formatNamed(std::string_view name) {
  const std::string wanted = upper(name);
  for (const FormatInfo& f : kFormats) {
    if (wanted == upper(f.name) || (wanted.size() == 4 && fourccOf(wanted) == f.fourcc)) return f.fourcc;
  }
  for (const Alias& a : kAliases) {
    if (wanted == a.text) return fourccOf(a.code);
  }
  return std::nullopt;
}

std::string describeMode(const CaptureMode& mode) {
  return std::to_string(mode.width) + " \u00d7 " + std::to_string(mode.height) + " \u00b7 " + std::to_string(mode.fps) +
         " fps \u00b7 " + formatName(mode.fourcc);
}

std::vector<CaptureMode> orderedModes(std::vector<CaptureMode> modes) {
  auto rankOf = [](const CaptureMode& m) {
    return std::make_tuple(-static_cast<long long>(m.width) * m.height, -m.width, -m.fps, formatRank(m.fourcc), m.fourcc);
  };
  std::sort(modes.begin(), modes.end(), [&](const CaptureMode& a, const CaptureMode& b) { return rankOf(a) < rankOf(b); });
  modes.erase(std::unique(modes.begin(), modes.end()), modes.end());
  return modes;
}

std::string modeKey(const CaptureMode& mode) {
  std::string code;
  for (int i = 0; i < 4; ++i) code.push_back(static_cast<char>(mode.fourcc >> (8 * i)));
  return code + " " + std::to_string(mode.width) + "x" + std::to_string(mode.height) + "@" + std::to_string(mode.fps);
}

std::optional<CaptureMode> parseModeKey(std::string_view key) {
  if (key.size() < 10 || key[4] != ' ') return std::nullopt;
  const auto x = key.find('x', 5);
  const auto at = key.find('@', 5);
  if (x == std::string_view::npos || at == std::string_view::npos || at < x) return std::nullopt;
  const auto width = number(key.substr(5, x - 5));
  const auto height = number(key.substr(x + 1, at - x - 1));
  const auto fps = number(key.substr(at + 1));
  if (!width || !height || !fps) return std::nullopt;
  const std::uint32_t fourcc = fourccOf(key.substr(0, 4));
  if (formatInfo(fourcc) == nullptr) return std::nullopt;
  return CaptureMode{fourcc, *width, *height, *fps};
}

std::string modeCaps(const CaptureMode& mode) {
  const FormatInfo* f = formatInfo(mode.fourcc);
  if (f == nullptr) return {};
  // Half a frame a second either side: 30000/1001 and 30/1 are both "30 fps".
  return std::string(f->caps) + ",width=" + std::to_string(mode.width) + ",height=" + std::to_string(mode.height) +
         ",framerate=[ " + std::to_string(2 * mode.fps - 1) + "/2, " + std::to_string(2 * mode.fps + 1) + "/2 ]";
}

std::vector<CaptureMode> modesFromConfiguration(std::span<const std::uint8_t> config) {
  constexpr std::uint8_t kInterface = 0x04, kCsInterface = 0x24, kVideo = 0x0E, kStreaming = 0x02;
  constexpr std::uint8_t kFormatUncompressed = 0x04, kFrameUncompressed = 0x05, kFormatMjpeg = 0x06,
                         kFrameMjpeg = 0x07, kFormatFrameBased = 0x10, kFrameFrameBased = 0x11;
  std::vector<CaptureMode> modes;
  bool streaming = false;
  std::uint32_t format = 0;  // of the frames that follow; 0: one we do not list
  std::uint8_t frameSubtype = 0;
  for (std::size_t at = 0; at + 2 <= config.size();) {
    const std::uint8_t length = config[at];
    if (length < 2 || at + length > config.size()) break;
    const std::uint8_t* d = config.data() + at;
    at += length;
    if (d[1] == kInterface && length >= 9) {
      streaming = d[5] == kVideo && d[6] == kStreaming;
      format = 0;
      continue;
    }
    if (!streaming || d[1] != kCsInterface || length < 3) continue;
    const std::uint8_t subtype = d[2];
    if (subtype == kFormatMjpeg) {
      format = fourccOf("MJPG");
      frameSubtype = kFrameMjpeg;
    } else if ((subtype == kFormatUncompressed || subtype == kFormatFrameBased) && length >= 9) {
      // The GUID's first four bytes are the format's code.
      const std::uint32_t code = le32(d + 5);
      format = formatInfo(code) != nullptr ? code : 0;
      frameSubtype = subtype == kFormatUncompressed ? kFrameUncompressed : kFrameFrameBased;
    } else if (format != 0 && subtype == frameSubtype && length >= 26) {
      // Both frame layouts keep the size at 5 and the intervals from 26: discrete ones, or
      // minimum, maximum and step (continuous). The interval count is at 21 in a frame-based
      // frame, which has no buffer size, and at 25 in the others.
      const int width = le16(d + 5), height = le16(d + 7);
      const std::uint8_t count = d[subtype == kFrameFrameBased ? 21 : 25];
      const std::size_t intervals = count == 0 ? 3 : count;
      if (width == 0 || height == 0 || 26 + 4 * intervals > length) continue;
      std::vector<int> rates;
      if (count == 0) {
        rates = {fpsOfInterval(le32(d + 26)), fpsOfInterval(le32(d + 30))};
      } else {
        for (std::size_t i = 0; i < intervals; ++i) rates.push_back(fpsOfInterval(le32(d + 26 + 4 * i)));
      }
      for (int fps : rates) {
        if (fps > 0) modes.push_back({format, width, height, fps});
      }
    }
  }
  return orderedModes(std::move(modes));
}

std::optional<CaptureMode> pickMode(const std::vector<CaptureMode>& offered, const ModeWish& wish) {
  for (const CaptureMode& m : offered) {
    if (wish.fourcc && m.fourcc != *wish.fourcc) continue;
    if (wish.width && (m.width != *wish.width || m.height != wish.height.value_or(m.height))) continue;
    if (wish.fps && m.fps != *wish.fps) continue;
    return m;
  }
  return std::nullopt;
}

std::string describeWish(const ModeWish& wish) {
  std::string text;
  auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (wish.width) add(std::to_string(*wish.width) + "x" + std::to_string(wish.height.value_or(0)));
  if (wish.fourcc) add(formatName(*wish.fourcc));
  if (wish.fps) add(std::to_string(*wish.fps) + " fps");
  return text;
}

}  // namespace velto::video
