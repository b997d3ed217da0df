// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Feeds arbitrary bytes to the simulator protocol's decoder, as a stream cut into frames and as a
// single message body, and its first bytes to the frame-chunk header reader. Any out-of-bounds read is a finding (the fuzzer build runs under
// AddressSanitizer); so is a decoded message that does not encode back to the same bytes, since
// every message has exactly one encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "platform/usb/simcam_protocol.h"

namespace simcam = velto::usb::simcam;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);

  // The whole input as one body.
  if (auto m = simcam::decodeBody(input)) {
    const auto frame = simcam::encode(*m);
    if (frame.size() != size + simcam::kLengthPrefix ||
        std::memcmp(frame.data() + simcam::kLengthPrefix, data, size) != 0) {
      std::abort();
    }
  }

  // A chunk header the stream reader accepts is the start of a chunk the decoder accepts too,
  // whatever data follows it.
  if (size >= simcam::kChunkHeaderSize) {
    const auto header = std::span<const std::uint8_t, simcam::kChunkHeaderSize>(data, simcam::kChunkHeaderSize);
    if (auto h = simcam::decodeChunkHeader(header)) {
      std::vector<std::uint8_t> body(header.begin() + simcam::kLengthPrefix, header.end());
      body.resize(body.size() + h->dataLength, 0x5a);
      const auto m = simcam::decodeBody(body);
      const auto* chunk = m ? std::get_if<simcam::FrameChunk>(&*m) : nullptr;
      if (chunk == nullptr || chunk->sequence != h->sequence || chunk->offset != h->offset ||
          chunk->data.size() != h->dataLength) {
        std::abort();
      }
    }
  }

  // The input as a stream, delivered in uneven pieces: each message is re-encoded and must
  // decode to itself.
  simcam::FrameReader reader;
  std::size_t at = 0, piece = 1;
  while (at < size) {
    const std::size_t n = std::min(piece, size - at);
    reader.append(input.subspan(at, n));
    at += n;
    piece = piece * 2 + 1;
    simcam::Message m;
    simcam::FrameReader::Result r;
    while ((r = reader.next(m)) == simcam::FrameReader::Result::message) {
      const auto frame = simcam::encode(m);
      const auto again = simcam::decodeBody(std::span(frame).subspan(simcam::kLengthPrefix));
      if (!again || !(*again == m)) std::abort();
    }
    if (r == simcam::FrameReader::Result::malformed) break;
  }
  return 0;
}
