// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/integer_text.h"

#include <charconv>

namespace velto {

std::optional<std::int64_t> parseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars reads no sign into an unsigned value, so "0x-1" and "+-1" stay errors.
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  constexpr std::uint64_t kMaxPositive = 0x7fffffffffffffff;
  if (magnitude > kMaxPositive + (negative ? 1 : 0)) return std::nullopt;
  // Negated in unsigned arithmetic, so that the most negative value does not overflow.
  return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

}  // namespace velto
