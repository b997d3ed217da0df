// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/pipewire_cameras.h"

// libpipewire's method macros (pw_loop_*, pw_core_*, pw_registry_*, ...) are GNU statement
// expressions, which GCC and Clang both compile; Clang's -Wpedantic names each use.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif

#include <pipewire/pipewire.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format.h>
#include <spa/pod/iter.h>
#include <spa/utils/result.h>

#include <QString>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "support/log.h"
#include "support/log_categories.h"

namespace velto::video {
namespace {

const std::string* find(const PropertyMap& props, const char* key) {
  const auto it = props.find(key);
  return it == props.end() ? nullptr : &it->second;
}

// A whole decimal number, or a hexadecimal one with "0x" when `hex`; none for anything else.
template <typename T>
std::optional<T> parseNumber(const std::string* text, bool hex = false) {
  if (text == nullptr) return std::nullopt;
  std::string_view s = *text;
  if (hex) {
    if (!s.starts_with("0x") && !s.starts_with("0X")) return std::nullopt;
    s.remove_prefix(2);
  }
  T value{};
  const auto [end, err] = std::from_chars(s.data(), s.data() + s.size(), value, hex ? 16 : 10);
  if (err != std::errc{} || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return value;
}

PropertyMap propertiesOf(const spa_dict* dict) {
  PropertyMap props;
  if (dict == nullptr) return props;
  const spa_dict_item* item;
  spa_dict_for_each(item, dict) {
    if (item->key != nullptr && item->value != nullptr) props[item->key] = item->value;
  }
  return props;
}

// The values of a property: an enumeration's alternatives, otherwise its default (a range's
// default lies within it; a fixed value is its own default).
template <typename T>
std::vector<T> valuesOf(const spa_pod* pod, std::uint32_t type) {
  std::uint32_t count = 0, choice = 0;
  const spa_pod* values = spa_pod_get_values(pod, &count, &choice);
  if (values == nullptr || SPA_POD_TYPE(values) != type || count == 0 || SPA_POD_BODY_SIZE(values) < sizeof(T)) {
    return {};
  }
  const auto* items = static_cast<const T*>(SPA_POD_BODY_CONST(values));
  // An enumeration lists its default first, then the alternatives.
  if (choice == SPA_CHOICE_Enum && count > 1) return std::vector<T>(items + 1, items + count);
  return {items[0]};
}

std::optional<std::uint32_t> fourccOfFormat(std::uint32_t subtype, const std::vector<std::uint32_t>& rawFormats,
                                            std::vector<std::uint32_t>& out) {
  switch (subtype) {
    case SPA_MEDIA_SUBTYPE_mjpg: out = {fourccOf("MJPG")}; return out.front();
    case SPA_MEDIA_SUBTYPE_h264: out = {fourccOf("H264")}; return out.front();
    case SPA_MEDIA_SUBTYPE_raw:
      out.clear();
      for (const std::uint32_t f : rawFormats) {
        if (f == SPA_VIDEO_FORMAT_YUY2) out.push_back(fourccOf("YUY2"));
        if (f == SPA_VIDEO_FORMAT_NV12) out.push_back(fourccOf("NV12"));
      }
      if (out.empty()) return std::nullopt;
      return out.front();
    default: return std::nullopt;
  }
}

}  // namespace

std::vector<CaptureMode> modesOfFormatParam(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < sizeof(spa_pod)) return {};
  const auto* pod = reinterpret_cast<const spa_pod*>(bytes.data());
  if (SPA_POD_SIZE(pod) > bytes.size() || !spa_pod_is_object_type(pod, SPA_TYPE_OBJECT_Format)) return {};
  std::uint32_t mediaType = 0, subtype = 0;
  if (spa_format_parse(pod, &mediaType, &subtype) < 0 || mediaType != SPA_MEDIA_TYPE_video) return {};
  std::vector<std::uint32_t> rawFormats;
  std::vector<spa_rectangle> sizes;
  std::vector<spa_fraction> rates;
  const auto* object = reinterpret_cast<const spa_pod_object*>(pod);
  const spa_pod_prop* prop;
  SPA_POD_OBJECT_FOREACH(object, prop) {
    if (prop->key == SPA_FORMAT_VIDEO_format) rawFormats = valuesOf<std::uint32_t>(&prop->value, SPA_TYPE_Id);
    if (prop->key == SPA_FORMAT_VIDEO_size) sizes = valuesOf<spa_rectangle>(&prop->value, SPA_TYPE_Rectangle);
    if (prop->key == SPA_FORMAT_VIDEO_framerate) rates = valuesOf<spa_fraction>(&prop->value, SPA_TYPE_Fraction);
  }
  std::vector<std::uint32_t> fourccs;
  if (!fourccOfFormat(subtype, rawFormats, fourccs)) return {};
  std::vector<CaptureMode> modes;
  for (const std::uint32_t fourcc : fourccs) {
    for (const spa_rectangle& size : sizes) {
      for (const spa_fraction& rate : rates) {
        // A variable rate (0/1) or a malformed one is no mode the session can ask for.
        if (rate.denom == 0 || rate.num == 0 || size.width == 0 || size.height == 0) continue;
        const int fps = static_cast<int>(std::lround(double(rate.num) / rate.denom));
        if (fps <= 0 || size.width > 65535 || size.height > 65535) continue;
        modes.push_back({fourcc, static_cast<int>(size.width), static_cast<int>(size.height), fps});
      }
    }
  }
  return modes;
}

std::optional<PipeWireCamera> cameraFromProperties(std::uint32_t nodeID, const PropertyMap& node,
                                                   const PropertyMap* device, std::vector<CaptureMode> modes) {
  const std::string* mediaClass = find(node, PW_KEY_MEDIA_CLASS);
  const std::string* role = find(node, PW_KEY_MEDIA_ROLE);
  const std::string* path = find(node, "api.v4l2.path");
  if (mediaClass == nullptr || *mediaClass != "Video/Source") return std::nullopt;
  if ((role == nullptr || *role != "Camera") && (path == nullptr || path->empty())) return std::nullopt;
  PipeWireCamera camera;
  camera.nodeID = nodeID;
  if (const std::string* name = find(node, PW_KEY_NODE_NAME)) camera.nodeName = *name;
  camera.objectSerial = parseNumber<std::uint64_t>(find(node, PW_KEY_OBJECT_SERIAL)).value_or(0);
  if (path != nullptr) camera.v4l2Path = *path;
  // The Device's IDs only: the node's own are cut short by some PipeWire versions.
  if (device != nullptr) {
    camera.vendorID = parseNumber<std::uint16_t>(find(*device, PW_KEY_DEVICE_VENDOR_ID), true).value_or(0);
    camera.productID = parseNumber<std::uint16_t>(find(*device, PW_KEY_DEVICE_PRODUCT_ID), true).value_or(0);
    if (const std::string* serial = find(*device, PW_KEY_DEVICE_SERIAL)) camera.serial = *serial;
  }
  camera.modes = orderedModes(std::move(modes));
  return camera;
}

std::optional<PipeWireCamera> pipeWireCameraFor(const std::vector<PipeWireCamera>& cameras,
                                               const CaptureDevice& device) {
  const std::string node = nodePath(device);
  if (!node.empty()) {
    for (const PipeWireCamera& camera : cameras) {
      if (camera.v4l2Path == node) return camera;
    }
  }
  auto serialAgrees = [&](const std::string& published) {
    if (published.empty() || device.serial.empty()) return true;
    // udev's ID_SERIAL is "<vendor>_<model>_<serial>".
    return published == device.serial ||
           (published.size() > device.serial.size() && published.ends_with(device.serial) &&
            published[published.size() - device.serial.size() - 1] == '_');
  };
  for (const PipeWireCamera& camera : cameras) {
    if (camera.vendorID != 0 && camera.vendorID == device.vendorID && camera.productID == device.productID &&
        serialAgrees(camera.serial)) {
      return camera;
    }
  }
  return std::nullopt;
}

namespace {

// One listing: a private loop, context and connection, and what the registry told of.
class Listing {
 public:
  explicit Listing(std::chrono::milliseconds timeout) : timeout_(timeout) {}
  ~Listing() {
    objects_.clear();  // their proxies before the connection
    if (registry_ != nullptr) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
    if (core_ != nullptr) pw_core_disconnect(core_);
    if (context_ != nullptr) pw_context_destroy(context_);
    if (loop_ != nullptr) pw_main_loop_destroy(loop_);
  }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  std::vector<PipeWireCamera> run();

