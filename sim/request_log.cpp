#include "sim/request_log.h"

namespace velto::sim {

std::string requestName(std::uint8_t bRequest) {
  switch (bRequest) {
    case 0x01: return "SET_CUR";
    case 0x81: return "GET_CUR";
    case 0x82: return "GET_MIN";
    case 0x83: return "GET_MAX";
    case 0x84: return "GET_RES";
    case 0x87: return "GET_DEF";
    default: {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02x", bRequest);
      return code;
    }
  }
}

std::string requestLine(std::uint64_t seq, const Setup& setup, std::span<const std::uint8_t> data,
                        usb::Status status) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(data.size() * 2);
  for (std::uint8_t b : data) {
    hex.push_back(kHex[b >> 4]);
    hex.push_back(kHex[b & 0xf]);
  }
  return "{\"seq\":" + std::to_string(seq) + ",\"request\":\"" + requestName(setup.bRequest) +
         "\",\"bmRequestType\":" + std::to_string(setup.bmRequestType) +
         ",\"bRequest\":" + std::to_string(setup.bRequest) +
         ",\"unit\":" + std::to_string(setup.wIndex >> 8) +
         ",\"selector\":" + std::to_string(setup.wValue >> 8) +
         ",\"wValue\":" + std::to_string(setup.wValue) + ",\"wIndex\":" + std::to_string(setup.wIndex) +
         ",\"length\":" + std::to_string(setup.wLength) + ",\"data\":\"" + hex +
         "\",\"status\":" + std::to_string(status) + "}";
}

std::string eventLine(std::uint64_t seq, std::string_view event) {
  return "{\"seq\":" + std::to_string(seq) + ",\"event\":\"" + std::string(event) + "\"}";
}

RequestLog::~RequestLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RequestLog::open(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "ae");
  if (f == nullptr) return false;
  if (file_ != nullptr) std::fclose(file_);
  file_ = f;
  return true;
}

void RequestLog::request(const Setup& setup, std::span<const std::uint8_t> data, usb::Status status) {
  if (file_ != nullptr) write(requestLine(++seq_, setup, data, status));
}

void RequestLog::event(std::string_view name) {
  if (file_ != nullptr) write(eventLine(++seq_, name));
}

void RequestLog::write(const std::string& line) {
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace velto::sim
