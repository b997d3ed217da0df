// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/gst_session.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <tuple>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/video/camera_holders.h"
#include "platform/video/frame_decoder.h"
#include "platform/video/gst_handle.h"
#include "platform/video/gst_runtime.h"
#include "platform/video/sim_stream.h"
#include "platform/video/v4l2_devices.h"
#include "support/log.h"
#include "support/log_categories.h"

namespace velto::video {
namespace {

// How long stop() waits for the pipeline to reach NULL. A healthy pipeline takes milliseconds;
// one whose source sits in a call that never returns would otherwise hold the session queue,
// and with it every later configure, forever.
constexpr auto kStopBound = std::chrono::seconds(1);

// What the session decodes itself: the appsink takes these as the source sends them. Anything
// else (H.264, NV12, ...) GStreamer decodes and converts to BGRA first.
constexpr const char* kCodedCaps = "image/jpeg; video/x-raw,format=BGRA; video/x-raw,format=BGRx; video/x-raw,format=YUY2";

std::string displayName(const CaptureDevice& device) {
  return device.name.empty() ? "The camera" : device.name;
}

// The words the preview shows for a camera another program streams from: that program when it
// could be seen.
UserText inUseText(const CaptureDevice& device, const std::optional<CameraHolder>& holder) {
  if (holder) {
    return UserText(QT_TRANSLATE_NOOP("Messages", "%1 (PID %2) is using the camera."),
                    {UserText::verbatim(QString::fromStdString(holder->name)),
                     UserText::verbatim(QString::number(holder->pid))});
  }
  if (device.name.empty()) return UserText(QT_TRANSLATE_NOOP("Messages", "The camera is in use by another application."));
  return UserText(QT_TRANSLATE_NOOP("Messages", "%1 is in use by another application."),
                  {UserText::verbatim(QString::fromStdString(device.name))});
}

// The camera's picture in `sample`, copied out (a capture buffer goes back to its pool at once).
// Width, height and bytes per row come from the caps and, for raw video, the buffer's video meta
// (gst_video_frame_map reads it), never from an assumption.
std::shared_ptr<const CodedFrame> codedFromSample(GstSample* sample, FrameDecoder& decoder, std::string* why) {
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstStructure* structure = caps != nullptr && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
  if (structure == nullptr || buffer == nullptr) {
    *why = "a sample without caps";
    return nullptr;
  }
  std::shared_ptr<CodedFrame> coded = decoder.codedFrame();
  if (gst_structure_has_name(structure, "image/jpeg")) {
    coded->format = CodedFrame::Format::mjpeg;
    if (!gst_structure_get_int(structure, "width", &coded->width) ||
        !gst_structure_get_int(structure, "height", &coded->height) || coded->width <= 0 || coded->height <= 0) {
      *why = "a JPEG sample without its size";
      return nullptr;
    }
    coded->bytes.resize(gst_buffer_get_size(buffer));
    gst_buffer_extract(buffer, 0, coded->bytes.data(), coded->bytes.size());
    return coded;
  }
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, caps) || GST_VIDEO_INFO_WIDTH(&info) <= 0 || GST_VIDEO_INFO_HEIGHT(&info) <= 0) {
    *why = "a sample without readable video caps";
    return nullptr;
  }
  switch (GST_VIDEO_INFO_FORMAT(&info)) {
    case GST_VIDEO_FORMAT_YUY2: coded->format = CodedFrame::Format::yuy2; break;
    case GST_VIDEO_FORMAT_BGRA:
    case GST_VIDEO_FORMAT_BGRx: coded->format = CodedFrame::Format::bgra; break;
    default: *why = std::string("a sample in ") + gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)); return nullptr;
  }
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
    *why = "a buffer shorter than its caps say";
    return nullptr;
  }
  coded->width = GST_VIDEO_FRAME_WIDTH(&frame);
  coded->height = GST_VIDEO_FRAME_HEIGHT(&frame);
  coded->bytesPerRow = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  const auto* data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const std::size_t rows = static_cast<std::size_t>(coded->bytesPerRow) * static_cast<std::size_t>(coded->height);
  const std::size_t mapped = frame.map[0].size - static_cast<std::size_t>(data - static_cast<const std::uint8_t*>(frame.map[0].data));
  coded->bytes.assign(data, data + std::min(rows, mapped));
  gst_video_frame_unmap(&frame);
  return coded;
}

