// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/gst_runtime.h"

#include <gst/gst.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <utility>

#include "support/log.h"

namespace velto::video {
namespace {

constexpr int kMaxWidth = 1920;
constexpr int kMaxHeight = 1080;

// The elements a session may build, and where Debian ships them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 14> kPackages{{
    {"v4l2src", "gstreamer1.0-plugins-good"},
    {"jpegdec", "gstreamer1.0-plugins-good"},
    {"jpegenc", "gstreamer1.0-plugins-good"},
    {"multifilesrc", "gstreamer1.0-plugins-good"},
    {"decodebin", "gstreamer1.0-plugins-base"},
    {"videoconvert", "gstreamer1.0-plugins-base"},
    {"videoscale", "gstreamer1.0-plugins-base"},
    {"appsink", "gstreamer1.0-plugins-base"},
    {"appsrc", "gstreamer1.0-plugins-base"},
    {"videotestsrc", "gstreamer1.0-plugins-base"},
    {"capsfilter", "libgstreamer1.0-0"},
    {"identity", "libgstreamer1.0-0"},
    {"fakesink", "libgstreamer1.0-0"},
    {"fdsrc", "libgstreamer1.0-0"},
}};

struct Mode {
  bool raw = false;
  std::string media;
  std::string format;  // raw only
  int width = 0;
  int height = 0;
  int fpsNum = 0;
  int fpsDen = 1;
};

// The largest value of an integer field that is at most `limit`: a fixed number, a range or a
// list of them.
std::optional<int> largestInt(const GValue* value, int limit) {
  if (value == nullptr) return std::nullopt;
  if (G_VALUE_HOLDS_INT(value)) {
    const int v = g_value_get_int(value);
    return v > 0 && v <= limit ? std::optional(v) : std::nullopt;
  }
  if (GST_VALUE_HOLDS_INT_RANGE(value)) {
    const int low = gst_value_get_int_range_min(value);
    const int high = std::min(gst_value_get_int_range_max(value), limit);
    const int step = std::max(gst_value_get_int_range_step(value), 1);
    if (high < low || high <= 0) return std::nullopt;
    return low + (high - low) / step * step;
  }
  if (GST_VALUE_HOLDS_LIST(value)) {
    std::optional<int> best;
    for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
      const auto v = largestInt(gst_value_list_get_value(value, i), limit);
      if (v && (!best || *v > *best)) best = v;
    }
    return best;
  }
  return std::nullopt;
}

// The best frame rate of a framerate field: a fraction, a range or a list of them.
std::optional<std::pair<int, int>> bestRate(const GValue* value) {
  if (value == nullptr) return std::nullopt;
  if (GST_VALUE_HOLDS_FRACTION(value)) {
    const int n = gst_value_get_fraction_numerator(value);
    const int d = gst_value_get_fraction_denominator(value);
    return n > 0 && d > 0 ? std::optional(std::pair(n, d)) : std::nullopt;
  }
  if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) return bestRate(gst_value_get_fraction_range_max(value));
  if (GST_VALUE_HOLDS_LIST(value)) {
    std::optional<std::pair<int, int>> best;
    for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
      const auto r = bestRate(gst_value_list_get_value(value, i));
      if (r && (!best || static_cast<double>(r->first) / r->second > static_cast<double>(best->first) / best->second)) {
        best = r;
      }
    }
    return best;
  }
  return std::nullopt;
}

// Orders candidates: area, then rate, then raw before compressed.
bool better(const Mode& a, const Mode& b) {
  const long areaA = static_cast<long>(a.width) * a.height, areaB = static_cast<long>(b.width) * b.height;
  if (areaA != areaB) return areaA > areaB;
  const long long rateA = static_cast<long long>(a.fpsNum) * b.fpsDen, rateB = static_cast<long long>(b.fpsNum) * a.fpsDen;
  if (rateA != rateB) return rateA > rateB;
  return a.raw && !b.raw;
}

}  // namespace

bool ensureGstreamer(std::string* error) {
  static std::once_flag once;
  static bool usable = false;
  static std::string failure;
  std::call_once(once, [] {
    GError* err = nullptr;
    usable = gst_init_check(nullptr, nullptr, &err) != FALSE;
    // GStreamer's streaming threads come from GLib's thread pools, which keep a finished one
    // waiting for the next task; a session ends rarely, and its thread should end with it.
    g_thread_pool_set_max_unused_threads(0);
    if (!usable) {
      failure = std::string("GStreamer could not be started: ") + (err != nullptr ? err->message : "unknown error");
      log::warning(log::Layer::capture, failure);
    }
    if (err != nullptr) g_error_free(err);
  });
  if (!usable && error != nullptr) *error = failure;
  return usable;
}

std::string_view packageForElement(std::string_view element) {
  for (const auto& [name, package] : kPackages) {
    if (name == element) return package;
  }
  return {};
}

UserText missingElementText(std::string_view element) {
  const UserText name = UserText::verbatim(QString::fromUtf8(element.data(), qsizetype(element.size())));
  const std::string_view package = packageForElement(element);
  if (package.empty()) return UserText(QT_TRANSLATE_NOOP("Messages", "GStreamer element '%1' is missing"), {name});
  return UserText(QT_TRANSLATE_NOOP("Messages", "GStreamer element '%1' is missing (install %2)"),
                  {name, UserText::verbatim(QString::fromUtf8(package.data(), qsizetype(package.size())))});
}

std::string highPresetCaps(const std::string& offered) {
  if (!ensureGstreamer()) return {};
  GstCaps* caps = gst_caps_from_string(offered.c_str());
  if (caps == nullptr) return {};
  std::optional<Mode> best;
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    Mode mode;
    mode.media = gst_structure_get_name(s);
    mode.raw = mode.media == "video/x-raw";
    if (mode.raw) {
      const gchar* format = gst_structure_get_string(s, "format");
      if (format == nullptr) continue;  // a list of formats: let the source pick among them
      mode.format = format;
    }
    const auto width = largestInt(gst_structure_get_value(s, "width"), kMaxWidth);
    const auto height = largestInt(gst_structure_get_value(s, "height"), kMaxHeight);
    const auto rate = bestRate(gst_structure_get_value(s, "framerate"));
    if (!width || !height || !rate) continue;
    mode.width = *width;
    mode.height = *height;
    std::tie(mode.fpsNum, mode.fpsDen) = *rate;
    if (!best || better(mode, *best)) best = mode;
  }
  gst_caps_unref(caps);
  if (!best) return {};
  std::string text = best->media;
  if (best->raw) text += ",format=" + best->format;
  text += ",width=" + std::to_string(best->width) + ",height=" + std::to_string(best->height) +
          ",framerate=" + std::to_string(best->fpsNum) + "/" + std::to_string(best->fpsDen);
  return text;
}

}  // namespace velto::video
