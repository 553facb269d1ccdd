// The one-record-at-a-time type list agrees with the array form.
#include <gtest/gtest.h>

#include <cstring>

#include "typerecovery.h"

namespace {

uint32_t Found(uintptr_t, uint32_t folder, uint32_t*, const char16_t*, uint64_t, uint64_t,
               uint32_t, const tag_PictureInfo*) {
  return folder;
}

TEST(SupportedTypes, EachIndexGivesTheArrayRecordAndThePastTheEndIndexGivesNothing) {
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(1, Found, nullptr);
  ASSERT_NE(m, nullptr);
  CDynArray<tag_FileTypeProperty> all;
  const uint32_t count = TypeRecovery_GetAllSupportedFileTypes(m, &all);
  ASSERT_EQ(count, 142u);
  for (uint32_t i = 0; i < count; ++i) {
    tag_FileTypeProperty record;
    std::memset(&record, 0xAB, sizeof record);
    ASSERT_EQ(TypeRecovery_GetSupportedFileType(m, i, &record), 1u) << i;
    const tag_FileTypeProperty expected = all.GetAt(static_cast<long>(i));
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0) << i;
  }
  tag_FileTypeProperty record{};
  EXPECT_EQ(TypeRecovery_GetSupportedFileType(m, count, &record), 0u);
  EXPECT_EQ(TypeRecovery_GetSupportedFileType(m, 0, nullptr), 0u);
  EXPECT_EQ(TypeRecovery_GetSupportedFileType(nullptr, 0, &record), 0u);
  TypeRecovery_CloseManager(m);
}

}  // namespace