using Kind = SessionError::Kind;

// What a GError's code says by itself; nothing where it leaves the cause open. v4l2src reports a
// refused open as OPEN_READ_WRITE whatever the errno, and a camera pulled out mid-stream as READ
// or FAILED; decodebin reports a decoder it cannot find as CODEC_NOT_FOUND.
std::optional<Kind> kindOfCode(const GError& err) {
  if (err.domain == GST_RESOURCE_ERROR) {
    switch (err.code) {
      case GST_RESOURCE_ERROR_BUSY: return Kind::busy;
      case GST_RESOURCE_ERROR_NOT_AUTHORIZED: return Kind::denied;
      case GST_RESOURCE_ERROR_NOT_FOUND: return Kind::vanished;
      default: return std::nullopt;
    }
  }
  if (err.domain == GST_CORE_ERROR && err.code == GST_CORE_ERROR_MISSING_PLUGIN) return Kind::missingElement;
  if (err.domain == GST_STREAM_ERROR && err.code == GST_STREAM_ERROR_CODEC_NOT_FOUND) return Kind::missingElement;
  return std::nullopt;
}

// What the node's answer to open(2) or VIDIOC_QUERYCAP (probeVideoNode) says; nothing for a node
// that answered, or failed in a way no problem of ours names.
std::optional<Kind> kindOfErrno(int err) {
  switch (err) {
    case EBUSY: return Kind::busy;
    case EACCES:
    case EPERM: return Kind::denied;
    case ENOENT:
    case ENODEV:
    case ENXIO: return Kind::vanished;
    default: return std::nullopt;
  }
}

// A bus message on its way to the owner's thread; copyable, as a task must be.
using HeldMessage = std::shared_ptr<GstMessage>;
HeldMessage hold(GstMessage* message) {
  return HeldMessage(message, [](GstMessage* m) { gst_message_unref(m); });
}

}  // namespace

// What the GStreamer callbacks and a simulated camera's feed share with the session. The appsink
// callbacks get a plain pointer: the session, or the thread that takes the pipeline down, holds a
// reference until the pipeline, and with it every callback, is gone. The bus's handler, the messages
// on their way to the owner's thread and the feed hold references of their own.
struct GstSession::Shared {
  CaptureDevice device;
  Callbacks callbacks;
  usb::SystemCalls* calls = nullptr;
  std::function<void(std::function<void()>)> post;
  std::thread::id owner;  // the thread that owns the session
  // Set (release) once the fields above are final, before any GStreamer thread may call in;
  // each callback reads it (acquire) first. GStreamer's own hand-over is invisible to
  // ThreadSanitizer, which is not built into GLib.
  std::atomic<bool> published{false};
  std::atomic<bool> stopping{false};
  std::atomic<bool> reported{false};
  std::atomic<bool> badSampleLogged{false};
  // The streaming thread's: one thread delivers the samples of a pipeline.
  FrameDecoder decoder;
  std::shared_ptr<const PictureSizeCell> pictureSize;  // null: kStatisticsSize
  std::optional<CaptureMode> mode;                     // what a simulated camera is asked for
  bool warned = false;  // owner's thread: an element warned already (some warn about every frame)

  void report(SessionError::Kind kind, const UserText& message, const std::string& detail = {},
              std::optional<CameraHolder> holder = std::nullopt) {
    if (stopping.load() || reported.exchange(true)) return;
    std::string text = message.english().toStdString();
    log::warning(log::Layer::capture, device.uniqueID + " (" + device.path + "): " + text +
                                          (detail.empty() ? std::string() : " [" + detail + "]"));
    if (callbacks.error) callbacks.error(SessionError{kind, std::move(text), message, std::move(holder)});
  }
  // Busy, with the program that holds the node when it can be seen. Owner's thread: looking
  // through /proc is device work like any other of the session's.
  void reportBusy(const std::string& detail) {
    if (stopping.load() || reported.load()) return;
    HolderSearch search;
    search.limit = 1;
    const std::vector<CameraHolder> holders = findCameraHolders(nodePath(device), search);
    std::optional<CameraHolder> holder;
    if (!holders.empty()) holder = holders.front();
    const UserText text = inUseText(device, holder);
    report(Kind::busy, text, detail, std::move(holder));
  }
  void report(SessionError::Kind kind, const std::string& text, const std::string& detail = {}) {
    report(kind, UserText::verbatim(QString::fromStdString(text)), detail);
  }

