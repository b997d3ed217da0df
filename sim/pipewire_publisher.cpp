// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/pipewire_publisher.h"

// libpipewire's method macros (pw_loop_*, pw_core_*, pw_registry_*, ...) are GNU statement
// expressions, which GCC and Clang both compile; Clang's -Wpedantic names each use.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <pipewire/pipewire.h>
#include <spa/monitor/device.h>
#include <spa/monitor/utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/usb/sim_directory.h"
#include "platform/usb/simcam_protocol.h"

namespace velto::sim {
namespace {

namespace simcam = usb::simcam;

void initPipeWire() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// "0x291a", as the V4L2 monitor writes USB IDs.
std::string hexID(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(value));
  return text;
}

// udev's ID_SERIAL spelling: characters outside its safe set become '_'.
std::string udevSafe(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::strchr("#+-.:=@_", c) != nullptr;
    if (!safe || c == '\0') c = '_';
  }
  return out;
}

// One mode the node offers; the rates of a size, the descriptors' default first.
struct Offer {
  StreamFormat::Kind kind;
  std::uint16_t width;
  std::uint16_t height;
  std::vector<int> fps;
};

std::vector<Offer> offers(const Profile& profile) {
  std::vector<Offer> out;
  for (const StreamFormat& format : profile.formats) {
    // The simulator has no H.264 encoder: what it cannot send is not offered.
    if (format.kind == StreamFormat::h264) continue;
    for (const StreamFrame& frame : format.frames) {
      if (!frame.fps.empty()) out.push_back({format.kind, frame.width, frame.height, frame.fps});
    }
  }
  return out;
}

const spa_pod* buildEnumFormat(spa_pod_builder& b, const Offer& offer) {
  spa_pod_frame object, choice;
  spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_prop(&b, SPA_FORMAT_mediaType, 0);
  spa_pod_builder_id(&b, SPA_MEDIA_TYPE_video);
  spa_pod_builder_prop(&b, SPA_FORMAT_mediaSubtype, 0);
  spa_pod_builder_id(&b, offer.kind == StreamFormat::mjpeg ? SPA_MEDIA_SUBTYPE_mjpg : SPA_MEDIA_SUBTYPE_raw);
  if (offer.kind == StreamFormat::yuy2) {
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_builder_id(&b, SPA_VIDEO_FORMAT_YUY2);
  }
  spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_size, 0);
  spa_pod_builder_rectangle(&b, offer.width, offer.height);
  spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_framerate, 0);
  // An enumeration's first value is its default: the descriptors' first rate.
  spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Enum, 0);
  spa_pod_builder_fraction(&b, static_cast<std::uint32_t>(offer.fps.front()), 1);
  for (const int fps : offer.fps) spa_pod_builder_fraction(&b, static_cast<std::uint32_t>(fps), 1);
  spa_pod_builder_pop(&b, &choice);
  return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
}

}  // namespace

std::string PipeWirePublisher::nodeName(const std::string& id) { return "v4l2_input.velto-simcam-" + id; }
std::string PipeWirePublisher::serialNumber(const std::string& id) { return "SIM-" + id; }

struct PipeWirePublisher::Impl {
  Profile profile;
  std::string id;
  std::string directory;
  std::string socketName;  // "<id>.sock"

  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  spa_hook coreListener{};
  bool lost = false;  // PipeWire went away; said so once

  int watchFd = -1;
  spa_source* watchSource = nullptr;

  // The Device: a minimal spa_device whose info carries the properties, exported to the server.
  struct Device {
    spa_device device{};
    spa_hook_list hooks{};
    std::vector<std::string> strings;  // keys and values, in pairs
    std::vector<spa_dict_item> items;
    spa_dict dict{};
  } device;
  pw_proxy* deviceProxy = nullptr;
  spa_hook deviceProxyListener{};

