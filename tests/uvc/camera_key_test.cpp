// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uvc/camera_key.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace velto {
namespace {

TEST(CameraKey, HexKeepsLeadingZeros) {
  EXPECT_EQ((CameraKey{0x291A, 0x3369}).hexString(), "291a:3369");
  EXPECT_EQ((CameraKey{0x046d, 0x0825}).hexString(), "046d:0825");
}

TEST(CameraKey, EqualityAndHashUseBothFields) {
  std::unordered_set<CameraKey> keys{{1, 2}, {2, 1}, {1, 2}};
  EXPECT_EQ(keys.size(), 2u);
  EXPECT_NE((CameraKey{1, 2}), (CameraKey{2, 1}));
}

}  // namespace
}  // namespace velto
