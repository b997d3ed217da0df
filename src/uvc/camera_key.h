// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The identity of a camera model: what the preferred camera and the per-model wanted settings are
// stored under. Two cameras of one model share a key; the USB port tells them apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velto {

struct CameraKey {
  std::uint16_t vendorID = 0;
  std::uint16_t productID = 0;

  friend bool operator==(const CameraKey&, const CameraKey&) = default;

  // "291a:3369": four lower-case hexadecimal digits each.
  std::string hexString() const;
};

// The supported model, the Anker PowerConf C200: chosen when the preferred one is not attached,
// and the only camera offered the vendor controls.
inline constexpr CameraKey kAnkerC200{0x291A, 0x3369};

}  // namespace velto

template <>
struct std::hash<velto::CameraKey> {
  std::size_t operator()(const velto::CameraKey& key) const noexcept {
    return std::hash<std::uint32_t>{}((std::uint32_t{key.vendorID} << 16) | key.productID);
  }
};