  // The words for `kind`; `why` says what failed when nothing more exact is known.
  void reportAs(Kind kind, const std::string& why, const std::string& detail) {
    const std::string name = displayName(device);
    switch (kind) {
      case Kind::busy: reportBusy(detail); return;
      case Kind::denied: report(kind, "Permission to open " + device.path + " was denied.", detail); return;
      case Kind::vanished: report(kind, name + " was disconnected.", detail); return;
      case Kind::missingElement:
        report(kind,
               UserText(QT_TRANSLATE_NOOP("Messages", "GStreamer cannot decode the video of %1 (install "
                                                      "gstreamer1.0-plugins-good, and gstreamer1.0-libav for H.264)."),
                        {UserText::verbatim(QString::fromStdString(name))}),
               detail);
        return;
      case Kind::failed: report(kind, name + " stopped sending video: " + why, detail); return;
    }
  }

  // A V4L2 device, or a test device that names the node it stands in for, can be asked why.
  bool hasNode() const {
    return !device.path.empty() && device.pipeWireNode.empty() &&
           (device.kind == CaptureDevice::Kind::v4l2 || device.kind == CaptureDevice::Kind::test);
  }

  // An error on the bus: its code, else the node's own answer, else a failure in GStreamer's words
  // (which are only ever shown, never read).
  void reportError(GstMessage* message) {
    if (stopping.load() || reported.load()) return;  // the first error says why; the rest follow it
    GError* err = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &err, &debug);
    const std::string why = err != nullptr && err->message != nullptr ? err->message : "an unknown error";
    std::string detail = std::string(GST_MESSAGE_SRC_NAME(message)) + ": ";
    if (err != nullptr) detail += std::string(g_quark_to_string(err->domain)) + " " + std::to_string(err->code) + ": ";
    detail += why;
    if (debug != nullptr) detail += std::string(" (") + debug + ")";
    std::optional<Kind> kind = err != nullptr ? kindOfCode(*err) : std::nullopt;
    if (!kind && hasNode()) {
      const int answer = probeVideoNode(device.path, *calls);
      detail += answer == 0 ? "; the node answers" : "; the node answers errno " + std::to_string(answer);
      kind = kindOfErrno(answer);
    }
    g_clear_error(&err);
    g_free(debug);
    reportAs(kind.value_or(Kind::failed), why, detail);
  }

  // Owner's thread. What comes after stop() began is of no interest but its state changes.
  void handle(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ERROR: reportError(message); return;
      case GST_MESSAGE_EOS:
        // A camera never ends its stream: a source that did will send no more frames.
        reportAs(Kind::failed, "the stream ended.", "end of stream");
        return;
      case GST_MESSAGE_WARNING: {
        if (stopping.load() || std::exchange(warned, true)) return;
        GError* err = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_warning(message, &err, &debug);
        log::warning(log::Layer::capture, device.uniqueID + ": " + GST_MESSAGE_SRC_NAME(message) + " warns: " +
                                              (err != nullptr && err->message != nullptr ? err->message : "") +
                                              (debug != nullptr ? std::string(" (") + debug + ")" : std::string()));
        g_clear_error(&err);
        g_free(debug);
        return;
      }
      case GST_MESSAGE_STATE_CHANGED: {
        if (!GST_IS_PIPELINE(GST_MESSAGE_SRC(message))) return;  // each element's would say the same
        GstState from = GST_STATE_VOID_PENDING, to = GST_STATE_VOID_PENDING;
        gst_message_parse_state_changed(message, &from, &to, nullptr);
        qCDebug(lcCapture).noquote() << QString::fromStdString(device.uniqueID) << "pipeline"
                                     << gst_element_state_get_name(from) << "->" << gst_element_state_get_name(to);
        return;
      }
      default: return;
    }
  }
};

