#include <gtest/gtest.h>

#include <set>

#include "interface/Manager.h"
#include "registry/RecognizerFactory.h"
#include "support/TestSupport.h"

using typerecovery::FormatDescriptor;

namespace {

std::vector<uint32_t> AllCodesInTableOrder() {
  size_t count = 0;
  const FormatDescriptor* const* rows = typerecovery::RegisteredFormats(&count);
  std::vector<uint32_t> codes;
  for (size_t i = 0; i < count; ++i) {
    for (const uint32_t* c = rows[i]->codes; *c != 0; ++c) codes.push_back(*c);
  }
  return codes;
}

}  // namespace

TEST(Registry, TableHolds142DistinctCodesIn87ClassesInListOrder) {
  size_t count = 0;
  typerecovery::RegisteredFormats(&count);
  EXPECT_EQ(count, 87u);
  std::vector<uint32_t> codes = AllCodesInTableOrder();
  ASSERT_EQ(codes.size(), 142u);
  EXPECT_EQ(std::set<uint32_t>(codes.begin(), codes.end()).size(), 142u);
  const std::vector<uint32_t> expectedStart = {513, 1565, 1563, 1537, 1564, 771, 2305, 260};
  EXPECT_TRUE(std::equal(expectedStart.begin(), expectedStart.end(), codes.begin()));
  const std::vector<uint32_t> expectedEnd = {525, 1042, 1033, 1029, 780};
  EXPECT_TRUE(std::equal(expectedEnd.rbegin(), expectedEnd.rend(), codes.rbegin()));
  for (uint32_t code : codes) {
    const uint32_t group = code >> 8;
    EXPECT_GE(group, 1u);
    EXPECT_LE(group, 9u);
  }
}

TEST(Registry, AddAllOrderNamesEveryClassOnce) {
  size_t rows = 0, order = 0;
  typerecovery::RegisteredFormats(&rows);
  const FormatDescriptor* const* names = typerecovery::AddAllTypesOrder(&order);
  ASSERT_EQ(order, rows);
  EXPECT_EQ(std::set<const FormatDescriptor*>(names, names + order).size(), rows);
  EXPECT_STREQ(names[0]->className, "CTypeRecoveryJPG");
  EXPECT_STREQ(names[14]->className, "CTypeRecoveryDWG");  // DWG comes before CDR here
  EXPECT_STREQ(names[15]->className, "CTypeRecoveryCDR");
}

TEST(Registry, SupportedTypesAreAppendedPerBuiltClassInTableOrder) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  CDynArray<tag_FileTypeProperty> types;
  tag_FileTypeProperty existing{};
  for (int i = 0; i < 3; ++i) types.Add(existing);
  const uint32_t n = TypeRecovery_GetAllSupportedFileTypes(m, &types);
  EXPECT_EQ(n, static_cast<uint32_t>(types.GetCount()));

  // Expected: the codes of every class that is built, in table order.
  size_t count = 0;
  const FormatDescriptor* const* rows = typerecovery::RegisteredFormats(&count);
  std::vector<uint32_t> expected;
  for (size_t i = 0; i < count; ++i) {
    for (const uint32_t* c = rows[i]->codes; *c != 0; ++c) expected.push_back(*c);
  }
  ASSERT_EQ(n, 3 + expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    tag_FileTypeProperty r = types.GetAt(static_cast<long>(3 + i));
    EXPECT_EQ(r.typeCode, expected[i]);
    EXPECT_EQ(r.reserved, 0u);
    EXPECT_EQ(r.alwaysOne, 1u);
    EXPECT_EQ(r.typePropertyFlag, r.defaultMaxFileSize != ~uint64_t{0} ? 1u : 0u) << r.typeCode;
  }
  // types.GetAt(3) is the first class's record: JPEG.
  tag_FileTypeProperty jpg = types.GetAt(3);
  EXPECT_EQ(jpg.defaultMaxFileSize, 64u << 20);
  EXPECT_EQ(trtest::U8(jpg.extensions), ".jpg;.jpe;.jpeg");
  EXPECT_EQ(TypeRecovery_GetAllSupportedFileTypes(m, nullptr), 0u);
  TypeRecovery_CloseManager(m);
}

TEST(Registry, UnknownCodesAddNothing) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, 0, 1);
  TypeRecovery_AddType(m, 512, 1);
  TypeRecovery_AddType(m, 9999, 1);
  EXPECT_EQ(m->m_prototypes.GetCount(), 0);
  TypeRecovery_CloseManager(m);
}