 private:
  struct Object {
    Listing* owner = nullptr;
    std::uint32_t id = 0;
    bool node = false;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
    bool informed = false;  // its info event has come
    bool removed = false;
    PropertyMap props;
    std::vector<CaptureMode> modes;
    bool running = false;                 // a client streams from the node
    std::optional<CaptureMode> streaming;  // its Format param then
    ~Object() {
      if (proxy != nullptr) {
        spa_hook_remove(&listener);
        pw_proxy_destroy(proxy);
      }
    }
  };

  void onGlobal(std::uint32_t id, const char* type, const spa_dict* props);
  void onDone(std::uint32_t id, int seq);
  void onError(std::uint32_t id, int res, const char* message);

  std::chrono::milliseconds timeout_;
  pw_main_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_registry* registry_ = nullptr;
  spa_hook coreListener_{};
  spa_hook registryListener_{};
  int pendingSync_ = -1;
  int boundSinceSync_ = 0;
  bool complete_ = false;
  std::string failure_;
  std::map<std::uint32_t, std::unique_ptr<Object>> objects_;
  // Each client's process, as the server saw it connect (pipewire.sec.pid): the registry tells it.
  std::map<std::uint32_t, std::int64_t> clientProcesses_;
};

void Listing::onGlobal(std::uint32_t id, const char* type, const spa_dict* props) {
  const bool node = std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0;
  const bool device = std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0;
  if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
    const char* pid = props != nullptr ? spa_dict_lookup(props, PW_KEY_SEC_PID) : nullptr;
    const std::string text = pid != nullptr ? pid : "";
    if (const auto process = parseNumber<std::int64_t>(&text); process && *process > 0) clientProcesses_[id] = *process;
    return;
  }
  if (!node && !device) return;
  // The registry gives only some properties: the full ones come with the bound object's info.
  if (node) {
    const char* mediaClass = props != nullptr ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
    if (mediaClass == nullptr || std::strcmp(mediaClass, "Video/Source") != 0) return;
  }
  auto object = std::make_unique<Object>();
  object->owner = this;
  object->id = id;
  object->node = node;
  object->proxy = static_cast<pw_proxy*>(
      pw_registry_bind(registry_, id, type, node ? PW_VERSION_NODE : PW_VERSION_DEVICE, 0));
  if (object->proxy == nullptr) return;
  if (node) {
    static const pw_node_events events = [] {
      pw_node_events e{};
      e.version = PW_VERSION_NODE_EVENTS;
      e.info = [](void* data, const pw_node_info* info) {
        auto* o = static_cast<Object*>(data);
        o->informed = true;
        if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) != 0) o->props = propertiesOf(info->props);
        if ((info->change_mask & PW_NODE_CHANGE_MASK_STATE) != 0) o->running = info->state == PW_NODE_STATE_RUNNING;
      };
      e.param = [](void* data, int, std::uint32_t paramID, std::uint32_t, std::uint32_t, const spa_pod* param) {
        auto* o = static_cast<Object*>(data);
        if ((paramID != SPA_PARAM_EnumFormat && paramID != SPA_PARAM_Format) || param == nullptr) return;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(param);
        const std::vector<CaptureMode> modes = modesOfFormatParam({bytes, SPA_POD_SIZE(param)});
        if (paramID == SPA_PARAM_Format) {
          if (!modes.empty()) o->streaming = modes.front();
          return;
        }
        for (const CaptureMode& m : modes) o->modes.push_back(m);
      };
      return e;
    }();
    auto* proxy = reinterpret_cast<pw_node*>(object->proxy);
    pw_node_add_listener(proxy, &object->listener, &events, object.get());
    pw_node_enum_params(proxy, 0, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
    // The format fixed by a client that streams now, if any: a second client gets only that.
    pw_node_enum_params(proxy, 0, SPA_PARAM_Format, 0, 1, nullptr);
  } else {
    static const pw_device_events events = [] {
      pw_device_events e{};
      e.version = PW_VERSION_DEVICE_EVENTS;
      e.info = [](void* data, const pw_device_info* info) {
        auto* o = static_cast<Object*>(data);
        o->informed = true;
        if ((info->change_mask & PW_DEVICE_CHANGE_MASK_PROPS) != 0) o->props = propertiesOf(info->props);
      };
      return e;
    }();
    pw_device_add_listener(reinterpret_cast<pw_device*>(object->proxy), &object->listener, &events, object.get());
  }
  objects_[id] = std::move(object);
  ++boundSinceSync_;
}

