// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/frame_decoder.h"

#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>
#include <turbojpeg.h>

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velto::video {
namespace {

Frame allocate(int width, int height) { return Frame::unset(width, height); }

std::uint8_t* mapPages(std::size_t size) {
  void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(pages);
}

void unmapPages(std::uint8_t* pages, std::size_t size) {
  if (pages != nullptr) munmap(pages, size);
}

// How many pictures the decoder keeps for reuse: the view's, the newest, and one on its way.
constexpr std::size_t kKeptPictures = 3;

bool rowsFit(const CodedFrame& coded, int bytesPerPixel) {
  if (coded.width <= 0 || coded.height <= 0 || coded.bytesPerRow < bytesPerPixel * coded.width) return false;
  const std::size_t needed = static_cast<std::size_t>(coded.height - 1) * static_cast<std::size_t>(coded.bytesPerRow) +
                             static_cast<std::size_t>(bytesPerPixel) * static_cast<std::size_t>(coded.width);
  return coded.bytes.size() >= needed;
}

// A handle of libjpeg-turbo's decompressor.
struct JpegHandle {
  tjhandle handle = tjInitDecompress();
  ~JpegHandle() {
    if (handle != nullptr) tjDestroy(handle);
  }
};

// Decodes `coded` at `width` × `height` (one of the decoder's scaled sizes) into `pixels`.
// Errors give way to nothing; a warning (a truncated or slightly damaged frame) still decodes.
bool decompress(tjhandle handle, const CodedFrame& coded, std::uint8_t* pixels, int width, int height, std::string* why) {
  if (handle == nullptr) {
    *why = "the JPEG decoder could not be set up";
    return false;
  }
  const int result = tjDecompress2(handle, coded.bytes.data(), static_cast<unsigned long>(coded.bytes.size()), pixels,
                                   width, 4 * width, height, TJPF_BGRA, TJFLAG_NOREALLOC);
  if (result == 0 || tjGetErrorCode(handle) == TJERR_WARNING) return true;
  *why = std::string("a JPEG frame that cannot be decoded: ") + tjGetErrorStr2(handle);
  return false;
}

// The header's size, checked against what the stream said.
bool jpegHeader(tjhandle handle, const CodedFrame& coded, std::string* why) {
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (handle == nullptr || tjDecompressHeader3(handle, coded.bytes.data(), static_cast<unsigned long>(coded.bytes.size()),
                                               &width, &height, &subsampling, &colorspace) != 0) {
    *why = "a JPEG frame without a readable header";
    return false;
  }
  if (width != coded.width || height != coded.height) {
    *why = "a JPEG frame of " + std::to_string(width) + "x" + std::to_string(height) + " in a stream of " +
           std::to_string(coded.width) + "x" + std::to_string(coded.height);
    return false;
  }
  return true;
}

// Whether `size` is near enough to `wanted` to be painted at it: at least four fifths of it each
// way (a picture a little smaller is enlarged a little; one much smaller would look soft).
bool nearEnough(PictureSize size, PictureSize wanted) {
  return 5 * size.width >= 4 * wanted.width && 5 * size.height >= 4 * wanted.height;
}

// The smallest of libjpeg-turbo's DCT scales 1, 1/2, 1/4 and 1/8 that is near enough to `wanted`.
// Only these have fast inverse DCTs and upsampling: 3/8 of a 1080p frame takes longer than 1/2,
// and 3/4 twice as long as the whole.
PictureSize jpegScale(PictureSize source, PictureSize wanted) {
  PictureSize best = source;
  for (const int denominator : {2, 4, 8}) {
    const tjscalingfactor factor{1, denominator};
    const PictureSize scaled{TJSCALED(source.width, factor), TJSCALED(source.height, factor)};
    if (!nearEnough(scaled, wanted)) break;
    best = scaled;
  }
  return best;
}

}  // namespace

PictureSize screenSize(PictureSize source, PictureSize target) {
  if (source.empty()) return {};
  if (target.empty()) target = kStatisticsSize;
  const double factor = std::min(1.0, std::max(static_cast<double>(target.width) / source.width,
                                               static_cast<double>(target.height) / source.height));
  if (factor >= 1.0) return source;
  const PictureSize covering{std::max(1, static_cast<int>(std::lround(source.width * factor))),
                             std::max(1, static_cast<int>(std::lround(source.height * factor)))};
  // A view sized to the picture's aspect is off by a rounded pixel at most: its own size then,
  // so that the picture is painted without scaling.
  if (covering.width - target.width <= 1 && covering.height - target.height <= 1) return target;
  return covering;
}

struct FrameDecoder::Jpeg : JpegHandle {};

// `from` averaged down to `to`'s size, an exact power-of-two fraction of it: each step halves
// with a rounded 2×2 box (libyuv's filters at other ratios darken by about 1 %, which would move
// the statistics).
void FrameDecoder::halve(const std::uint8_t* from, int fromRow, PictureSize fromSize, Frame& to) {
  for (int step = 0; fromSize.width > 2 * to.width(); ++step) {
    const PictureSize half{fromSize.width / 2, fromSize.height / 2};
    std::uint8_t* next = halving_[step % 2].reserve(static_cast<std::size_t>(half.width) * half.height * 4);
    if (next == nullptr) break;  // no memory for a step: the last one below does the rest, coarser
    libyuv::ARGBScale(from, fromRow, fromSize.width, fromSize.height, next, 4 * half.width, half.width, half.height,
                      libyuv::kFilterBox);
    from = next;
    fromRow = 4 * half.width;
    fromSize = half;
  }
  libyuv::ARGBScale(from, fromRow, fromSize.width, fromSize.height, to.mutablePixels(), to.bytesPerRow(), to.width(),
                    to.height(), libyuv::kFilterBox);
}

FrameDecoder::Pages::~Pages() { unmapPages(data_, size_); }

std::uint8_t* FrameDecoder::Pages::reserve(std::size_t size) {
  if (size <= size_) return data_;
  unmapPages(data_, size_);
  data_ = mapPages(size);
  size_ = data_ != nullptr ? size : 0;
  return data_;
}

// The pictures handed out, and those back for reuse, all of one size: the view's.
struct FrameDecoder::Buffers {
  std::mutex mutex;
  std::size_t size = 0;
  std::vector<std::uint8_t*> free;
  bool open = true;  // false once the decoder has gone: pictures let go after it are unmapped
};

struct FrameDecoder::CodedFrames {
  std::mutex mutex;
  std::vector<std::unique_ptr<CodedFrame>> free;
  bool open = true;  // false once the decoder has gone: frames let go after it are freed
};

FrameDecoder::FrameDecoder()
    : jpeg_(std::make_unique<Jpeg>()), buffers_(std::make_shared<Buffers>()), coded_(std::make_shared<CodedFrames>()) {}

std::shared_ptr<CodedFrame> FrameDecoder::codedFrame() {
  std::unique_ptr<CodedFrame> frame;
  {
    std::lock_guard lock(coded_->mutex);
    if (!coded_->free.empty()) {
      frame = std::move(coded_->free.back());
      coded_->free.pop_back();
    }
  }
  if (frame) {
    std::vector<std::uint8_t> memory = std::move(frame->bytes);
    memory.clear();  // keeps its capacity
    *frame = CodedFrame{};
    frame->bytes = std::move(memory);
  } else {
    frame = std::make_unique<CodedFrame>();
  }
  return std::shared_ptr<CodedFrame>(frame.release(), [frames = coded_](CodedFrame* done) {
    std::unique_ptr<CodedFrame> owned(done);
    std::lock_guard lock(frames->mutex);
    if (frames->open && frames->free.size() < kKeptPictures) frames->free.push_back(std::move(owned));
  });
}

FrameDecoder::~FrameDecoder() {
  {
    std::lock_guard lock(coded_->mutex);
    coded_->open = false;
    coded_->free.clear();
  }
  std::lock_guard lock(buffers_->mutex);
  buffers_->open = false;
  for (std::uint8_t* unused : buffers_->free) unmapPages(unused, buffers_->size);
  buffers_->free.clear();
}

Frame FrameDecoder::picture(PictureSize size) {
  const std::size_t bytes = static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * 4;
  std::uint8_t* memory = nullptr;
  {
    std::lock_guard lock(buffers_->mutex);
    if (buffers_->size != bytes) {
      for (std::uint8_t* unused : buffers_->free) unmapPages(unused, buffers_->size);
      buffers_->free.clear();
      buffers_->size = bytes;
    }
    if (!buffers_->free.empty()) {
      memory = buffers_->free.back();
      buffers_->free.pop_back();
    }
  }
  if (memory == nullptr) memory = mapPages(bytes);
  if (memory == nullptr) return allocate(size.width, size.height);
  std::shared_ptr<std::uint8_t[]> owned(memory, [buffers = buffers_, bytes](std::uint8_t* pages) {
    std::lock_guard lock(buffers->mutex);
    if (buffers->open && buffers->size == bytes && buffers->free.size() < kKeptPictures) {
      buffers->free.push_back(pages);
    } else {
      unmapPages(pages, bytes);
    }
  });
  return Frame::unset(size.width, size.height, std::move(owned));
}

// `from` resampled to `size` with bilinear weights in 1/128 steps, rounded once, so that a flat
// area keeps its level exactly (libyuv's filters lose about 1 %). For the last, small step to
// the view's size (between 4/5 and twice the size), where a bilinear filter neither blurs nor
// aliases to speak of; painting is then a plain copy. Rows are blended first, then each output
// pixel from two blended pixels; both with SSE2 where there is SSE2.
void resample(const std::uint8_t* pixels, int bytesPerRow, PictureSize from, Frame& to) {
  const PictureSize size{to.width(), to.height()};
  const int fromWidth = from.width, fromHeight = from.height;
  // Where output pixel i's centre falls among the input's: the pixel before it, and the weight
  // (0…128) of the one after.
  auto position = [](int i, int fromExtent, int toExtent, int* before, int* weight) {
    const std::int64_t at = ((2 * static_cast<std::int64_t>(i) + 1) * fromExtent * 128) / (2 * toExtent) - 64;
    if (at <= 0) {
      *before = 0;
      *weight = 0;
    } else if (at >= static_cast<std::int64_t>(fromExtent - 1) * 128) {
      *before = fromExtent - 1;
      *weight = 0;
    } else {
      *before = static_cast<int>(at / 128);
      *weight = static_cast<int>(at % 128);
    }
  };
  std::vector<int> columns(static_cast<std::size_t>(size.width));
  std::vector<int> columnWeights(static_cast<std::size_t>(size.width));
  std::vector<std::int32_t> pairWeights(static_cast<std::size_t>(size.width));  // (w << 16) | (128 - w)
  for (int x = 0; x < size.width; ++x) {
    position(x, fromWidth, size.width, &columns[x], &columnWeights[x]);
    pairWeights[x] = (columnWeights[x] << 16) | (128 - columnWeights[x]);
  }
  // One blended row, and a copy of its last pixel after it: every column has a right neighbour.
  std::vector<std::int16_t> blended(4 * (static_cast<std::size_t>(fromWidth) + 1));
  for (int y = 0; y < size.height; ++y) {
    int row = 0, weight = 0;
    position(y, fromHeight, size.height, &row, &weight);
    const std::uint8_t* a = pixels + static_cast<std::size_t>(row) * bytesPerRow;
    const std::uint8_t* b = weight != 0 ? a + bytesPerRow : a;
    const std::size_t n = 4 * static_cast<std::size_t>(fromWidth);
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i keep = _mm_set1_epi16(static_cast<std::int16_t>(128 - weight));
    const __m128i take = _mm_set1_epi16(static_cast<std::int16_t>(weight));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
      const __m128i low = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), keep),
                                        _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), take));
      const __m128i high = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), keep),
                                         _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), take));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(blended.data() + i), low);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(blended.data() + i + 8), high);
    }
