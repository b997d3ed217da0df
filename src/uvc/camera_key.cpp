#include "uvc/camera_key.h"

#include <cctype>
#include <cstdio>

namespace velto {
namespace {

// Just enough of a JSON reader for one flat object: string keys, and values that are integers,
// strings, booleans or null (other members are skipped, nested values are not accepted).
class FlatObjectReader {
 public:
  explicit FlatObjectReader(std::string_view text) : text_(text) {}

  // Calls `member(key, integer)` for every integer member; false on malformed input.
  template <typename F>
  bool read(F&& member) {
    skipSpace();
    if (!take('{')) return false;
    skipSpace();
    if (take('}')) return atEnd();
    for (;;) {
      std::string key;
      if (!readString(key)) return false;
      skipSpace();
      if (!take(':')) return false;
      skipSpace();
      if (peek() == '"') {
        std::string ignored;
        if (!readString(ignored)) return false;
      } else if (peek() == '-' || std::isdigit(static_cast<unsigned char>(peek()))) {
        std::optional<long long> value = readInteger();
        if (!value) return false;
        member(key, *value);
      } else if (!takeWord("true") && !takeWord("false") && !takeWord("null")) {
        return false;
      }
      skipSpace();
      if (take('}')) return atEnd();
      if (!take(',')) return false;
      skipSpace();
    }
  }

 private:
  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool take(char c) {
    if (peek() != c) return false;
    ++pos_;
    return true;
  }
  bool takeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  void skipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool atEnd() {
    skipSpace();
    return pos_ == text_.size();
  }
  bool readString(std::string& out) {
    if (!take('"')) return false;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      if (text_[pos_] == '\\') {
        if (++pos_ >= text_.size()) return false;
      }
      out.push_back(text_[pos_++]);
    }
    return take('"');
  }
  std::optional<long long> readInteger() {
    const bool negative = take('-');
    if (!std::isdigit(static_cast<unsigned char>(peek()))) return std::nullopt;
    long long value = 0;
    while (std::isdigit(static_cast<unsigned char>(peek()))) {
      if (value > 1'000'000'000'000LL) return std::nullopt;  // far beyond any USB ID
      value = value * 10 + (text_[pos_++] - '0');
    }
    if (peek() == '.' || peek() == 'e' || peek() == 'E') return std::nullopt;
    return negative ? -value : value;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string CameraKey::hexString() const {
  char text[10];
  std::snprintf(text, sizeof text, "%04x:%04x", vendorID, productID);
  return text;
}

std::string CameraKey::toJson() const {
  return "{\"vendorID\":" + std::to_string(vendorID) + ",\"productID\":" + std::to_string(productID) + "}";
}

std::optional<CameraKey> CameraKey::fromJson(std::string_view json) {
  std::optional<long long> vendor;
  std::optional<long long> product;
  FlatObjectReader reader(json);
  const bool ok = reader.read([&](const std::string& key, long long value) {
    if (key == "vendorID") vendor = value;
    if (key == "productID") product = value;
  });
  auto inRange = [](const std::optional<long long>& v) { return v && *v >= 0 && *v <= 0xFFFF; };
  if (!ok || !inRange(vendor) || !inRange(product)) return std::nullopt;
  return CameraKey{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

}  // namespace velto
