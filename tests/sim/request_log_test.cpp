// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/request_log.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace velto::sim {
namespace {

QJsonObject parsed(const std::string& line) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
  return document.object();
}

TEST(RequestLogTest, LineHasTheDocumentedFields) {
  const sim::Setup setup{0xA1, 0x81, 0x0200, 0x0100, 1};
  const std::uint8_t data[] = {0x02};
  EXPECT_EQ(parsed(requestLine(1, setup, data, 0)),
            QJsonObject({{"seq", 1}, {"request", "GET_CUR"}, {"bmRequestType", 161}, {"bRequest", 129},
                         {"unit", 1}, {"selector", 2}, {"wValue", 512}, {"wIndex", 256}, {"length", 1},
                         {"data", "02"}, {"status", 0}}));
  EXPECT_EQ(requestLine(1, setup, data, 0).find('\n'), std::string::npos) << "one line";
}

TEST(RequestLogTest, NamesCodesAndStatuses) {
  EXPECT_EQ(requestName(0x01), "SET_CUR");
  EXPECT_EQ(requestName(0x82), "GET_MIN");
  EXPECT_EQ(requestName(0x83), "GET_MAX");
  EXPECT_EQ(requestName(0x84), "GET_RES");
  EXPECT_EQ(requestName(0x87), "GET_DEF");
  EXPECT_EQ(requestName(0x85), "0x85");
  const sim::Setup setup{0x21, 0x01, 0x0D00, 0x0100, 2};
  const std::uint8_t data[] = {0xAB, 0x0F};
  const QJsonObject line = parsed(requestLine(7, setup, data, 0xe000404f));
  EXPECT_EQ(line["data"].toString(), "ab0f");
  EXPECT_EQ(line["status"].toInteger(), 3758112847) << "unsigned 32-bit";
  EXPECT_EQ(parsed(eventLine(7, "unplug")), QJsonObject({{"seq", 7}, {"event", "unplug"}}));
}

TEST(RequestLogTest, AppendsAndFlushesEachLine) {
  char path[] = "/tmp/velto-log-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "earlier\n", 8), 8);
  ::close(fd);
  RequestLog log;
  ASSERT_TRUE(log.open(path));
  log.event("hang");
  log.request(sim::Setup{0xA1, 0x87, 0x0200, 0x0200, 2}, std::vector<std::uint8_t>{0, 0}, 0);
  // Readable before the log is closed.
  std::ifstream in(path);
  std::string first, second, third;
  std::getline(in, first);
  std::getline(in, second);
  std::getline(in, third);
  EXPECT_EQ(first, "earlier");
  EXPECT_EQ(parsed(second)["event"].toString(), "hang");
  EXPECT_EQ(parsed(third)["request"].toString(), "GET_DEF");
  EXPECT_EQ(parsed(third)["seq"].toInteger(), 2) << "one sequence for both kinds";
  ::unlink(path);
}

TEST(RequestLogTest, WithoutAFileNothingHappens) {
  RequestLog log;
  EXPECT_FALSE(log.isOpen());
  log.event("plug");
  EXPECT_FALSE(log.open("/nonexistent-dir/log.jsonl"));
}

}  // namespace
}  // namespace velto::sim
