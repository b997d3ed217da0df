#include "uvc/camera_key.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace velto {
namespace {

TEST(CameraKey, JsonRoundTripsAndHexKeepsLeadingZeros) {
  const CameraKey c200{0x291A, 0x3369};
  EXPECT_EQ(c200.toJson(), R"({"vendorID":10522,"productID":13161})");
  EXPECT_EQ(CameraKey::fromJson(c200.toJson()), c200);
  EXPECT_EQ(c200.hexString(), "291a:3369");
  EXPECT_EQ((CameraKey{0x046d, 0x0825}).hexString(), "046d:0825");
  EXPECT_EQ(CameraKey::fromJson(R"( { "productID" : 2085, "name": "x\"y", "vendorID": 1133, "n": null } )"),
            (CameraKey{1133, 2085}));
}

TEST(CameraKey, RejectsMalformedJson) {
  for (const char* bad : {"", "{}", "[]", R"({"vendorID":1})", R"({"vendorID":1,"productID":65536})",
                          R"({"vendorID":-1,"productID":2})", R"({"vendorID":1.5,"productID":2})",
                          R"({"vendorID":1,"productID":2} trailing)", R"({"vendorID":1,"productID":2)",
                          R"({"vendorID":"1","productID":2})", R"({"vendorID":99999999999999999999,"productID":2})",
                          R"({"vendorID":1,"productID":{"x":1}})"}) {
    EXPECT_EQ(CameraKey::fromJson(bad), std::nullopt) << bad;
  }
}

TEST(CameraKey, EqualityAndHashUseBothFields) {
  std::unordered_set<CameraKey> keys{{1, 2}, {2, 1}, {1, 2}};
  EXPECT_EQ(keys.size(), 2u);
  EXPECT_NE((CameraKey{1, 2}), (CameraKey{2, 1}));
}

}  // namespace
}  // namespace velto