#endif
    for (; i < n; ++i) blended[i] = static_cast<std::int16_t>(a[i] * (128 - weight) + b[i] * weight);
    for (std::size_t c = 0; c < 4; ++c) blended[n + c] = blended[n - 4 + c];
    std::uint8_t* out = to.mutablePixels() + static_cast<std::size_t>(y) * to.bytesPerRow();
    int x = 0;
#if defined(__SSE2__)
    // Two output pixels at a time: each one's four channels paired with its right neighbour's,
    // weighted and summed by one multiply-add.
    const __m128i half = _mm_set1_epi32(1 << 13);
    auto pixel = [&](int at) {
      const std::int16_t* p = blended.data() + 4 * static_cast<std::size_t>(columns[at]);
      const __m128i pairs = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 4)));
      return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, _mm_set1_epi32(pairWeights[at])), half), 14);
    };
    for (; x + 2 <= size.width; x += 2) {
      const __m128i levels = _mm_packs_epi32(pixel(x), pixel(x + 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * static_cast<std::size_t>(x)), _mm_packus_epi16(levels, levels));
    }
#endif
    for (; x < size.width; ++x) {
      const std::int16_t* p = blended.data() + 4 * static_cast<std::size_t>(columns[x]);
      const int w = columnWeights[x];
      for (int c = 0; c < 4; ++c) out[4 * x + c] = static_cast<std::uint8_t>((p[c] * (128 - w) + p[c + 4] * w + 8192) >> 14);
    }
  }
}