  pw_stream* stream = nullptr;
  spa_hook streamListener{};
  struct Mode {
    StreamFormat::Kind kind = StreamFormat::mjpeg;
    int width = 0;
    int height = 0;
    int fps = 0;
  };
  std::optional<Mode> mode;  // negotiated by the first consumer

  // The stream from the camera while the node streams: the device socket, the held video node.
  int cameraFd = -1;
  int nodeFd = -1;
  spa_source* cameraSource = nullptr;
  simcam::FrameReader reader;
  std::vector<std::uint8_t> assembling;
  std::uint32_t assemblingSequence = 0;
  std::vector<std::uint8_t> ready;  // the newest whole frame, header included, not yet handed on
  bool tooLargeSaid = false;

  ~Impl() {
    if (loop != nullptr) pw_thread_loop_stop(loop);
    unpublish();
    if (watchSource != nullptr) pw_loop_destroy_source(pw_thread_loop_get_loop(loop), watchSource);
    if (watchFd >= 0) ::close(watchFd);
    if (core != nullptr) pw_core_disconnect(core);
    if (context != nullptr) pw_context_destroy(context);
    if (loop != nullptr) pw_thread_loop_destroy(loop);
  }

  std::string productName() const { return profile.productName.value_or("Simulated camera"); }
  std::string socketPath() const { return usb::simSocketPath(directory, id); }
  std::string nodePath() const { return directory + "/" + id + ".video"; }

  // --- Publishing ---------------------------------------------------------------------------

  void publish() {
    if (deviceProxy != nullptr || lost) return;
    const std::string product = productName();
    const std::string name = "velto-simcam-" + id;
    device.strings = {
        PW_KEY_MEDIA_CLASS, "Video/Device",
        PW_KEY_DEVICE_API, "v4l2",
        PW_KEY_DEVICE_NAME, "v4l2_device." + name,
        PW_KEY_DEVICE_DESCRIPTION, product,
        PW_KEY_DEVICE_PRODUCT_NAME, product,
        PW_KEY_DEVICE_VENDOR_ID, hexID(profile.vendorID),
        PW_KEY_DEVICE_PRODUCT_ID, hexID(profile.productID),
        PW_KEY_DEVICE_SERIAL, udevSafe(product) + "_" + serialNumber(id),
        PW_KEY_DEVICE_BUS, "usb",
        PW_KEY_DEVICE_SUBSYSTEM, "video4linux",
        PW_KEY_DEVICE_BUS_PATH, name,
        PW_KEY_DEVICE_SYSFS_PATH, socketPath(),
        PW_KEY_OBJECT_PATH, "v4l2:" + nodePath(),
    };
    device.items.clear();
    for (std::size_t i = 0; i + 1 < device.strings.size(); i += 2) {
      device.items.push_back({device.strings[i].c_str(), device.strings[i + 1].c_str()});
    }
    device.dict = {0, static_cast<std::uint32_t>(device.items.size()), device.items.data()};
    spa_hook_list_init(&device.hooks);
    static const spa_device_methods methods = {
        SPA_VERSION_DEVICE_METHODS,
        &Impl::deviceAddListener,
        &Impl::deviceSync,
        [](void*, int, std::uint32_t, std::uint32_t, std::uint32_t, const spa_pod*) { return -ENOTSUP; },
        [](void*, std::uint32_t, std::uint32_t, const spa_pod*) { return -ENOTSUP; },
    };
    device.device.iface.type = SPA_TYPE_INTERFACE_Device;
    device.device.iface.version = SPA_VERSION_DEVICE;
    device.device.iface.cb.funcs = &methods;
    device.device.iface.cb.data = &device;
    deviceProxy = static_cast<pw_proxy*>(pw_core_export(core, SPA_TYPE_INTERFACE_Device, &device.dict, &device.device, 0));
    if (deviceProxy == nullptr) {
      std::fprintf(stderr, "velto-simcam: cannot publish the camera on PipeWire: %s\n", std::strerror(errno));
      return;
    }
    static const pw_proxy_events proxyEvents = [] {
      pw_proxy_events e{};
      e.version = PW_VERSION_PROXY_EVENTS;
      e.bound = [](void* data, std::uint32_t globalID) { static_cast<Impl*>(data)->createNode(globalID); };
      return e;
    }();
    pw_proxy_add_listener(deviceProxy, &deviceProxyListener, &proxyEvents, this);
  }

