// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One attached camera as the interface lists it. Holds no reference to the device.
#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/usb/service.h"
#include "uvc/camera_key.h"
#include "uvc/controls.h"

namespace velto {

struct CameraSummary {
  QString name;
  CameraKey key;
  std::uint32_t locationID = 0;  // unique among attached cameras: its identity in lists
  usb::CarrierKind carrier = usb::CarrierKind::sim;  // how it is reached

  friend bool operator==(const CameraSummary&, const CameraSummary&) = default;
};

// The connected camera as the interface sees it: plain values, nothing behind them that could
// block on the device.
struct ConnectedCamera {
  QString name;
  CameraKey key;
  std::uint32_t locationID = 0;
  std::uint64_t registryID = 0;  // one enumeration of the device: changes when it re-enumerates
  usb::CarrierKind carrier = usb::CarrierKind::sim;
  std::vector<ControlID> supported;  // in catalogue order

  bool supports(ControlID id) const;
  friend bool operator==(const ConnectedCamera&, const ConnectedCamera&) = default;
};

// Every camera in the order they are tried when the chosen one cannot be opened: the `preferred`
// model's, then the C200s, then the rest, each group in discovery order. With `onlyPreferred`,
// the preferred model's alone.
std::vector<std::size_t> cameraCandidates(const std::vector<CameraKey>& attached, CameraKey preferred,
                                          bool onlyPreferred = false);

inline size_t qHash(const CameraSummary& s, size_t seed = 0) {
  return qHashMulti(seed, s.name, s.key.vendorID, s.key.productID, s.locationID);
}

}  // namespace velto
