// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "umockdev_bench.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/usbdevice_fs.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>

#include "sim/descriptors.h"

namespace velto::testing {

struct UmockdevBench::Node {
  UmockdevBench* bench = nullptr;
  std::string devnode;
  std::string sysPath;
  UMockdevIoctlBase* handler = nullptr;
  bool usbfs = false;
  bool gone = false;  // unplugged or unbound: every ioctl answers ENODEV
  std::unique_ptr<FakeUvcDriver> driver;
};

namespace {

// What the camera answered to a submitted control URB, kept until the host reaps it.
struct Completion {
  int status = 0;
  std::vector<std::uint8_t> data;
};

const char kCompletionKey[] = "velto-completion";

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char two[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    text += two;
  }
  return text;
}

// Resolves the pointer-sized argument into a local copy of a `size`-byte structure.
UMockdevIoctlData* resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t size) {
  return umockdev_ioctl_data_resolve(data, offset, size, nullptr);
}

}  // namespace

bool UmockdevBench::preloaded() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

UmockdevBench::UmockdevBench() : testbed_(nullptr) {
  // Without the preload every open below would reach the real /sys and /dev.
  if (!preloaded()) {
    ADD_FAILURE() << "umockdev's preload is missing: run this test under umockdev-wrapper";
    return;
  }
  testbed_ = umockdev_testbed_new();
  if (!umockdev_in_mock_environment()) ADD_FAILURE() << "umockdev testbed is not active";
}

UmockdevBench::~UmockdevBench() {
  for (auto& node : nodes_) {
    if (testbed_ != nullptr) umockdev_testbed_detach_ioctl(testbed_, node->devnode.c_str(), nullptr);
    g_object_unref(node->handler);
  }
  for (UMockdevIoctlData* urb : inFlight_) g_object_unref(urb);
  for (UMockdevIoctlData* urb : reapable_) g_object_unref(urb);
  if (testbed_ != nullptr) g_object_unref(testbed_);
}

std::string UmockdevBench::sysDir() const {
  gchar* dir = umockdev_testbed_get_sys_dir(testbed_);
  std::string s = dir;
  g_free(dir);
  return s;
}

void UmockdevBench::changeElsewhere(ControlID id, std::int32_t value) {
  std::lock_guard lock(mutex_);
  camera_->set(id, value);
  for (auto& node : nodes_) {
    if (node->driver && !node->gone) node->driver->changedElsewhere(id, value);
  }
}

int UmockdevBench::resets() {
  std::lock_guard lock(mutex_);
  return resets_;
}

UmockdevBench::Node& UmockdevBench::attach(const std::string& devnode, bool usbfs) {
  auto node = std::make_unique<Node>();
  node->bench = this;
  node->devnode = devnode;
  node->usbfs = usbfs;
  node->handler = umockdev_ioctl_base_new();
  g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(&UmockdevBench::onIoctl), node.get());
  GError* error = nullptr;
  // The handler must be attached before the node appears, so that no open can miss it.
  if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), node->handler, &error)) {
    ADD_FAILURE() << "cannot attach to " << devnode << ": " << (error ? error->message : "?");
    g_clear_error(&error);
  }
  std::lock_guard lock(mutex_);
  nodes_.push_back(std::move(node));
  return *nodes_.back();
}

void UmockdevBench::plug(const Plug& plug) {
  if (testbed_ == nullptr) return;
  {
    std::lock_guard lock(mutex_);
    plug_ = plug;
    camera_ = std::make_unique<sim::SimCamera>(plug.profile, [this] { return now_; });
  }
  const sim::Profile& p = plug.profile;
  char node[32];
  std::snprintf(node, sizeof node, "bus/usb/001/%03u", plug.devnum);
  attach(std::string("/dev/") + node, true);

  std::vector<std::uint8_t> descriptors = sim::buildDeviceDescriptor(p.vendorID, p.productID);
  descriptors.insert(descriptors.end(), p.configuration.begin(), p.configuration.end());
  devicePath_ = "/devices/pci0000:00/0000:00:14.0/usb1/" + plug.name;
  interfacePath_ = devicePath_ + "/" + plug.name + ":1.0";
  char ids[64];
  std::snprintf(ids, sizeof ids, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", p.vendorID, p.productID);
  std::string text = "P: " + devicePath_ + "\nN: " + node + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
                     "E: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" + std::string(node).substr(12) +
                     "\nE: DEVNAME=/dev/" + node + "\nA: busnum=1\\n\nA: devnum=" +
                     std::to_string(plug.devnum) + "\\n\nA: devpath=" + plug.name.substr(2) + "\\n\n" +
                     ids + "A: bConfigurationValue=1\\n\nA: speed=480\\n\n";
  if (p.productName) text += "A: product=" + *p.productName + "\\n\n";
  text += "H: descriptors=" + hex(descriptors) + "\n\n";
  text += "P: " + interfacePath_ + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" +
          std::string(plug.uvcvideo ? "E: DRIVER=uvcvideo\nL: driver=../../../../../../bus/usb/drivers/uvcvideo\n" : "") +
          "A: bInterfaceClass=0e\\n\nA: bInterfaceSubClass=01\\n\nA: bInterfaceNumber=00\\n\n\n";
  text += "P: " + devicePath_ + "/" + plug.name + ":1.1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" +
          "A: bInterfaceClass=0e\\n\nA: bInterfaceSubClass=02\\n\nA: bInterfaceNumber=01\\n\n";
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, text.c_str(), &error)) {
    ADD_FAILURE() << "cannot add the camera: " << (error ? error->message : "?");
    g_clear_error(&error);
    return;
  }
  umockdev_testbed_uevent(testbed_, ("/sys" + devicePath_).c_str(), "add");
  if (plug.uvcvideo) {
    addVideoNode("video0", true);
    addVideoNode("video1", false);
  }
}

