// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/simcam_protocol.h"

#include <algorithm>
#include <cstring>

namespace velto::usb::simcam {
namespace {

constexpr std::uint8_t kMagic[4] = {'V', 'S', 'I', 'M'};

class Writer {
 public:
  explicit Writer(MessageType type) {
    bytes_.resize(kLengthPrefix);
    u8(static_cast<std::uint8_t>(type));
  }
  void u8(std::uint8_t v) { bytes_.push_back(v); }
  void u16(std::uint16_t v) {
    u8(static_cast<std::uint8_t>(v));
    u8(static_cast<std::uint8_t>(v >> 8));
  }
  void u32(std::uint32_t v) {
    u16(static_cast<std::uint16_t>(v));
    u16(static_cast<std::uint16_t>(v >> 16));
  }
  void u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
  }
  void raw(const std::uint8_t* p, std::size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
  // A 16-bit length and that many bytes.
  void blob16(const std::uint8_t* p, std::size_t n) {
    n = std::min<std::size_t>(n, 0xffff);
    u16(static_cast<std::uint16_t>(n));
    raw(p, n);
  }
  std::vector<std::uint8_t> finish() {
    const auto body = static_cast<std::uint32_t>(bytes_.size() - kLengthPrefix);
    for (std::size_t i = 0; i < kLengthPrefix; ++i) {
      bytes_[i] = static_cast<std::uint8_t>(body >> (8 * i));
    }
    return std::move(bytes_);
  }
  std::size_t size() const { return bytes_.size() - kLengthPrefix; }

 private:
  std::vector<std::uint8_t> bytes_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool u8(std::uint8_t& v) {
    if (!need(1)) return false;
    v = bytes_[pos_++];
    return true;
  }
  bool u16(std::uint16_t& v) {
    if (!need(2)) return false;
    v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool u32(std::uint32_t& v) {
    std::uint16_t lo = 0, hi = 0;
    if (!need(4) || !u16(lo) || !u16(hi)) return false;
    v = static_cast<std::uint32_t>(lo) | static_cast<std::uint32_t>(hi) << 16;
    return true;
  }
  bool u64(std::uint64_t& v) {
    std::uint32_t lo = 0, hi = 0;
    if (!need(8) || !u32(lo) || !u32(hi)) return false;
    v = static_cast<std::uint64_t>(lo) | static_cast<std::uint64_t>(hi) << 32;
    return true;
  }
  bool bytes(std::size_t n, std::vector<std::uint8_t>& out) {
    if (!need(n)) return false;
    out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
               bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += n;
    return true;
  }
  bool blob16(std::vector<std::uint8_t>& out) {
    std::uint16_t n = 0;
    return u16(n) && bytes(n, out);
  }
  bool done() const { return pos_ == bytes_.size(); }
  std::size_t left() const { return bytes_.size() - pos_; }

 private:
  bool need(std::size_t n) const { return bytes_.size() - pos_ >= n; }
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

struct Encoder {
  std::vector<std::uint8_t> operator()(const Hello& m) const {
    Writer w(MessageType::hello);
    w.raw(kMagic, sizeof kMagic);
    w.u16(m.minVersion);
    w.u16(m.maxVersion);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const Welcome& m) const {
    Writer w(MessageType::welcome);
    w.u16(m.version);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const DeviceInfo& m) const {
    Writer w(MessageType::deviceInfo);
    w.u64(m.registryID);
    w.u16(m.vendorID);
    w.u16(m.productID);
    w.u32(m.locationID);
    w.u8(m.productName ? 1 : 0);
    const std::string name = m.productName.value_or("");
    w.blob16(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    const std::size_t room = kMaxBodySize - w.size() - 4;
    const std::size_t n = std::min(m.configuration.size(), room);
    w.u32(static_cast<std::uint32_t>(n));
    w.raw(m.configuration.data(), n);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const ControlRequest& m) const {
    Writer w(MessageType::controlRequest);
    w.u32(m.tag);
    w.u8(m.bmRequestType);
    w.u8(m.bRequest);
    w.u16(m.wValue);
    w.u16(m.wIndex);
    w.u16(m.wLength);
    w.blob16(m.data.data(), m.data.size());
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const ControlReply& m) const {
    Writer w(MessageType::controlReply);
    w.u32(m.tag);
    w.u32(m.status);
    w.blob16(m.data.data(), m.data.size());
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const Reenumerate& m) const {
    Writer w(MessageType::reenumerate);
    w.u32(m.tag);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const ReenumerateReply& m) const {
    Writer w(MessageType::reenumerateReply);
    w.u32(m.tag);
    w.u32(m.status);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const Error& m) const {
    Writer w(MessageType::error);
    w.blob16(reinterpret_cast<const std::uint8_t*>(m.text.data()), m.text.size());
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const NoticeRequest&) const { return Writer(MessageType::noticeRequest).finish(); }
  std::vector<std::uint8_t> operator()(const ControlChanged& m) const {
    Writer w(MessageType::controlChanged);
    w.u8(m.unit);
    w.u8(m.selector);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const StreamRequest& m) const {
    Writer w(MessageType::streamRequest);
    w.u16(m.maxWidth);
    w.u16(m.maxHeight);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const StreamModeRequest& m) const {
    Writer w(MessageType::streamModeRequest);
    w.u32(m.fourcc);
    w.u16(m.width);
    w.u16(m.height);
    w.u16(m.fps);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const StreamStart& m) const {
    Writer w(MessageType::streamStart);
    w.u16(m.width);
    w.u16(m.height);
    w.u16(m.fps);
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const StreamRefused& m) const {
    Writer w(MessageType::streamRefused);
    w.u8(static_cast<std::uint8_t>(m.reason));
    w.blob16(reinterpret_cast<const std::uint8_t*>(m.text.data()), m.text.size());
    return w.finish();
  }
  std::vector<std::uint8_t> operator()(const FrameChunk& m) const {
    Writer w(MessageType::frameChunk);
    w.u32(m.sequence);
    w.u32(m.offset);
    w.raw(m.data.data(), std::min(m.data.size(), kMaxChunkData));
    return w.finish();
  }
};

std::optional<Message> decodeHello(Reader& r) {
  std::vector<std::uint8_t> magic;
  Hello m;
  if (!r.bytes(sizeof kMagic, magic) || std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0 ||
      !r.u16(m.minVersion) || !r.u16(m.maxVersion)) {
    return std::nullopt;
  }
  return m;
}

std::optional<Message> decodeDeviceInfo(Reader& r) {
  DeviceInfo m;
  std::uint8_t hasName = 0;
  std::vector<std::uint8_t> name;
  std::uint32_t configLength = 0;
  if (!r.u64(m.registryID) || !r.u16(m.vendorID) || !r.u16(m.productID) || !r.u32(m.locationID) ||
      !r.u8(hasName) || hasName > 1 || !r.blob16(name) || !r.u32(configLength) ||
      !r.bytes(configLength, m.configuration)) {
    return std::nullopt;
  }
  // Without a name the name field is empty, so that every message has one encoding.
  if (hasName == 0 && !name.empty()) return std::nullopt;
  if (hasName != 0) m.productName = std::string(name.begin(), name.end());
  return m;
}

std::optional<Message> decodeControlRequest(Reader& r) {
  ControlRequest m;
  if (!r.u32(m.tag) || !r.u8(m.bmRequestType) || !r.u8(m.bRequest) || !r.u16(m.wValue) ||
      !r.u16(m.wIndex) || !r.u16(m.wLength) || !r.blob16(m.data)) {
    return std::nullopt;
  }
  const bool in = (m.bmRequestType & 0x80) != 0;
  if (in ? !m.data.empty() : m.data.size() != m.wLength) return std::nullopt;
  return m;
}

}  // namespace

std::vector<std::uint8_t> encode(const Message& message) { return std::visit(Encoder{}, message); }

std::optional<Message> decodeBody(std::span<const std::uint8_t> body) {
  if (body.empty() || body.size() > kMaxBodySize) return std::nullopt;
  Reader r(body.subspan(1));
  std::optional<Message> m;
  switch (static_cast<MessageType>(body[0])) {
    case MessageType::hello:
      m = decodeHello(r);
      break;
    case MessageType::welcome: {
      Welcome w;
      if (r.u16(w.version)) m = w;
      break;
    }
    case MessageType::deviceInfo:
      m = decodeDeviceInfo(r);
      break;
    case MessageType::controlRequest:
      m = decodeControlRequest(r);
      break;
    case MessageType::controlReply: {
      ControlReply c;
      if (r.u32(c.tag) && r.u32(c.status) && r.blob16(c.data)) m = std::move(c);
      break;
    }
    case MessageType::reenumerate: {
      Reenumerate e;
      if (r.u32(e.tag)) m = e;
      break;
    }
    case MessageType::reenumerateReply: {
      ReenumerateReply e;
      if (r.u32(e.tag) && r.u32(e.status)) m = e;
      break;
    }
    case MessageType::error: {
      std::vector<std::uint8_t> text;
      if (r.blob16(text)) m = Error{std::string(text.begin(), text.end())};
      break;
    }
    case MessageType::streamRequest: {
      StreamRequest q;
      if (r.u16(q.maxWidth) && r.u16(q.maxHeight)) m = q;
      break;
    }
    case MessageType::streamModeRequest: {
      StreamModeRequest q;
      if (r.u32(q.fourcc) && r.u16(q.width) && r.u16(q.height) && r.u16(q.fps)) m = q;
      break;
    }
    case MessageType::streamStart: {
      StreamStart q;
      if (r.u16(q.width) && r.u16(q.height) && r.u16(q.fps) && q.width > 0 && q.height > 0 && q.fps > 0) m = q;
      break;
    }
    case MessageType::streamRefused: {
      std::uint8_t reason = 0;
      std::vector<std::uint8_t> text;
      if (r.u8(reason) && (reason == 1 || reason == 2) && r.blob16(text)) {
        m = StreamRefused{static_cast<StreamRefused::Reason>(reason), std::string(text.begin(), text.end())};
      }
      break;
    }
    case MessageType::noticeRequest:
      m = NoticeRequest{};
      break;
    case MessageType::controlChanged: {
      ControlChanged c;
      if (r.u8(c.unit) && r.u8(c.selector)) m = c;
      break;
    }
    case MessageType::frameChunk: {
      FrameChunk c;
      if (r.u32(c.sequence) && r.u32(c.offset) && r.left() > 0 && r.bytes(r.left(), c.data)) m = std::move(c);
      break;
    }
    default:
      return std::nullopt;
  }
  if (!m || !r.done()) return std::nullopt;
  return m;
}

std::array<std::uint8_t, kChunkHeaderSize> encodeChunkHeader(std::uint32_t sequence, std::uint32_t offset,
                                                            std::size_t dataLength) {
  const auto body = static_cast<std::uint32_t>(kChunkHeaderSize - kLengthPrefix + std::min(dataLength, kMaxChunkData));
  std::array<std::uint8_t, kChunkHeaderSize> h{};
  for (std::size_t i = 0; i < 4; ++i) {
    h[i] = static_cast<std::uint8_t>(body >> (8 * i));
    h[5 + i] = static_cast<std::uint8_t>(sequence >> (8 * i));
    h[9 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
  }
  h[4] = static_cast<std::uint8_t>(MessageType::frameChunk);
  return h;
}

std::optional<ChunkHeader> decodeChunkHeader(std::span<const std::uint8_t, kChunkHeaderSize> header) {
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(header[at]) | static_cast<std::uint32_t>(header[at + 1]) << 8 |
           static_cast<std::uint32_t>(header[at + 2]) << 16 | static_cast<std::uint32_t>(header[at + 3]) << 24;
  };
  const std::uint32_t body = u32(0);
  if (header[4] != static_cast<std::uint8_t>(MessageType::frameChunk) || body > kMaxBodySize ||
      body <= kChunkHeaderSize - kLengthPrefix) {
    return std::nullopt;
  }
  return ChunkHeader{u32(5), u32(9), body - (kChunkHeaderSize - kLengthPrefix)};
}

void FrameReader::append(std::span<const std::uint8_t> bytes) {
  if (broken_) return;
  // Drop consumed bytes before growing, so the buffer stays about one frame long.
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > 64 * 1024) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

FrameReader::Result FrameReader::next(Message& out) {
  if (broken_) return Result::malformed;
  const std::size_t available = buffer_.size() - start_;
  if (available < kLengthPrefix) return Result::needMore;
  const std::uint8_t* p = buffer_.data() + start_;
  const std::uint32_t length = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                               static_cast<std::uint32_t>(p[2]) << 16 |
                               static_cast<std::uint32_t>(p[3]) << 24;
  if (length == 0 || length > kMaxBodySize) {
    broken_ = true;
    return Result::malformed;
  }
  if (available - kLengthPrefix < length) return Result::needMore;
  std::optional<Message> m = decodeBody(std::span(p + kLengthPrefix, length));
  if (!m) {
    broken_ = true;
    return Result::malformed;
  }
  start_ += kLengthPrefix + length;
  out = std::move(*m);
  return Result::message;
}

}  // namespace velto::usb::simcam