  static int deviceAddListener(void* object, spa_hook* listener, const spa_device_events* events, void* data) {
    auto* d = static_cast<Device*>(object);
    // A new listener is told the device's info at once, and only it.
    spa_hook_list saved;
    spa_hook_list_isolate(&d->hooks, &saved, listener, events, data);
    spa_device_info info{};
    info.version = SPA_VERSION_DEVICE_INFO;
    info.change_mask = SPA_DEVICE_CHANGE_MASK_PROPS;
    info.props = &d->dict;
    spa_device_emit_info(&d->hooks, &info);
    spa_hook_list_join(&d->hooks, &saved);
    return 0;
  }

  static int deviceSync(void* object, int seq) {
    auto* d = static_cast<Device*>(object);
    spa_device_emit_result(&d->hooks, seq, 0, 0, nullptr);
    return 0;
  }

  void createNode(std::uint32_t deviceID) {
    if (stream != nullptr) return;
    const std::string node = nodePath();
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
        PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, nodeName(id).c_str(),
        PW_KEY_NODE_DESCRIPTION, productName().c_str(), PW_KEY_OBJECT_PATH, ("v4l2:" + node).c_str(),
        "api.v4l2.path", node.c_str(), "api.v4l2.cap.card", productName().c_str(),
        "api.v4l2.cap.driver", "velto-simcam", PW_KEY_DEVICE_API, "v4l2", nullptr);
    pw_properties_setf(props, PW_KEY_DEVICE_ID, "%u", deviceID);
    stream = pw_stream_new(core, nodeName(id).c_str(), props);
    if (stream == nullptr) {
      std::fprintf(stderr, "velto-simcam: cannot make the PipeWire node: %s\n", std::strerror(errno));
      return;
    }
    static const pw_stream_events streamEvents = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = [](void* data, pw_stream_state old, pw_stream_state state, const char*) {
        static_cast<Impl*>(data)->onState(old, state);
      };
      e.param_changed = [](void* data, std::uint32_t id, const spa_pod* param) {
        static_cast<Impl*>(data)->onParam(id, param);
      };
      e.process = [](void* data) { static_cast<Impl*>(data)->onProcess(); };
      return e;
    }();
    pw_stream_add_listener(stream, &streamListener, &streamEvents, this);
    std::vector<std::uint8_t> storage(64 * 1024);
    spa_pod_builder b{};
    spa_pod_builder_init(&b, storage.data(), static_cast<std::uint32_t>(storage.size()));
    std::vector<const spa_pod*> params;
    for (const Offer& offer : offers(profile)) params.push_back(buildEnumFormat(b, offer));
    const int res = pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
                                      params.data(), static_cast<std::uint32_t>(params.size()));
    if (res < 0) std::fprintf(stderr, "velto-simcam: cannot connect the PipeWire node: %s\n", spa_strerror(res));
  }

  void unpublish() {
    closeCamera();
    mode.reset();
    if (stream != nullptr) {
      spa_hook_remove(&streamListener);
      pw_stream_destroy(stream);
      stream = nullptr;
    }
    if (deviceProxy != nullptr) {
      spa_hook_remove(&deviceProxyListener);
      pw_proxy_destroy(deviceProxy);
      deviceProxy = nullptr;
    }
  }

  // --- The node -----------------------------------------------------------------------------

  void onParam(std::uint32_t paramID, const spa_pod* param) {
    if (paramID != SPA_PARAM_Format) return;
    mode.reset();
    if (param == nullptr) return;
    std::uint32_t mediaType = 0, subtype = 0;
    if (spa_format_parse(param, &mediaType, &subtype) < 0 || mediaType != SPA_MEDIA_TYPE_video) return;
    spa_rectangle size{};
    spa_fraction rate{};
    Mode m;
    if (subtype == SPA_MEDIA_SUBTYPE_mjpg) {
      spa_video_info_mjpg info{};
      if (spa_format_video_mjpg_parse(param, &info) < 0) return;
      m.kind = StreamFormat::mjpeg;
      size = info.size;
      rate = info.framerate;
    } else if (subtype == SPA_MEDIA_SUBTYPE_raw) {
      spa_video_info_raw info{};
      if (spa_format_video_raw_parse(param, &info) < 0 || info.format != SPA_VIDEO_FORMAT_YUY2) return;
      m.kind = StreamFormat::yuy2;
      size = info.size;
      rate = info.framerate;
    } else {
      return;
    }
    m.width = static_cast<int>(size.width);
    m.height = static_cast<int>(size.height);
    m.fps = rate.denom != 0 ? static_cast<int>((rate.num + rate.denom / 2) / rate.denom) : 0;
    // A rate left open is the size's default, as the descriptors give it.
    for (const Offer& offer : offers(profile)) {
      if (offer.kind == m.kind && offer.width == m.width && offer.height == m.height && m.fps == 0) m.fps = offer.fps.front();
    }
    if (m.width <= 0 || m.height <= 0 || m.fps <= 0) return;
    mode = m;

    // Room for the largest frame of the mode: YUY2 is exactly two bytes a pixel, and the
    // simulator's JPEGs (quality 90) stay far below that.
    const int stride = m.kind == StreamFormat::yuy2 ? 2 * m.width : 0;
    const int frameSize = 2 * m.width * m.height;
    std::uint8_t storage[1024];
    spa_pod_builder b{};
    spa_pod_builder_init(&b, storage, sizeof storage);
    spa_pod_frame object, choice;
    spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_buffers, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_int(&b, 4);
    spa_pod_builder_int(&b, 2);
    spa_pod_builder_int(&b, 8);
    spa_pod_builder_pop(&b, &choice);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_blocks, 0);
    spa_pod_builder_int(&b, 1);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_size, 0);
    spa_pod_builder_int(&b, frameSize);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_stride, 0);
    spa_pod_builder_int(&b, stride);
    const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object))};
    pw_stream_update_params(stream, params, 1);
  }

  void onState(pw_stream_state old, pw_stream_state state) {
    if (state == PW_STREAM_STATE_STREAMING) {
      openCamera();
    } else if (old == PW_STREAM_STATE_STREAMING) {
      closeCamera();
    }
  }

  // The graph asks for a buffer: the newest frame goes out, once.
  void onProcess() {
    if (ready.size() <= simcam::kCodedFrameHeaderSize || stream == nullptr) return;
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (buffer == nullptr) return;  // every buffer is with a consumer: this frame is missed
    spa_data& d = buffer->buffer->datas[0];
    const std::size_t size = ready.size() - simcam::kCodedFrameHeaderSize;
    if (d.data != nullptr && size <= d.maxsize) {
      std::memcpy(d.data, ready.data() + simcam::kCodedFrameHeaderSize, size);
      d.chunk->offset = 0;
      d.chunk->size = static_cast<std::uint32_t>(size);
      d.chunk->stride = mode && mode->kind == StreamFormat::yuy2 ? 2 * mode->width : 0;
      d.chunk->flags = 0;
    } else {
      if (!tooLargeSaid) std::fprintf(stderr, "velto-simcam: a %zu-byte frame does not fit PipeWire's buffer\n", size);
      tooLargeSaid = true;
      d.chunk->size = 0;
    }
    pw_stream_queue_buffer(stream, buffer);
    ready.clear();
  }

  // --- The camera's stream --------------------------------------------------------------------

  void openCamera() {
    if (cameraFd >= 0 || !mode) return;
    // As a program streaming from a node holds it open.
    nodeFd = ::open(nodePath().c_str(), O_RDONLY | O_CLOEXEC);
    cameraFd = usb::connectUnixSocket(socketPath(), 1000);
    if (cameraFd < 0) {
      std::fprintf(stderr, "velto-simcam: the PipeWire node cannot reach the camera (%s: %s)\n", socketPath().c_str(),
                   std::strerror(errno));
      closeCamera();
      return;
    }
    reader = {};
    assembling.clear();
    ready.clear();
    send(simcam::Hello{simcam::kModeStreamProtocolVersion, simcam::kModeStreamProtocolVersion});
    cameraSource = pw_loop_add_io(pw_thread_loop_get_loop(loop), cameraFd, SPA_IO_IN | SPA_IO_HUP | SPA_IO_ERR, false,
                                  [](void* data, int, std::uint32_t) { static_cast<Impl*>(data)->readCamera(); }, this);
  }

  void closeCamera() {
    if (cameraSource != nullptr) pw_loop_destroy_source(pw_thread_loop_get_loop(loop), cameraSource);
    cameraSource = nullptr;
    if (cameraFd >= 0) ::close(cameraFd);
    if (nodeFd >= 0) ::close(nodeFd);
    cameraFd = nodeFd = -1;
    ready.clear();
  }

  void send(const simcam::Message& message) {
    const std::vector<std::uint8_t> bytes = simcam::encode(message);
    // A few bytes on a fresh connection: the socket buffer takes them whole.
    if (::send(cameraFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
      std::fprintf(stderr, "velto-simcam: the PipeWire node cannot ask the camera for frames: %s\n", std::strerror(errno));
    }
  }

  void readCamera() {
    std::vector<std::uint8_t> buffer(256 * 1024);
    bool ended = false;
    for (;;) {
      const ssize_t n = ::recv(cameraFd, buffer.data(), buffer.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      if (n <= 0) {
        // The camera left the bus, refused, or the simulator is stopping; what it said last is
        // still read. The directory watch takes the objects away when the camera has gone.
        ended = true;
        break;
      }
      reader.append(std::span(buffer.data(), static_cast<std::size_t>(n)));
    }
    for (;;) {
      simcam::Message message;
      const auto result = reader.next(message);
      if (result == simcam::FrameReader::Result::needMore) break;
      if (result == simcam::FrameReader::Result::malformed || !onCameraMessage(message)) {
        closeCamera();
        return;
      }
    }
    if (ended) closeCamera();
  }

  // False when the stream ends.
  bool onCameraMessage(simcam::Message& message) {
    if (std::holds_alternative<simcam::Welcome>(message)) {
      const Mode& m = *mode;
      const char* code = formatCode(m.kind);
      std::uint32_t fourcc = 0;
      for (int i = 0; i < 4; ++i) fourcc |= static_cast<std::uint32_t>(static_cast<unsigned char>(code[i])) << (8 * i);
      send(simcam::StreamModeRequest{fourcc, static_cast<std::uint16_t>(m.width), static_cast<std::uint16_t>(m.height),
                                     static_cast<std::uint16_t>(m.fps)});
      return true;
    }
    if (const auto* refused = std::get_if<simcam::StreamRefused>(&message)) {
      std::fprintf(stderr, "velto-simcam: the camera refuses the PipeWire node's stream: %s\n", refused->text.c_str());
      return false;
    }
    if (const auto* error = std::get_if<simcam::Error>(&message)) {
      std::fprintf(stderr, "velto-simcam: the camera ends the PipeWire node's stream: %s\n", error->text.c_str());
      return false;
    }
    auto* chunk = std::get_if<simcam::FrameChunk>(&message);
    if (chunk == nullptr) return true;  // deviceInfo, streamStart
    if (chunk->offset == 0) {
      assembling.clear();
      assemblingSequence = chunk->sequence;
    } else if (chunk->sequence != assemblingSequence || chunk->offset != assembling.size()) {
      return false;  // the simulator promises whole frames in order
    }
    assembling.insert(assembling.end(), chunk->data.begin(), chunk->data.end());
    if (assembling.size() < simcam::kCodedFrameHeaderSize) return true;
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<std::uint32_t>(assembling[4 + i]) << (8 * i);
    if (assembling.size() == simcam::kCodedFrameHeaderSize + length) {
      ready.swap(assembling);
      assembling.clear();
      if (pw_stream_is_driving(stream)) pw_stream_trigger_process(stream);
    }
    return true;
  }

  // --- The directory ---------------------------------------------------------------------------

  void readWatch() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(watchFd, buffer, sizeof buffer);
      if (n <= 0) return;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->len == 0 || socketName != event->name) continue;
        if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) unpublish();
        if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) publish();
      }
    }
  }

  void onCoreError(std::uint32_t objectID, int res, const char* message) {
    if (objectID != PW_ID_CORE || res != -EPIPE || lost) return;
    lost = true;
    std::fprintf(stderr, "velto-simcam: lost PipeWire (%s); the camera is no longer published there\n",
                 message != nullptr ? message : spa_strerror(res));
    unpublish();
  }
};

