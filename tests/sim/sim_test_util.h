// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Helpers for talking to a SimCamera directly, as its USB host would.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/sim_camera.h"

namespace velto::sim::testing {

inline constexpr std::uint8_t kGetCur = 0x81, kGetMin = 0x82, kGetMax = 0x83, kGetRes = 0x84;
inline constexpr std::uint8_t kGetLen = 0x85, kGetInfo = 0x86, kGetDef = 0x87;

// A manual clock: tests move it.
struct TestClock {
  std::int64_t now = 1'000'000;
  SimCamera::Clock clock() {
    return [this] { return now; };
  }
};

inline Reply get(SimCamera& camera, std::uint8_t request, std::uint8_t unit, std::uint8_t selector,
                 std::uint16_t length) {
  const Setup setup{0xA1, request, static_cast<std::uint16_t>(selector << 8),
                    static_cast<std::uint16_t>(unit << 8), length};
  std::optional<Reply> reply = camera.handle(setup, {});
  return reply.value_or(Reply{0xdeadbeef, {}});
}

inline Reply set(SimCamera& camera, std::uint8_t unit, std::uint8_t selector,
                 const std::vector<std::uint8_t>& data) {
  const Setup setup{0x21, 0x01, static_cast<std::uint16_t>(selector << 8),
                    static_cast<std::uint16_t>(unit << 8), static_cast<std::uint16_t>(data.size())};
  std::optional<Reply> reply = camera.handle(setup, data);
  return reply.value_or(Reply{0xdeadbeef, {}});
}

// Little-endian bytes of `value`, `n` of them.
inline std::vector<std::uint8_t> le(std::int64_t value, int n) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

}  // namespace velto::sim::testing
