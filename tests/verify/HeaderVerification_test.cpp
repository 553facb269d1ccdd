#include <gtest/gtest.h>

#include <vector>

#include "support/TestSupport.h"
#include "typerecovery.h"

namespace {

using trtest::Bytes;

const std::vector<uint8_t> kJpeg = Bytes{0xFF, 0xD8, 0xFF, 0xE0}.U16BE(16).Text("JFIF").Zeros(30);
const std::vector<uint8_t> kPng = Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}.U32BE(13).Text("IHDR").Zeros(30);

int32_t Match(const std::vector<uint8_t>& buffer, const char16_t* extension) {
  return TypeRecovery_IsFileHeaderMatched(buffer.data(), static_cast<uint32_t>(buffer.size()),
                                          extension);
}

TEST(HeaderVerification, ExtensionFormsSelectTheSameRow) {
  for (const char16_t* e : {u".JPG", u"jpg", u"Jpg", u".jpeg", u"JPE"}) {
    EXPECT_EQ(Match(kJpeg, e), 1) << trtest::U8(e);
  }
  // Only one leading dot is skipped; the empty text and a lone dot name no
  // row, nor do prefixes and extensions of known names.
  for (const char16_t* e : {u"..jpg", u"", u".", u"jp", u"jpgx", u"jpg.", u"xyz"}) {
    EXPECT_EQ(Match(kJpeg, e), 0) << trtest::U8(e);
  }
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(kJpeg.data(), 40, nullptr), 0);
}

TEST(HeaderVerification, KnownExtensionThatRefusesTheBufferGivesMinusOne) {
  EXPECT_EQ(Match(kPng, u"jpg"), -1);
  // Too short for the recognizer's minimum, or no buffer at all.
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(kJpeg.data(), 16, u"jpg"), -1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(nullptr, 0, u"jpeg"), -1);
}

TEST(HeaderVerification, IsoExaminesEightByteWordsBeforeTheLast56Bytes) {
  std::vector<uint8_t> buffer(64 + 56, 0);
  EXPECT_EQ(Match(buffer, u"iso"), 1);
  for (size_t i = 64; i < buffer.size(); ++i) buffer[i] = 0xEE;  // the last 56 bytes
  EXPECT_EQ(Match(buffer, u".ISO"), 1);
  buffer[0] = 1;
  EXPECT_EQ(Match(buffer, u"iso"), -1);

  // The word at k is examined only while k + 64 <= length.
  std::vector<uint8_t> word8(72, 0);
  word8[8] = 1;
  EXPECT_EQ(Match(word8, u"iso"), -1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(word8.data(), 71, u"iso"), 1);
  // Shorter than 64 bytes: nothing is examined.
  std::vector<uint8_t> small(63, 0xFF);
  EXPECT_EQ(Match(small, u"iso"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(nullptr, 0, u"iso"), 1);
}

}  // namespace
