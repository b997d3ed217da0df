// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/request_log.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace velto::sim {
namespace {

std::string compact(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace

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
  const QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
  return compact({
      {"seq", static_cast<qint64>(seq)},
      {"request", QString::fromStdString(requestName(setup.bRequest))},
      {"bmRequestType", setup.bmRequestType},
      {"bRequest", setup.bRequest},
      {"unit", setup.wIndex >> 8},
      {"selector", setup.wValue >> 8},
      {"wValue", setup.wValue},
      {"wIndex", setup.wIndex},
      {"length", setup.wLength},
      {"data", QString::fromLatin1(bytes.toHex())},
      {"status", static_cast<qint64>(status)},
  });
}

std::string eventLine(std::uint64_t seq, std::string_view event) {
  return compact({{"seq", static_cast<qint64>(seq)},
                  {"event", QString::fromUtf8(event.data(), static_cast<qsizetype>(event.size()))}});
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