struct GstSession::Pipeline {
  gst::ElementRef pipeline;
  GstElement* sourceBin = nullptr;  // the pipeline's: what the device description made
  gst::ElementRef source;           // v4l2src or appsrc; none for a test source
  gst::ElementRef preset;           // the caps filter after v4l2src
  // A simulated camera's stream, read by the appsrc's feed; interrupted to stop.
  std::shared_ptr<SimStream> stream;
};

namespace {

GstSession::Shared* published(gpointer data) {
  auto* shared = static_cast<GstSession::Shared*>(data);
  return shared->published.load(std::memory_order_acquire) ? shared : nullptr;
}

// The bus's sync handler, on whichever thread posted `message`: hands it to the owner's thread.
// The message is not left on the bus, which nobody pops (it would pile up for the pipeline's
// life), but taken over (GST_BUS_DROP gives the handler the bus's reference) and released once
// handled, or when the owner drops the task unrun: a message held on to keeps its source, and
// with it the whole pipeline, its bus (a socket pair) and the appsink's last frame. A message
// posted on the owner's thread itself (an element failing while start() changes state) is
// handled at once, so that its exact reason is the one reported.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
  const std::shared_ptr<GstSession::Shared>& shared = *static_cast<std::shared_ptr<GstSession::Shared>*>(data);
  HeldMessage held = hold(message);
  if (!shared->published.load(std::memory_order_acquire)) return GST_BUS_DROP;
  if (std::this_thread::get_id() == shared->owner || !shared->post) {
    shared->handle(held.get());
  } else {
    shared->post([shared, held] { shared->handle(held.get()); });
  }
  return GST_BUS_DROP;
}

GstFlowReturn onNewSample(GstAppSink* sink, gpointer data) {
  GstSession::Shared* found = published(data);
  GstSample* sample = gst_app_sink_pull_sample(sink);
  if (sample == nullptr) return GST_FLOW_OK;
  if (found == nullptr || found->stopping.load()) {
    gst_sample_unref(sample);
    return GST_FLOW_OK;
  }
  GstSession::Shared& shared = *found;
  std::string why;
  std::shared_ptr<const CodedFrame> coded = codedFromSample(sample, shared.decoder, &why);
  gst_sample_unref(sample);
  std::optional<Frame> frame;
  if (coded) {
    const PictureSize target = shared.pictureSize ? shared.pictureSize->get() : PictureSize{};
    frame = shared.decoder.decode(std::move(coded), target, &why);
  }
  if (!frame) {
    // A camera sends a damaged frame now and then; said once a session, the next one may be fine.
    if (!shared.badSampleLogged.exchange(true)) {
      log::warning(log::Layer::capture, shared.device.uniqueID + ": dropped " + why);
    }
    return GST_FLOW_OK;
  }
  if (shared.callbacks.frame) shared.callbacks.frame(std::move(*frame));
  return GST_FLOW_OK;
}

// A frame lent to a GstBuffer. The buffer is freed on whichever thread drops the last reference,
// through GStreamer's own atomic count, which ThreadSanitizer cannot see; the flag makes the hand
// over from the appsrc's feed to that thread explicit.
struct LentFrame {
  explicit LentFrame(SimStream::Packet p) : packet(std::move(p)) { lent.store(true, std::memory_order_release); }
  SimStream::Packet packet;
  std::atomic<bool> lent{false};
};

void deleteFrame(gpointer data) {
  auto* held = static_cast<LentFrame*>(data);
  [[maybe_unused]] const bool lent = held->lent.load(std::memory_order_acquire);
  delete held;
}

// A simulated camera's appsrc, fed from its own streaming thread: each time the appsrc has no
// frame left it asks for one (need-data), and the feed reads the next from the camera's socket,
// waiting for it, and pushes it without a copy. The stream is opened at the first request; after
// a failure, or once stop() interrupted the stream, nothing more is pushed and the appsrc waits
// until it is taken down. The appsrc owns the feed.
struct SimFeed {
  std::shared_ptr<GstSession::Shared> shared;
  std::shared_ptr<SimStream> stream;
  bool opened = false;
  bool finished = false;
  bool capsSet = false;
};

