// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Following the camera's own word on changes: where the camera (its driver) tells when another
// program or its firmware changes a control, the named controls are read back at once, shown,
// and with "Keep settings locked" corrected, instead of waiting for the next read-back. The
// read-back then only has to run while somebody looks at the values.
//
// And following the camera's streams: where it shows when some program starts streaming from it,
// the vendor settings a camera may drop while idle are written again once the stream runs.
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>

#include "model/camera_store.h"
#include "model/write_coalescer.h"
#include "platform/usb/stream_watch.h"
#include "support/log.h"
#include "uvc/uvc_device.h"

namespace velto {
namespace {

// What the C200 forgets when written while idle. Not the field of view: writing it resets zoom,
// which the program now streaming may have chosen.
constexpr ControlID kStreamBoundControls[] = {ControlID::horizontalFlip, ControlID::hdr, ControlID::micPickup};

}  // namespace

void CameraStore::followNotices(const std::shared_ptr<UVCDevice>& device) {
  struct Sources {
    usb::NoticeSource notices;
    std::vector<ControlID> untold;
    usb::StreamSigns streams;
  };
  // Subscribing talks to the driver: on io, behind the connection's first reading.
  onIo(
      [device] {
        Sources sources;
        sources.notices = device->noticeSource();
        sources.untold = device->untoldControls();
        sources.streams = device->streamSigns();
        return sources;
      },
      [this, device](Sources sources) {
        if (open_ != device) return;
        streamWatch_ = usb::StreamWatch::create(clock_, std::move(sources.streams),
                                                [this, device] { onStreamStarted(device); });
        const usb::NoticeSource source = sources.notices;
        if (source.fd < 0) return;
        untold_ = std::move(sources.untold);
        noticeWatch_ = std::make_unique<QSocketNotifier>(
            source.fd, source.priority ? QSocketNotifier::Exception : QSocketNotifier::Read);
        connect(noticeWatch_.get(), &QSocketNotifier::activated, this, [this, device] { onNotices(device); });
        log::info(log::Layer::model, device->name() + " tells of changes to its controls");
        updatePollPace();
      });
}

void CameraStore::stopFollowing() {
  stopNotices();
  streamWatch_.reset();
  streamRewrite_.cancel();
}

void CameraStore::onStreamStarted(const std::shared_ptr<UVCDevice>& device) {
  streamRewrite_ = clock_.singleShot(this, kAfterStreamStart, [this, device] {
    if (open_ != device || !connected_) return;
    ControlValues writes;
    for (ControlID id : kStreamBoundControls) {
      auto want = desired_.find(id);
      // A control the user has just set is written too: what is wanted is that very value, and
      // the idle camera may have dropped it a moment ago.
      if (!device->supports(id) || want == desired_.end()) continue;
      // Refused once: reported then, not sent again with every stream.
      if (auto refused = refused_.find(id); refused != refused_.end() && refused->second == want->second) continue;
      writes[id] = want->second;
      // What did not hold while idle may hold now.
      unenforceable_.erase(id);
    }
    if (writes.empty()) return;
    log::info(log::Layer::model,
              "a stream from " + device->name() + " has started; its flip, HDR and microphone pickup are written again");
    writer_->enqueue(writes, device, io_);
  });
}

void CameraStore::stopNotices() {
  if (!noticeWatch_) return;
  noticeWatch_.reset();
  updatePollPace();
}

void CameraStore::onNotices(const std::shared_ptr<UVCDevice>& device) {
  Q_ASSERT(QThread::currentThread() == thread());
  // Level-triggered: quiet until io has taken what is waiting.
  noticeWatch_->setEnabled(false);
  struct Read {
    std::optional<std::vector<ControlID>> changed;
    ControlValues values;
  };
  // A value its auto mode moves is neither corrected nor, with nobody looking, shown: a camera
  // that tells of every step of its auto exposure is not read back for each.
  std::vector<ControlID> unread;
  if (valueViewers_.empty()) unread = autoMovedControls();
  onIo(
      [device, unread = std::move(unread)] {
        Read read;
        read.changed = device->takeChangedControls();
        if (read.changed) {
          std::erase_if(*read.changed,
                        [&](ControlID id) { return std::find(unread.begin(), unread.end(), id) != unread.end(); });
        }
        if (read.changed && !read.changed->empty()) read.values = device->readAll(*read.changed);
        return read;
      },
      [this, device](Read read) {
        if (open_ != device || !noticeWatch_) return;
        if (!read.changed) {
          log::info(log::Layer::model, device->name() + " no longer tells of changes; its controls are read back instead");
          stopNotices();
          if (connected_) reconcile(false);
          return;
        }
        noticeWatch_->setEnabled(true);
        if (!connected_ || read.values.empty()) return;
        pruneTouched();
        ControlValues shown = values_;
        for (const auto& [id, v] : read.values) {
          if (!touched_.contains(id)) shown[id] = v;
        }
        setValues(std::move(shown));
        if (!keepLocked_) return;
        if (ControlValues written = correct(read.values, device, false, true); !written.empty()) {
          confirmHeld(written, device);
        }
      },
      // Another program's change is undone before its user sees much of it.
      SerialQueue::Priority::urgent);
}

void CameraStore::confirmHeld(const ControlValues& written, const std::shared_ptr<UVCDevice>& device) {
  std::vector<ControlID> ids;
  for (const auto& [id, v] : written) ids.push_back(id);
  // Queued behind the correction's write, which is urgent too.
  onIo([device, ids] { return device->readAll(ids); },
       [this, device, written](ControlValues now) {
         if (open_ != device) return;
         for (const auto& [id, v] : now) {
           if (written.at(id) == v) unenforceable_.erase(id);
         }
       },
       SerialQueue::Priority::urgent);
}

void CameraStore::setShowingValues(const void* viewer, bool showing) {
  const bool before = !valueViewers_.empty();
  if (showing) {
    valueViewers_.insert(viewer);
  } else {
    valueViewers_.erase(viewer);
  }
  if (before == !valueViewers_.empty()) return;
  updatePollPace();
  // What the camera does not tell of may have changed meanwhile: the newcomer sees it now.
  if (showing && noticeWatch_ && connected_) reconcile(false);
}

void CameraStore::updatePollPace() {
  if (!pollTask_) return;
  const bool quiet = noticeWatch_ && valueViewers_.empty();
  pollTask_->setPeriod(quiet ? std::chrono::duration_cast<Clock::Duration>(kQuietPollPeriod)
                             : std::chrono::duration_cast<Clock::Duration>(kPollPeriod));
}

}  // namespace velto
