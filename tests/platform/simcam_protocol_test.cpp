// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/simcam_protocol.h"

#include <gtest/gtest.h>

namespace velto::usb::simcam {
namespace {

std::vector<Message> samples() {
  ControlRequest set{7, 0x21, 0x01, 0x0200, 0x0200, 2, {0x0a, 0x00}};
  ControlRequest get{8, 0xA1, 0x81, 0x0200, 0x0200, 2, {}};
  DeviceInfo info{0x5349'4d00'0000'0001, 0x291A, 0x3369, 0x01100000, "Anker PowerConf C200", {9, 2, 9, 0}};
  DeviceInfo nameless = info;
  nameless.productName.reset();
  return {Hello{1, 3}, Welcome{1}, info, nameless, set, get,
          ControlReply{8, status::success, {0x0a, 0x00}}, ControlReply{9, status::pipeStalled, {}},
          Reenumerate{10}, ReenumerateReply{10, 0}, Error{"unsupported protocol version"}, NoticeRequest{},
          ControlChanged{2, 0x02}};
}

std::span<const std::uint8_t> body(const std::vector<std::uint8_t>& frame) {
  return std::span(frame).subspan(kLengthPrefix);
}

TEST(SimcamProtocolTest, EveryMessageRoundTrips) {
  for (const Message& m : samples()) {
    const std::vector<std::uint8_t> frame = encode(m);
    const std::uint32_t length = frame[0] | frame[1] << 8 | frame[2] << 16 | frame[3] << 24;
    EXPECT_EQ(length, frame.size() - kLengthPrefix);
    const auto decoded = decodeBody(body(frame));
    ASSERT_TRUE(decoded) << "type " << int(frame[4]);
    EXPECT_EQ(*decoded, m);
  }
}

TEST(SimcamProtocolTest, EveryTruncationOrExtensionIsRejected) {
  for (const Message& m : samples()) {
    std::vector<std::uint8_t> frame = encode(m);
    for (std::size_t n = kLengthPrefix; n < frame.size(); ++n) {
      EXPECT_FALSE(decodeBody(std::span(frame).subspan(kLengthPrefix, n - kLengthPrefix)))
          << "type " << int(frame[4]) << " cut to " << n - kLengthPrefix;
    }
    frame.push_back(0);
    EXPECT_FALSE(decodeBody(body(frame))) << "trailing byte after type " << int(frame[4]);
  }
}

TEST(SimcamProtocolTest, InconsistentMessagesAreRejected) {
  const std::uint8_t unknownType[] = {0x40};
  EXPECT_FALSE(decodeBody(unknownType)) << "reserved for video";
  EXPECT_FALSE(decodeBody({}));
  // OUT data shorter than wLength; IN request with data.
  EXPECT_FALSE(decodeBody(body(encode(ControlRequest{1, 0x21, 0x01, 0, 0, 4, {1, 2}}))));
  EXPECT_FALSE(decodeBody(body(encode(ControlRequest{1, 0xA1, 0x81, 0, 0, 2, {1, 2}}))));
  std::vector<std::uint8_t> hello = encode(Hello{});
  hello[5] = 'X';  // magic
  EXPECT_FALSE(decodeBody(body(hello)));
  // No name, yet name bytes.
  DeviceInfo info;
  info.productName = "x";
  std::vector<std::uint8_t> frame = encode(info);
  frame[4 + 1 + 16] = 0;  // hasName
  EXPECT_FALSE(decodeBody(body(frame)));
}

TEST(SimcamProtocolTest, ReaderCutsAStreamAtAnyBoundary) {
  std::vector<std::uint8_t> stream;
  for (const Message& m : samples()) {
    const auto frame = encode(m);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  for (std::size_t chunk : {1u, 3u, 7u, 1000u}) {
    FrameReader reader;
    std::vector<Message> out;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      reader.append(std::span(stream).subspan(at, std::min(chunk, stream.size() - at)));
      Message m;
      FrameReader::Result r;
      while ((r = reader.next(m)) == FrameReader::Result::message) out.push_back(m);
      ASSERT_EQ(r, FrameReader::Result::needMore);
    }
    EXPECT_EQ(out, samples()) << "chunks of " << chunk;
    EXPECT_EQ(reader.buffered(), 0u);
  }
}

TEST(SimcamProtocolTest, OversizedOrMalformedFramesBreakTheStream) {
  FrameReader big;
  const std::uint32_t tooLong = kMaxBodySize + 1;
  const std::uint8_t header[] = {static_cast<std::uint8_t>(tooLong), static_cast<std::uint8_t>(tooLong >> 8),
                                 static_cast<std::uint8_t>(tooLong >> 16), 0};
  big.append(header);
  Message m;
  EXPECT_EQ(big.next(m), FrameReader::Result::malformed) << "refused before the body arrives";

  FrameReader zero;
  const std::uint8_t empty[] = {0, 0, 0, 0};
  zero.append(empty);
  EXPECT_EQ(zero.next(m), FrameReader::Result::malformed);

  FrameReader garbage;
  const std::uint8_t junk[] = {2, 0, 0, 0, 0x55, 0x55};
  garbage.append(junk);
  EXPECT_EQ(garbage.next(m), FrameReader::Result::malformed);
  garbage.append(encode(Welcome{}));
  EXPECT_EQ(garbage.next(m), FrameReader::Result::malformed) << "no resynchronisation";
}

TEST(SimcamProtocolTest, LargestControlPayloadFits) {
  ControlReply reply{1, 0, std::vector<std::uint8_t>(0xffff, 0xAA)};
  const auto frame = encode(reply);
  EXPECT_LE(frame.size() - kLengthPrefix, kMaxBodySize);
  EXPECT_EQ(std::get<ControlReply>(*decodeBody(body(frame))), reply);
}

}  // namespace
}  // namespace velto::usb::simcam