void feedSimFrame(GstAppSrc* source, guint, gpointer data) {
  using Result = SimStream::Result;
  SimFeed& feed = *static_cast<SimFeed*>(data);
  if (feed.finished) return;
  GstSession::Shared& shared = *feed.shared;
  SimStream& stream = *feed.stream;
  const std::string name = displayName(shared.device);
  auto fail = [&](Result result, const std::string& why) {
    feed.finished = true;
    switch (result) {
      case Result::interrupted: return;
      case Result::busy:
        // Worded on the owner's thread, which looks for the program that holds the camera.
        if (shared.post) {
          shared.post([held = feed.shared, why] { held->reportBusy(why); });
        } else {
          shared.reportBusy(why);
        }
        return;
      case Result::vanished: shared.report(Kind::vanished, name + " was disconnected.", why); return;
      case Result::refused:
        // A socket that is gone or stale: the camera left. One that is there and will not stream
        // is a failure of its own.
        if (::access(shared.device.path.c_str(), F_OK) != 0) {
          shared.report(Kind::vanished, name + " was disconnected.", why);
        } else {
          shared.report(Kind::failed, name + " does not stream video: " + why);
        }
        return;
      default: shared.report(Kind::failed, name + " sent video that cannot be read: " + why); return;
    }
  };
  std::string error;
  if (!std::exchange(feed.opened, true)) {
    const Result opened = shared.mode ? stream.open(shared.device.path, *shared.mode, &error)
                                      : stream.open(shared.device.path, 1920, 1080, &error);
    if (opened != Result::frame) return fail(opened, error);
  }
  SimStream::Packet packet;
  const Result result = stream.next(packet, &error);
  if (result != Result::frame) return fail(result, error);
  const int width = stream.width(), height = stream.height();
  const bool yuy2 = packet.format == SimStream::Format::yuy2;
  // The stream keeps its first frame's format (SimStream checks): MJPEG is decoded by the session
  // as a real camera's is.
  if (!std::exchange(feed.capsSet, true)) {
    const gst::CapsRef caps(
        packet.format == SimStream::Format::mjpeg
            ? gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
                                  GST_TYPE_FRACTION, std::max(stream.fps(), 1), 1, nullptr)
            : gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, yuy2 ? "YUY2" : "BGRA", "width", G_TYPE_INT,
                                  width, "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION,
                                  std::max(stream.fps(), 1), 1, nullptr));
    if (yuy2) gst_caps_set_simple(caps.get(), "colorimetry", G_TYPE_STRING, "bt601", nullptr);
    gst_app_src_set_caps(source, caps.get());
  }
  auto* held = new LentFrame(std::move(packet));
  GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<std::uint8_t*>(held->packet.data),
                                                  held->packet.size, 0, held->packet.size, held, deleteFrame);
  if (held->packet.bytesPerRow > 0) {
    gsize offset[GST_VIDEO_MAX_PLANES] = {0};
    gint stride[GST_VIDEO_MAX_PLANES] = {held->packet.bytesPerRow};
    gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, yuy2 ? GST_VIDEO_FORMAT_YUY2 : GST_VIDEO_FORMAT_BGRA,
                                   static_cast<guint>(width), static_cast<guint>(height), 1, offset, stride);
  }
  // Refused only while the pipeline stops (flushing) or after an error: either way, done.
  if (gst_app_src_push_buffer(source, buffer) != GST_FLOW_OK) feed.finished = true;
}

}  // namespace

GstSession::GstSession(CaptureDevice device, Options options, Callbacks callbacks)
    : device_(std::move(device)), options_(std::move(options)), shared_(std::make_shared<Shared>()) {
  shared_->device = device_;
  shared_->callbacks = std::move(callbacks);
  shared_->calls = options_.calls;
  shared_->pictureSize = options_.pictureSize;
  shared_->mode = options_.mode;
  shared_->post = options_.post;
  shared_->owner = std::this_thread::get_id();
}

GstSession::~GstSession() { stop(); }