PipeWirePublisher::PipeWirePublisher(Profile profile, std::string id, std::string directory)
    : impl_(std::make_unique<Impl>()) {
  impl_->profile = std::move(profile);
  impl_->id = std::move(id);
  impl_->directory = std::move(directory);
  impl_->socketName = impl_->id + ".sock";
}

PipeWirePublisher::~PipeWirePublisher() = default;

bool PipeWirePublisher::connect(std::string* error) {
  initPipeWire();
  Impl& d = *impl_;
  d.loop = pw_thread_loop_new("velto-simcam-pw", nullptr);
  if (d.loop != nullptr) d.context = pw_context_new(pw_thread_loop_get_loop(d.loop), nullptr, 0);
  if (d.context == nullptr) {
    if (error) *error = std::string("PipeWire cannot be used (") + std::strerror(errno) + ")";
    return false;
  }
  d.core = pw_context_connect(d.context, nullptr, 0);
  if (d.core == nullptr) {
    // Where libpipewire looked, so that a wrong environment shows.
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (dir == nullptr) dir = std::getenv("XDG_RUNTIME_DIR");
    const std::string where = remote != nullptr && remote[0] == '/' ? remote
                              : std::string(dir != nullptr ? dir : "(no runtime directory)") + "/" +
                                    (remote != nullptr ? remote : "pipewire-0");
    if (error) *error = "PipeWire is not running (" + where + ": " + std::strerror(errno) + ")";
    return false;
  }
  static const pw_core_events coreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = [](void* data, std::uint32_t id, int, int res, const char* message) {
      static_cast<Impl*>(data)->onCoreError(id, res, message);
    };
    return e;
  }();
  pw_core_add_listener(d.core, &d.coreListener, &coreEvents, &d);
  return true;
}

bool PipeWirePublisher::start(std::string* error) {
  Impl& d = *impl_;
  d.watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (d.watchFd < 0 ||
      ::inotify_add_watch(d.watchFd, d.directory.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM) < 0) {
    if (error) *error = "cannot watch " + d.directory + ": " + std::strerror(errno);
    return false;
  }
  d.watchSource = pw_loop_add_io(pw_thread_loop_get_loop(d.loop), d.watchFd, SPA_IO_IN, false,
                                 [](void* data, int, std::uint32_t) { static_cast<Impl*>(data)->readWatch(); }, &d);
  // The loop is not running yet: nothing else touches the objects.
  if (::access(d.socketPath().c_str(), F_OK) == 0) d.publish();
  if (pw_thread_loop_start(d.loop) < 0) {
    if (error) *error = "cannot start PipeWire's thread";
    return false;
  }
  return true;
}

}  // namespace velto::sim
