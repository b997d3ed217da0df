// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "support/integer_text.h"

namespace velto::sim {
namespace {

TEST(CommandLineTest, DefaultsToTheC200) {
  std::string error;
  auto run = parseRunOptions({}, "/dir", &error);
  ASSERT_TRUE(run) << error;
  EXPECT_EQ(run->profile.name, "c200");
  EXPECT_EQ(run->server.id, "cam0");
  EXPECT_EQ(run->server.directory, "/dir");
  EXPECT_EQ(run->server.reenumerateMs, 1000);
  EXPECT_EQ(run->server.latencyMs, 0);
}

TEST(CommandLineTest, EveryOption) {
  std::string error;
  auto run = parseRunOptions({"--profile", "generic", "--id", "desk", "--name", "My Cam", "--vendor",
                              "0x1234", "--product=0xabcd", "--location", "0x02100000", "--latency-ms",
                              "25", "--reenumerate-ms", "50", "--descriptors", "09 02 09 00", "--log",
                              "/tmp/x.jsonl"},
                             "/dir", &error);
  ASSERT_TRUE(run) << error;
  EXPECT_EQ(run->profile.name, "generic");
  EXPECT_EQ(run->server.id, "desk");
  EXPECT_EQ(run->profile.productName, "My Cam");
  EXPECT_EQ(run->profile.vendorID, 0x1234);
  EXPECT_EQ(run->profile.productID, 0xabcd);
  EXPECT_EQ(run->profile.locationID, 0x02100000u);
  EXPECT_EQ(run->server.latencyMs, 25);
  EXPECT_EQ(run->server.reenumerateMs, 50);
  EXPECT_EQ(run->profile.configuration, (std::vector<std::uint8_t>{0x09, 0x02, 0x09, 0x00}));
  EXPECT_EQ(run->server.logPath, "/tmp/x.jsonl");
}

TEST(CommandLineTest, BadArgumentsAreNamed) {
  std::string error;
  EXPECT_FALSE(parseRunOptions({"--profile", "webcam"}, "/d", &error));
  EXPECT_EQ(error, "unknown profile 'webcam' (c200 or generic)");
  EXPECT_FALSE(parseRunOptions({"--vendor", "0x10000"}, "/d", &error));
  EXPECT_EQ(error, "--vendor: '0x10000' is not a number from 0 to 65535");
  EXPECT_FALSE(parseRunOptions({"--latency-ms", "-1"}, "/d", &error));
  EXPECT_FALSE(parseRunOptions({"--latency-ms", "10001"}, "/d", &error));
  EXPECT_EQ(error, "--latency-ms: '10001' is not a number from 0 to 10000");
  EXPECT_FALSE(parseRunOptions({"--reenumerate-ms", "600000"}, "/d", &error));
  EXPECT_FALSE(parseRunOptions({"--id", "../x"}, "/d", &error));
  EXPECT_FALSE(parseRunOptions({"--descriptors", "090"}, "/d", &error));
  EXPECT_FALSE(parseRunOptions({"--log"}, "/d", &error));
  EXPECT_EQ(error, "--log needs a value");
  EXPECT_FALSE(parseRunOptions({"--verbose"}, "/d", &error));
  EXPECT_EQ(error, "unknown argument '--verbose'");
}

TEST(CommandLineTest, VideoOptions) {
  std::string error;
  auto run = parseRunOptions({"--size", "640x360", "--fps=15", "--illuminant", "3000", "--light", "8.5",
                              "--flip-needs-stream"},
                             "/d", &error);
  ASSERT_TRUE(run) << error;
  EXPECT_EQ(run->server.width, 640);
  EXPECT_EQ(run->server.height, 360);
  EXPECT_EQ(run->server.fps, 15);
  EXPECT_EQ(run->server.lighting.illuminantK, 3000);
  EXPECT_EQ(run->server.lighting.ev, 8.5);
  EXPECT_TRUE(run->server.flipNeedsStream);
  EXPECT_FALSE(parseRunOptions({}, "/d", &error)->server.flipNeedsStream);

  EXPECT_FALSE(parseRunOptions({"--size", "1280*720"}, "/d", &error));
  EXPECT_EQ(error, "--size: '1280*720' is not WIDTHxHEIGHT with each from 16 to 4096");
  EXPECT_FALSE(parseRunOptions({"--size", "8x8"}, "/d", &error));
  EXPECT_FALSE(parseRunOptions({"--fps", "0"}, "/d", &error));
  EXPECT_FALSE(parseRunOptions({"--illuminant", "900"}, "/d", &error));
  EXPECT_FALSE(parseRunOptions({"--light", "7e1"}, "/d", &error));
  EXPECT_FALSE(parseRunOptions({"--light", "1.2.3"}, "/d", &error));
  EXPECT_EQ(error, "--light: '1.2.3' is not a number from -5 to 20 (EV)");
  EXPECT_FALSE(parseRunOptions({"--flip-needs-stream=1"}, "/d", &error));
  EXPECT_EQ(error, "--flip-needs-stream takes no value");
}

TEST(CommandLineTest, NumbersAreDecimalOrHexNeverOctal) {
  std::string error;
  auto run = parseRunOptions({"--latency-ms", "010", "--vendor", "0X0a0B", "--product", "+12"}, "/d", &error);
  ASSERT_TRUE(run) << error;
  EXPECT_EQ(run->server.latencyMs, 10);
  EXPECT_EQ(run->profile.vendorID, 0x0A0B);
  EXPECT_EQ(run->profile.productID, 12);
  for (const char* bad : {"", "0x", "1e3", " 1", "1 ", "0b1", "0x-1", "--1", "99999999999999999999"}) {
    EXPECT_FALSE(parseRunOptions({"--location", bad}, "/d", &error)) << "'" << bad << "'";
  }
  // Signed, as `ctl set` takes them.
  EXPECT_EQ(parseInteger("-0x10"), -16);
  EXPECT_EQ(parseInteger("-010"), -10);
  EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);
  EXPECT_FALSE(parseInteger("9223372036854775808"));
  EXPECT_FALSE(parseInteger("-"));
}

TEST(CommandLineTest, ControlCommands) {
  std::string error;
  auto ctl = parseControlOptions({"set", "brightness", "10"}, &error);
  ASSERT_TRUE(ctl) << error;
  EXPECT_EQ(ctl->id, "cam0");
  EXPECT_EQ(ctl->line, "set brightness 10");
  ctl = parseControlOptions({"--id", "desk", "unplug"}, &error);
  ASSERT_TRUE(ctl);
  EXPECT_EQ(ctl->id, "desk");
  EXPECT_EQ(ctl->line, "unplug");
  EXPECT_FALSE(parseControlOptions({"set", "brightness"}, &error));
  EXPECT_EQ(error, "set takes 2 argument(s)");
  EXPECT_FALSE(parseControlOptions({"explode"}, &error));
  EXPECT_EQ(error, "unknown command 'explode'");
  EXPECT_FALSE(parseControlOptions({}, &error));

  // call-app runs in the ctl program: its options are its own, its defaults those documented.
  ctl = parseControlOptions({"--id", "desk", "call-app", "--hold-ms", "600000", "--timing"}, &error);
  ASSERT_TRUE(ctl && ctl->callApp) << error;
  EXPECT_EQ(ctl->id, "desk");
  EXPECT_EQ(ctl->callApp->afterMs, 50);
  EXPECT_EQ(ctl->callApp->holdMs, 600000);
  EXPECT_TRUE(ctl->callApp->timing);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"call-app", "--after-ms"}, {"call-app", "--after-ms", "10001"}, {"call-app", "--hold-ms", "-1"},
           {"call-app", "--hold-ms", "1.5"}, {"call-app", "--ring"}}) {
    EXPECT_FALSE(parseControlOptions(bad, &error)) << bad.back();
  }
}

TEST(CommandLineTest, Hex) {
  EXPECT_EQ(parseHex("0x0aFF"), (std::vector<std::uint8_t>{0x0a, 0xff}));
  EXPECT_EQ(parseHex("0a:ff"), (std::vector<std::uint8_t>{0x0a, 0xff}));
  EXPECT_FALSE(parseHex("0g"));
  EXPECT_FALSE(parseHex("abc"));
}

}  // namespace
}  // namespace velto::sim