bool GstSession::start() {
  assertOwner();
  std::string error;
  if (!ensureGstreamer(&error)) {
    shared_->report(Kind::failed, error);
    return false;
  }
  if (device_.kind == CaptureDevice::Kind::v4l2 && device_.pipeWireNode.empty()) {
    // GStreamer words a refusal loosely; the node's own answer says exactly why.
    if (const std::optional<Kind> kind = kindOfErrno(probeVideoNode(device_.path, *options_.calls))) {
      shared_->reportAs(*kind, "", "");
      return false;
    }
  }
  if (!build()) return false;

  // The source knows what it offers once it is READY (v4l2src has opened the node by then).
  GstElement* pipeline = pipeline_->pipeline.get();
  if (gst_element_set_state(pipeline, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
    shared_->report(Kind::failed, displayName(device_) + " could not be opened.");
    return false;
  }
  if (pipeline_->preset != nullptr) choosePreset();
  if (!addTail()) return false;
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    shared_->report(Kind::failed, displayName(device_) + " could not start streaming.");
    return false;
  }
  return true;
}

void GstSession::choosePreset() {
  if (!device_.pipeWireNode.empty()) return choosePipeWireMode();
  const gst::PadRef pad(gst_element_get_static_pad(pipeline_->source.get(), "src"));
  const gst::CapsRef offered(pad ? gst_pad_query_caps(pad.get(), nullptr) : nullptr);
  const gst::Text text(offered ? gst_caps_to_string(offered.get()) : nullptr);
  if (options_.mode) {
    // The mode was chosen from what the node enumerated; a node that no longer offers it (another
    // camera behind the same path) gets the preset instead.
    const std::string wanted = modeCaps(*options_.mode);
    const gst::CapsRef caps(wanted.empty() ? nullptr : gst_caps_from_string(wanted.c_str()));
    if (caps && offered && gst_caps_can_intersect(caps.get(), offered.get())) {
      g_object_set(pipeline_->preset.get(), "caps", caps.get(), nullptr);
      log::info(log::Layer::capture, device_.path + ": streaming " + describeMode(*options_.mode) + " as chosen");
      return;
    }
    log::warning(log::Layer::capture, device_.path + ": does not offer " + describeMode(*options_.mode) +
                                          "; streaming the automatic choice");
  }
  const std::string preset = highPresetCaps(text ? text.get() : "");
  if (!preset.empty()) {
    const gst::CapsRef caps(gst_caps_from_string(preset.c_str()));
    g_object_set(pipeline_->preset.get(), "caps", caps.get(), nullptr);
    log::info(log::Layer::capture, device_.path + ": streaming " + preset);
  } else {
    log::info(log::Layer::capture, device_.path + ": no size up to 1920x1080 among " + (text ? text.get() : "nothing"));
  }
}

void GstSession::choosePipeWireMode() {
  // pipewiresrc knows nothing of the node before it links, so the mode is chosen from what the
  // node offered when it was listed; the caps are fixed enough for PipeWire's session manager to
  // see a video consumer. The high preset: the largest picture up to 1920 × 1080, then the best
  // rate, MJPEG before YUY2.
  const std::vector<CaptureMode>& offered = device_.pipeWireModes;
  std::optional<CaptureMode> mode;
  if (options_.mode && std::find(offered.begin(), offered.end(), *options_.mode) != offered.end()) mode = options_.mode;
  // Chosen automatically, the preview joins another client in the mode it fixed.
  if (!options_.mode && device_.pipeWireStreaming && !modeCaps(*device_.pipeWireStreaming).empty()) {
    mode = device_.pipeWireStreaming;
  }
  auto rank = [](const CaptureMode& m) {
    return std::tuple(m.width * m.height, m.fps, m.fourcc == fourccOf("MJPG"));
  };
  const bool decided = mode.has_value();
  for (const CaptureMode& m : offered) {
    if (decided || m.width > 1920 || m.height > 1080 || modeCaps(m).empty()) continue;
    if (!mode || rank(m) > rank(*mode)) mode = m;
  }
  const std::string wanted = mode ? modeCaps(*mode) : std::string("image/jpeg");
  const gst::CapsRef caps(gst_caps_from_string(wanted.c_str()));
  g_object_set(pipeline_->preset.get(), "caps", caps.get(), nullptr);
  log::info(log::Layer::capture, device_.pipeWireNode + " (PipeWire): streaming " + wanted);
}

