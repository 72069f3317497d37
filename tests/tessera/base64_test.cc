#include "tessera/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/authoring.h"

namespace ko::tessera {
namespace {

std::string refusal(const std::string& text) {
  std::vector<uint8_t> out{9, 9};
  std::string error;
  if (decodeBase64Strict(text, out, error)) return "<decoded>";
  EXPECT_TRUE(out.empty());
  return error;
}

TEST(Base64Strict, DecodesCanonicalText) {
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(decodeBase64Strict("QQ==", out, error));
  EXPECT_EQ(out, std::vector<uint8_t>{0x41});
  ASSERT_TRUE(decodeBase64Strict("", out, error));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(decodeBase64Strict("+/+/", out, error));
  EXPECT_EQ(out, (std::vector<uint8_t>{0xfb, 0xff, 0xbf}));
  std::vector<uint8_t> bytes;
  for (int length = 0; length < 70; ++length) {
    ASSERT_TRUE(decodeBase64Strict(test::base64Encode(bytes), out, error)) << length << ": " << error;
    EXPECT_EQ(out, bytes);
    bytes.push_back(static_cast<uint8_t>(length * 37 + 11));
  }
}

TEST(Base64Strict, Refusals) {
  EXPECT_EQ(refusal("QQ=="), "<decoded>");
  EXPECT_EQ(refusal("QR=="), "base64 tail carries non-zero padding bits (not canonical)");
  EXPECT_EQ(refusal("QUJ="), "base64 tail carries non-zero padding bits (not canonical)");
  EXPECT_EQ(refusal("QUI="), "<decoded>");
  EXPECT_EQ(refusal("QUJDR"), "base64 length 5 is not a multiple of 4");
  EXPECT_EQ(refusal("Q"), "base64 length 1 is not a multiple of 4");
  EXPECT_EQ(refusal("QU-D"), "base64 carries a byte outside the standard alphabet at 2");
  EXPECT_EQ(refusal("QUJD QQ="), "base64 carries a byte outside the standard alphabet at 4");
  EXPECT_EQ(refusal("QUJDQU_D"), "base64 carries a byte outside the standard alphabet at 6");
  EXPECT_EQ(refusal(std::string("QU\0D", 4)), "base64 carries a byte outside the standard alphabet at 2");
  EXPECT_EQ(refusal("Q=JD"), "base64 carries a byte outside the standard alphabet at 1");
  EXPECT_EQ(refusal("QQ==QUJD"), "base64 carries a byte outside the standard alphabet at 2");
  EXPECT_EQ(refusal("===="), "base64 carries a byte outside the standard alphabet at 0");
  EXPECT_EQ(refusal("QQ=A"), "base64 padding is not at the end");
  EXPECT_EQ(refusal("QUJDQQ=A"), "base64 padding is not at the end");
}

}  // namespace
}  // namespace ko::tessera