PictureSize FrameDecoder::decodedSize(CodedFrame::Format format, PictureSize source, PictureSize target) {
  const PictureSize wanted = screenSize(source, target);
  if (wanted.empty()) return {};
  if (format == CodedFrame::Format::mjpeg) return jpegScale(source, wanted);
  PictureSize size = source;
  while (size.width % 2 == 0 && size.height % 2 == 0 && nearEnough({size.width / 2, size.height / 2}, wanted)) {
    size = {size.width / 2, size.height / 2};
  }
  return size;
}

std::optional<Frame> FrameDecoder::decode(std::shared_ptr<const CodedFrame> coded, PictureSize target, std::string* why) {
  const CodedFrame& c = *coded;
  const PictureSize source{c.width, c.height};
  const PictureSize size = decodedSize(c.format, source, target);
  if (size.empty()) {
    *why = "a frame of no size";
    return std::nullopt;
  }
  // A view's picture at its very size, so that painting it is a copy: the format's own reduction
  // makes `size`, and when that is not yet the view's a last step resamples it from scratch pages.
  const PictureSize exact = target.empty() ? size : screenSize(source, target);
  const auto bytes = [](PictureSize s) { return static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height) * 4; };
  const auto onPages = [](PictureSize s, std::uint8_t* pages) {
    return Frame::unset(s.width, s.height, std::shared_ptr<std::uint8_t[]>(pages, [](std::uint8_t*) {}));
  };
  if (c.format == CodedFrame::Format::bgra && size == source && rowsFit(c, 4) && exact == source) {
    return Frame(c.width, c.height, c.bytesPerRow, c.bytes.data(), c.bytes.size(), coded);  // shared, not copied
  }
  Frame frame = picture(exact);
  Frame staged = frame;
  if (exact != size) {
    std::uint8_t* pages = scratch_.reserve(bytes(size));
    if (pages == nullptr) {
      *why = "no memory left for a frame";
      return std::nullopt;
    }
    staged = onPages(size, pages);
  }
  switch (c.format) {
    case CodedFrame::Format::mjpeg:
      if (!jpegHeader(jpeg_->handle, c, why) ||
          !decompress(jpeg_->handle, c, staged.mutablePixels(), size.width, size.height, why)) {
        return std::nullopt;
      }
      break;
    case CodedFrame::Format::yuy2:
      if (!rowsFit(c, 2) || c.width % 2 != 0) {
        *why = "a YUY2 frame shorter than its rows";
        return std::nullopt;
      }
      if (size == source) {
        libyuv::YUY2ToARGB(c.bytes.data(), c.bytesPerRow, staged.mutablePixels(), staged.bytesPerRow(), c.width, c.height);
      } else {
        std::uint8_t* full = full_.reserve(bytes(source));
        if (full == nullptr) {
          *why = "no memory left for a frame";
          return std::nullopt;
        }
        libyuv::YUY2ToARGB(c.bytes.data(), c.bytesPerRow, full, 4 * c.width, c.width, c.height);
        halve(full, 4 * c.width, source, staged);
      }
      break;
    case CodedFrame::Format::bgra:
      if (!rowsFit(c, 4)) {
        *why = "a BGRA frame shorter than its rows";
        return std::nullopt;
      }
      if (size == source) {
        staged = Frame(c.width, c.height, c.bytesPerRow, c.bytes.data(), c.bytes.size(), coded);
      } else {
        halve(c.bytes.data(), c.bytesPerRow, source, staged);
      }
      break;
  }
  if (exact != size) resample(staged.pixels(), staged.bytesPerRow(), size, frame);
  if (exact == source) return frame;  // the camera's picture in full already
  return frame.reducedFrom(c.width, c.height, [coded = std::move(coded)] {
    std::string ignored;
    return decodeFull(*coded, &ignored).value_or(Frame());
  });
}