GstElement* GstSession::parse(const std::string& description) {
  GstParseContext* context = gst_parse_context_new();
  GError* err = nullptr;
  GstElement* bin = gst_parse_bin_from_description_full(description.c_str(), TRUE, context, GST_PARSE_FLAG_FATAL_ERRORS, &err);
  gchar** missing = gst_parse_context_get_missing_elements(context);
  gst_parse_context_free(context);
  if (bin == nullptr || err != nullptr) {
    const std::string detail = err != nullptr ? err->message : "no pipeline";
    if (missing != nullptr && missing[0] != nullptr) {
      shared_->report(Kind::missingElement, missingElementText(missing[0]), description);
    } else {
      shared_->report(Kind::failed, "The video pipeline could not be built: " + detail, description);
    }
    g_clear_error(&err);
    if (bin != nullptr) gst_object_unref(bin);
    bin = nullptr;
  }
  g_strfreev(missing);
  return bin;
}

bool GstSession::build() {
  std::string description;
  const bool viaPipeWire = !device_.pipeWireNode.empty();
  switch (viaPipeWire ? CaptureDevice::Kind::v4l2 : device_.kind) {
    case CaptureDevice::Kind::v4l2:
      description = std::string(viaPipeWire ? "pipewiresrc" : "v4l2src") + " name=velto_source ! capsfilter name=velto_preset";
      break;
    case CaptureDevice::Kind::sim: description = "appsrc name=velto_source"; break;
    case CaptureDevice::Kind::test:
      // Ends in an element: a description ending in caps ("... ! video/x-raw,width=64") filters a
      // link, and only a link to something after it.
      description = (options_.testSource.empty() ? "videotestsrc is-live=true" : options_.testSource) + " ! capsfilter";
      break;
  }
  GstElement* source = parse(description);
  if (source == nullptr) return false;

  pipeline_ = std::make_unique<Pipeline>();
  pipeline_->pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
  GstBin* pipeline = GST_BIN(pipeline_->pipeline.get());
  pipeline_->sourceBin = source;
  gst_bin_add(pipeline, source);
  shared_->published.store(true, std::memory_order_release);
  const gst::BusRef bus(gst_element_get_bus(pipeline_->pipeline.get()));
  // The bus keeps what the handler shares for as long as it may call it.
  gst_bus_set_sync_handler(bus.get(), onBusMessage, new std::shared_ptr<Shared>(shared_),
                           [](gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); });

  if (viaPipeWire) {
    pipeline_->source.reset(gst_bin_get_by_name(pipeline, "velto_source"));
    pipeline_->preset.reset(gst_bin_get_by_name(pipeline, "velto_preset"));
    g_object_set(pipeline_->source.get(), "target-object", device_.pipeWireNode.c_str(), "client-name", "Velto Camera",
                 nullptr);
  } else if (device_.kind == CaptureDevice::Kind::v4l2) {
    pipeline_->source.reset(gst_bin_get_by_name(pipeline, "velto_source"));
    pipeline_->preset.reset(gst_bin_get_by_name(pipeline, "velto_preset"));
    g_object_set(pipeline_->source.get(), "device", device_.path.c_str(), nullptr);
  } else if (device_.kind == CaptureDevice::Kind::sim) {
    pipeline_->source.reset(gst_bin_get_by_name(pipeline, "velto_source"));
    // Live like a camera; a frame the pipeline has not taken yet gives way to the next one.
    g_object_set(pipeline_->source.get(), "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", TRUE, "block",
                 FALSE, "max-buffers", static_cast<guint64>(2), "leaky-type", GST_APP_LEAKY_TYPE_DOWNSTREAM, nullptr);
    pipeline_->stream = std::make_shared<SimStream>();
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = feedSimFrame;
    gst_app_src_set_callbacks(GST_APP_SRC(pipeline_->source.get()), &callbacks,
                              new SimFeed{shared_, pipeline_->stream}, [](gpointer feed) { delete static_cast<SimFeed*>(feed); });
  }
  return true;
}