void UmockdevBench::addVideoNode(const std::string& name, bool metadata) {
  Node& node = attach("/dev/" + name, false);
  {
    std::lock_guard lock(mutex_);
    node.driver = std::make_unique<FakeUvcDriver>(*camera_);
    node.driver->setMetadataNode(metadata);
    node.sysPath = interfacePath_ + "/video4linux/" + name;
    if (!metadata) captureNode_ = "/dev/" + name;
  }
  const std::string text = "P: " + node.sysPath + "\nN: " + name + "\nE: SUBSYSTEM=video4linux\nE: DEVNAME=/dev/" +
                           name + "\nA: name=" + plug_.profile.productName.value_or("camera") + "\\n\n";
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, text.c_str(), &error)) {
    ADD_FAILURE() << "cannot add " << name << ": " << (error ? error->message : "?");
    g_clear_error(&error);
    return;
  }
  umockdev_testbed_uevent(testbed_, ("/sys" + node.sysPath).c_str(), "add");
}

void UmockdevBench::rebindCaptureNode(const std::string& newNode) {
  std::string sysPath;
  {
    std::lock_guard lock(mutex_);
    for (auto& node : nodes_) {
      if (node->devnode == captureNode_ && !node->gone) {
        node->gone = true;
        sysPath = node->sysPath;
        node->sysPath.clear();  // gone from sysfs; unplug() must not remove it again
      }
    }
  }
  // The "remove" uevent goes out while the device is still there to describe.
  umockdev_testbed_uevent(testbed_, ("/sys" + sysPath).c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, ("/sys" + sysPath).c_str());
  addVideoNode(newNode, false);
}

void UmockdevBench::unplug() {
  std::vector<std::string> videoNodes;
  {
    std::lock_guard lock(mutex_);
    for (auto& node : nodes_) {
      node->gone = true;
      if (!node->usbfs && !node->sysPath.empty()) videoNodes.push_back(node->sysPath);
    }
  }
  for (const std::string& path : videoNodes) {
    umockdev_testbed_uevent(testbed_, ("/sys" + path).c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, ("/sys" + path).c_str());
  }
  umockdev_testbed_uevent(testbed_, ("/sys" + devicePath_).c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, ("/sys" + devicePath_).c_str());
}

int UmockdevBench::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* data) {
  Node& node = *static_cast<Node*>(data);
  UmockdevBench& bench = *node.bench;
  int err = 0;
  {
    std::lock_guard lock(bench.mutex_);
    if (node.gone) {
      err = ENODEV;
    } else {
      err = node.usbfs ? bench.usbfsIoctl(client) : bench.videoIoctl(node, client);
    }
  }
  umockdev_ioctl_client_complete(client, err == 0 ? 0 : -1, err);
  return TRUE;
}

