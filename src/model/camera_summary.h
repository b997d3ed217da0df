// One attached camera as the interface lists it. Holds no reference to the device.
#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "uvc/camera_key.h"

namespace velto {

struct CameraSummary {
  QString name;
  CameraKey key;
  std::uint32_t locationID = 0;  // unique among attached cameras: its identity in lists

  friend bool operator==(const CameraSummary&, const CameraSummary&) = default;
};

// The supported model, chosen when the preferred one is not attached.
inline constexpr CameraKey kAnkerC200{0x291A, 0x3369};

// Which of the attached cameras (their models, in discovery order) to connect to: the first of the
// `preferred` model, else the first C200, else the first camera. None when the list is empty.
std::optional<std::size_t> chooseCamera(const std::vector<CameraKey>& attached, CameraKey preferred);

inline size_t qHash(const CameraSummary& s, size_t seed = 0) {
  return qHashMulti(seed, s.name, s.key.vendorID, s.key.productID, s.locationID);
}

}  // namespace velto
