// One attached camera as the interface lists it. Holds no reference to the device.
#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

#include "uvc/camera_key.h"

namespace velto {

struct CameraSummary {
  QString name;
  CameraKey key;
  std::uint32_t locationID = 0;  // unique among attached cameras: its identity in lists

  friend bool operator==(const CameraSummary&, const CameraSummary&) = default;
};

inline size_t qHash(const CameraSummary& s, size_t seed = 0) {
  return qHashMulti(seed, s.name, s.key.vendorID, s.key.productID, s.locationID);
}

}  // namespace velto
