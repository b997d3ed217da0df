// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Integers as people type them to velto-ctl and velto-simcam: one rule, so that a number means
// the same to both programs.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velto {

// An optional sign, then decimal digits or 0x and hexadecimal digits. A leading zero is not
// octal ("010" is ten). None for anything else, for an empty text and for values outside int64.
std::optional<std::int64_t> parseInteger(std::string_view text);

}  // namespace velto