int UmockdevBench::videoIoctl(Node& node, UMockdevIoctlClient* client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  std::size_t size = 0;
  switch (request) {
    case VIDIOC_QUERYCAP: size = sizeof(v4l2_capability); break;
    case VIDIOC_QUERYCTRL: size = sizeof(v4l2_queryctrl); break;
    case VIDIOC_QUERYMENU: size = sizeof(v4l2_querymenu); break;
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS: size = sizeof(v4l2_ext_controls); break;
    case UVCIOC_CTRL_QUERY: size = sizeof(uvc_xu_control_query); break;
    case VIDIOC_SUBSCRIBE_EVENT: size = sizeof(v4l2_event_subscription); break;
    case VIDIOC_DQEVENT: size = sizeof(v4l2_event); break;
    default: return ENOTTY;
  }
  UMockdevIoctlData* local = resolve(arg, 0, size);
  if (local == nullptr) return EFAULT;
  // Pointers inside the structure are resolved too; the driver then works on local memory only.
  UMockdevIoctlData* inner = nullptr;
  if (request == VIDIOC_G_EXT_CTRLS || request == VIDIOC_S_EXT_CTRLS) {
    auto* controls = reinterpret_cast<v4l2_ext_controls*>(local->data);
    if (controls->count > 0) {
      inner = resolve(local, offsetof(v4l2_ext_controls, controls), controls->count * sizeof(v4l2_ext_control));
    }
  } else if (request == UVCIOC_CTRL_QUERY) {
    auto* query = reinterpret_cast<uvc_xu_control_query*>(local->data);
    if (query->size > 0) inner = resolve(local, offsetof(uvc_xu_control_query, data), query->size);
  }
  const int err = node.driver->ioctl(request, local->data);
  if (inner != nullptr) g_object_unref(inner);
  g_object_unref(local);
  return err;
}

int UmockdevBench::usbfsIoctl(UMockdevIoctlClient* client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* caps = resolve(arg, 0, sizeof(std::uint32_t));
      *reinterpret_cast<std::uint32_t*>(caps->data) =
          USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
      g_object_unref(caps);
      return 0;
    }
    case USBDEVFS_RESET:
      ++resets_;
      return 0;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_IOCTL:
    case USBDEVFS_SETINTERFACE:
      return 0;
    case USBDEVFS_SUBMITURB: {
      UMockdevIoctlData* urbData = resolve(arg, 0, sizeof(usbdevfs_urb));
      auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
      if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < 8) {
        g_object_unref(urbData);
        return EINVAL;
      }
      UMockdevIoctlData* buffer =
          resolve(urbData, offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(urb->buffer_length));
      urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
      const auto* bytes = static_cast<const std::uint8_t*>(urb->buffer);
      sim::Setup setup;
      setup.bmRequestType = bytes[0];
      setup.bRequest = bytes[1];
      setup.wValue = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
      setup.wIndex = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
      setup.wLength = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
      std::span<const std::uint8_t> out;
      if ((setup.bmRequestType & 0x80) == 0) {
        out = std::span<const std::uint8_t>(bytes + 8, std::min<std::size_t>(setup.wLength, urb->buffer_length - 8));
      }
      g_object_unref(buffer);
      auto reply = camera_->handle(setup, out);
      if (!reply) {
        inFlight_.push_back(urbData);  // a hung camera: reaped only once the host discards it
        return 0;
      }
      auto* done = new Completion;
      if (reply->status == usb::status::success) {
        done->data = std::move(reply->data);
        if ((setup.bmRequestType & 0x80) == 0) done->data.assign(out.begin(), out.end());
      } else {
        done->status = -EPIPE;
      }
      g_object_set_data_full(G_OBJECT(urbData), kCompletionKey, done,
                             [](gpointer p) { delete static_cast<Completion*>(p); });
      reapable_.push_back(urbData);
      return 0;
    }
    case USBDEVFS_DISCARDURB: {
      const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
      for (auto it = inFlight_.begin(); it != inFlight_.end(); ++it) {
        if ((*it)->client_addr != address) continue;
        auto* done = new Completion;
        done->status = -ENOENT;
        g_object_set_data_full(G_OBJECT(*it), kCompletionKey, done,
                               [](gpointer p) { delete static_cast<Completion*>(p); });
        reapable_.push_back(*it);
        inFlight_.erase(it);
        return 0;
      }
      return EINVAL;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
      if (reapable_.empty()) return EAGAIN;
      UMockdevIoctlData* urbData = reapable_.front();
      reapable_.pop_front();
      auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
      auto* done = static_cast<Completion*>(g_object_get_data(G_OBJECT(urbData), kCompletionKey));
      urb->status = done->status;
      // For control URBs the kernel counts the data stage only, not the setup packet.
      const std::size_t room = static_cast<std::size_t>(urb->buffer_length) - 8;
      const std::size_t n = std::min(done->data.size(), room);
      if (n > 0) std::memcpy(static_cast<std::uint8_t*>(urb->buffer) + 8, done->data.data(), n);
      urb->actual_length = static_cast<int>(n);
      UMockdevIoctlData* pointer = resolve(arg, 0, sizeof(void*));
      umockdev_ioctl_data_set_ptr(pointer, 0, urbData);
      g_object_unref(pointer);
      g_object_unref(urbData);
      return 0;
    }
    default:
      return ENOTTY;
  }
}

}  // namespace velto::testing