void Listing::onDone(std::uint32_t id, int seq) {
  if (id != PW_ID_CORE || seq != pendingSync_) return;
  // Objects bound in the last round have sent their info and params before this answer; once a
  // round binds nothing new, everything is in.
  if (boundSinceSync_ > 0) {
    boundSinceSync_ = 0;
    pendingSync_ = pw_core_sync(core_, PW_ID_CORE, pendingSync_);
    return;
  }
  complete_ = true;
  pw_main_loop_quit(loop_);
}

void Listing::onError(std::uint32_t id, int res, const char* message) {
  // An object that vanished before it was bound answers with an error: it is left out.
  if (id != PW_ID_CORE) return;
  failure_ = std::string("the connection to PipeWire failed: ") + (message != nullptr ? message : spa_strerror(res));
  pw_main_loop_quit(loop_);
}

std::vector<PipeWireCamera> Listing::run() {
  loop_ = pw_main_loop_new(nullptr);
  if (loop_ != nullptr) context_ = pw_context_new(pw_main_loop_get_loop(loop_), nullptr, 0);
  if (context_ == nullptr) {
    log::warning(log::Layer::capture, std::string("PipeWire cannot be used: ") + std::strerror(errno));
    return {};
  }
  core_ = pw_context_connect(context_, nullptr, 0);
  if (core_ == nullptr) {
    qCDebug(lcCapture).noquote() << "PipeWire is not running:" << QString::fromLocal8Bit(std::strerror(errno));
    return {};
  }
  static const pw_core_events coreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.done = [](void* data, std::uint32_t id, int seq) { static_cast<Listing*>(data)->onDone(id, seq); };
    e.error = [](void* data, std::uint32_t id, int, int res, const char* message) {
      static_cast<Listing*>(data)->onError(id, res, message);
    };
    return e;
  }();
  pw_core_add_listener(core_, &coreListener_, &coreEvents, this);
  static const pw_registry_events registryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global = [](void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t, const spa_dict* props) {
      static_cast<Listing*>(data)->onGlobal(id, type, props);
    };
    e.global_remove = [](void* data, std::uint32_t id) {
      auto& objects = static_cast<Listing*>(data)->objects_;
      if (const auto it = objects.find(id); it != objects.end()) it->second->removed = true;
    };
    return e;
  }();
  registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
  pw_registry_add_listener(registry_, &registryListener_, &registryEvents, this);
  pendingSync_ = pw_core_sync(core_, PW_ID_CORE, 0);

  pw_loop* loop = pw_main_loop_get_loop(loop_);
  spa_source* timer = pw_loop_add_timer(
      loop, [](void* data, std::uint64_t) { pw_main_loop_quit(static_cast<pw_main_loop*>(data)); }, loop_);
  const auto ms = std::max<std::int64_t>(1, timeout_.count());
  timespec value{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
  pw_loop_update_timer(loop, timer, &value, nullptr, false);
  pw_main_loop_run(loop_);
  pw_loop_destroy_source(loop, timer);

  if (!failure_.empty()) {
    log::warning(log::Layer::capture, failure_);
    return {};
  }
  if (!complete_) {
    log::warning(log::Layer::capture, "PipeWire did not answer within " + std::to_string(timeout_.count()) +
                                          " ms; listing the cameras it had told of by then");
  }
  std::vector<PipeWireCamera> cameras;
  for (const auto& [id, object] : objects_) {
    if (!object->node || !object->informed || object->removed) continue;
    const PropertyMap* device = nullptr;
    if (const auto deviceID = parseNumber<std::uint32_t>(find(object->props, PW_KEY_DEVICE_ID))) {
      const auto it = objects_.find(*deviceID);
      if (it != objects_.end() && !it->second->node && it->second->informed) device = &it->second->props;
    }
    if (auto camera = cameraFromProperties(id, object->props, device, object->modes)) {
      if (object->running) camera->streaming = object->streaming;
      if (const auto client = parseNumber<std::uint32_t>(find(object->props, PW_KEY_CLIENT_ID))) {
        if (const auto it = clientProcesses_.find(*client); it != clientProcesses_.end()) camera->process = it->second;
      }
      cameras.push_back(std::move(*camera));
    }
  }
  return cameras;
}

}  // namespace

std::vector<PipeWireCamera> listPipeWireCameras(std::chrono::milliseconds timeout) {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
  Listing listing(timeout);
  return listing.run();
}

}  // namespace velto::video