std::optional<Frame> FrameDecoder::decodeFull(const CodedFrame& coded, std::string* why) {
  switch (coded.format) {
    case CodedFrame::Format::mjpeg: {
      JpegHandle jpeg;
      if (!jpegHeader(jpeg.handle, coded, why)) return std::nullopt;
      Frame frame = allocate(coded.width, coded.height);
      if (!decompress(jpeg.handle, coded, frame.mutablePixels(), coded.width, coded.height, why)) return std::nullopt;
      return frame;
    }
    case CodedFrame::Format::yuy2: {
      if (!rowsFit(coded, 2) || coded.width % 2 != 0) {
        *why = "a YUY2 frame shorter than its rows";
        return std::nullopt;
      }
      Frame frame = allocate(coded.width, coded.height);
      libyuv::YUY2ToARGB(coded.bytes.data(), coded.bytesPerRow, frame.mutablePixels(), frame.bytesPerRow(), coded.width,
                         coded.height);
      return frame;
    }
    case CodedFrame::Format::bgra: {
      if (!rowsFit(coded, 4)) {
        *why = "a BGRA frame shorter than its rows";
        return std::nullopt;
      }
      Frame frame = allocate(coded.width, coded.height);
      for (int y = 0; y < coded.height; ++y) {
        std::memcpy(frame.mutablePixels() + static_cast<std::size_t>(y) * frame.bytesPerRow(),
                    coded.bytes.data() + static_cast<std::size_t>(y) * coded.bytesPerRow, 4 * static_cast<std::size_t>(coded.width));
      }
      return frame;
    }
  }
  return std::nullopt;
}

}  // namespace velto::video