bool GstSession::addTail() {
  // What the source offers now (a V4L2 node: the preset chosen): taken as it is when the session
  // can decode it, else converted by GStreamer first. A simulated camera's appsrc offers
  // anything until its first frame, and sends only what the session decodes.
  const gst::PadRef out(gst_element_get_static_pad(pipeline_->sourceBin, "src"));
  if (!out) {
    shared_->report(Kind::failed, "The video pipeline could not be built: the source has no output");
    return false;
  }
  const gst::CapsRef offered(gst_pad_query_caps(out.get(), nullptr));
  const gst::CapsRef coded(gst_caps_from_string(kCodedCaps));
  const bool direct = offered && gst_caps_can_intersect(offered.get(), coded.get());

  GstBin* bin = GST_BIN(pipeline_->pipeline.get());
  // Elements added to the pipeline belong to it: borrowed from here on.
  auto make = [&](const char* factory) -> GstElement* {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr) {
      shared_->report(Kind::missingElement, missingElementText(factory), factory);
    } else {
      gst_bin_add(bin, element);
    }
    return element;
  };
  GstElement* sink = make("appsink");
  if (sink == nullptr) return false;
  g_object_set(sink, "drop", TRUE, "max-buffers", 1u, "sync", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = onNewSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, shared_.get(), nullptr);
  bool linked = false;
  if (direct) {
    g_object_set(sink, "caps", coded.get(), nullptr);
    linked = gst_element_link(pipeline_->sourceBin, sink);
  } else {
    GstElement* decoder = make("decodebin");
    GstElement* convert = decoder != nullptr ? make("videoconvert") : nullptr;
    if (convert == nullptr) return false;
    // decodebin's output appears once it knows the stream; it is linked to the converter then.
    g_signal_connect(decoder, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer convert) {
                       const gst::PadRef input(gst_element_get_static_pad(GST_ELEMENT(convert), "sink"));
                       if (!gst_pad_is_linked(input.get())) gst_pad_link(pad, input.get());
                     }),
                     convert);
    const gst::CapsRef bgra(gst_caps_from_string("video/x-raw,format=BGRA"));
    linked = gst_element_link(pipeline_->sourceBin, decoder) && gst_element_link_filtered(convert, sink, bgra.get());
  }
  if (!linked) {
    shared_->report(Kind::failed, "The video pipeline could not be built: its parts do not fit together");
    return false;
  }
  qCDebug(lcCapture).noquote() << QString::fromStdString(device_.uniqueID)
                               << (direct ? "decodes the camera's frames itself" : "lets GStreamer convert the frames");
  return true;
}

namespace {

// Stoppers that did not finish within the bound: owned here, joined as soon as they are seen to
// have finished (at the next stop) and at the latest when the process ends, never detached to
// run on into the process's exit.
class Stragglers {
 public:
  ~Stragglers() {
    std::lock_guard lock(mutex_);
    for (auto& [thread, finished] : threads_) thread.join();
  }
  void keep(std::thread thread, std::future<void> finished) {
    std::lock_guard lock(mutex_);
    std::erase_if(threads_, [](auto& entry) {
      if (entry.second.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
      entry.first.join();
      return true;
    });
    threads_.emplace_back(std::move(thread), std::move(finished));
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::thread, std::future<void>>> threads_;
};

Stragglers& stragglers() {
  static Stragglers kept;
  return kept;
}

}  // namespace

void GstSession::stop() {
  assertOwner();
  shared_->stopping.store(true);
  if (pipeline_ == nullptr) return;
  std::unique_ptr<Pipeline> p = std::move(pipeline_);
  if (p->stream) p->stream->interrupt();  // a frozen camera leaves the appsrc's feed in next()
  // Setting NULL joins the streaming threads. Done on a thread of its own, so that an element
  // stuck in a call that never returns costs a thread waiting for it, not a session queue that
  // hangs; the thread releases the pipeline once the element lets go.
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  // The pipeline's callbacks point at `shared_`: the stopper keeps it until the pipeline is gone.
  std::thread stopper([pipeline = std::move(p->pipeline), source = std::move(p->source), preset = std::move(p->preset),
                       done, shared = shared_]() mutable {
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    source.reset();
    preset.reset();
    pipeline.reset();
    done->set_value();
  });
  if (finished.wait_for(kStopBound) == std::future_status::ready) {
    stopper.join();
  } else {
    log::warning(log::Layer::capture, device_.uniqueID + ": the pipeline did not stop in time; left to finish alone");
    stragglers().keep(std::move(stopper), std::move(finished));
  }
}

void GstSession::assertOwner() const {
  Q_ASSERT_X(std::this_thread::get_id() == shared_->owner, "GstSession", "used off the thread that owns it");
}

}  // namespace velto::video
