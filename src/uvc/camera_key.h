// The identity of a camera model: what the preferred camera and the per-model wanted settings are
// stored under. Two cameras of one model share a key; the USB port tells them apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velto {

struct CameraKey {
  std::uint16_t vendorID = 0;
  std::uint16_t productID = 0;

  friend bool operator==(const CameraKey&, const CameraKey&) = default;

  // "291a:3369": four lower-case hexadecimal digits each.
  std::string hexString() const;

  // {"vendorID":10522,"productID":13161}
  std::string toJson() const;

  // The JSON form above: an object with both members as integers in 0...65535, in any order,
  // other members ignored. None for anything else.
  static std::optional<CameraKey> fromJson(std::string_view json);
};

}  // namespace velto

template <>
struct std::hash<velto::CameraKey> {
  std::size_t operator()(const velto::CameraKey& key) const noexcept {
    return std::hash<std::uint32_t>{}((std::uint32_t{key.vendorID} << 16) | key.productID);
  }
};
