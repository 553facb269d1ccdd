// Type metadata is read from the library's records: families, groups,
// extension lookups and the resolution of --types and --max-size.
#include <gtest/gtest.h>

#include <algorithm>

#include "Text.h"
#include "TypeCatalog.h"

using namespace trcli;

namespace {

tag_FileTypeProperty Record(uint32_t code, const char* extensions, uint64_t max = UINT64_MAX) {
  tag_FileTypeProperty record{};
  record.typeCode = code;
  record.typePropertyFlag = max != UINT64_MAX;
  record.alwaysOne = 1;
  record.defaultMaxFileSize = max;
  std::u16string wide = Utf8ToUtf16(extensions);
  std::copy(wide.begin(), wide.end(), record.extensions);
  return record;
}

// JPEG, a four-code family whose extension list follows its codes, a family
// whose list does not, and a class that shares the extension "dat".
TypeCatalog SmallCatalog() {
  return TypeCatalog({Record(513, ".jpg;.jpe;.jpeg", 64u << 20), Record(1025, ".avi;.wav;.dat;.ani"),
                      Record(770, ""), Record(1037, ""), Record(1566, ""),
                      Record(2305, ".ole2;.doc;.wps;.xls"), Record(260, ""), Record(262, ""),
                      Record(1284, ".dat")});
}

}  // namespace

TEST(CliTypeCatalog, FamiliesGroupsAndExtensionsComeFromTheRecords) {
  TypeCatalog catalog = SmallCatalog();
  ASSERT_EQ(catalog.Types().size(), 9u);
  EXPECT_EQ(catalog.Find(770)->familyCode, 1025u);
  EXPECT_EQ(catalog.Find(770)->ownExtension, "wav");
  EXPECT_TRUE(catalog.Find(260)->ownExtension.empty());
  EXPECT_EQ(catalog.FamilyCodes(2305), (std::vector<uint32_t>{2305, 260, 262}));
  EXPECT_STREQ(TypeCatalog::GroupName(770), "audio");
  EXPECT_STREQ(TypeCatalog::GroupName(0x0A01), "unknown");
  // Pictures the library files under graphics are photos to the tool.
  for (uint32_t picture : {1537u, 1538u, 1539u}) EXPECT_STREQ(TypeCatalog::GroupName(picture), "photos");
  EXPECT_STREQ(TypeCatalog::GroupName(1541), "graphics");
  EXPECT_EQ(TypeCatalog::GroupFromName("Graphics"), 6u);
  const std::pair<const char*, uint32_t> kCodes[] = {
      {"JPEG", 513}, {"wav", 770}, {"doc", 260}, {"ole2", 2305}, {".dat", 1037}, {"zip", 0}};
  for (const auto& [extension, code] : kCodes) EXPECT_EQ(catalog.CodeForExtension(extension), code) << extension;
}

TEST(CliTypeCatalog, SelectionAndMaximaInLibraryOrderAndBadTokensRefused) {
  TypeCatalog catalog = SmallCatalog();
  TypeSelection selection;
  std::string error;
  ASSERT_TRUE(ResolveSelection(catalog, {"all"}, {}, &selection, &error));
  EXPECT_TRUE(selection.useAddAll);
  // Every kind: each multi-code family's own code is switched on after the
  // library's list, which leaves some off; "library-default" keeps that list.
  std::vector<uint32_t> kinds;
  for (const auto& kind : selection.kindsAfterAddAll) kinds.push_back(kind.first);
  EXPECT_EQ(kinds, (std::vector<uint32_t>{1025, 2305}));
  ASSERT_TRUE(ResolveSelection(catalog, {"library-default"}, {}, &selection, &error));
  EXPECT_TRUE(selection.useAddAll);
  EXPECT_TRUE(selection.kindsAfterAddAll.empty());
  // One kind of a family: that kind alone.
  ASSERT_TRUE(ResolveSelection(catalog, {"wav"}, {}, &selection, &error));
  EXPECT_EQ(selection.Codes(catalog), (std::vector<uint32_t>{770}));
  ASSERT_TRUE(ResolveSelection(catalog, {"doc,0x201", "audio"}, {}, &selection, &error)) << error;
  EXPECT_FALSE(selection.useAddAll);
  EXPECT_EQ(selection.Codes(catalog), (std::vector<uint32_t>{513, 770, 260}));  // doc: that kind alone
  EXPECT_EQ(selection.additions[0].second, 64u << 20);  // the type's default maximum
  ASSERT_TRUE(ResolveSelection(catalog, {"dat"}, {}, &selection, &error));  // two types' own
  EXPECT_EQ(selection.Codes(catalog), (std::vector<uint32_t>{1037, 1284}));
  ASSERT_TRUE(ResolveSelection(catalog, {}, {"jpg=1M"}, &selection, &error)) << error;
  EXPECT_FALSE(selection.useAddAll);  // maxima need one AddType per code
  EXPECT_EQ(selection.additions.size(), 9u);
  EXPECT_EQ(selection.additions[0], std::make_pair(513u, uint64_t{1} << 20));

  const std::pair<std::vector<std::string>, std::vector<std::string>> kBad[] = {
      {{"xyz"}, {}}, {{"999"}, {}}, {{"mail"}, {}}, {{"jpg"}, {"wav=1M"}}, {{}, {"jpg"}}, {{}, {"jpg=lots"}}};
  for (const auto& [types, maxima] : kBad)
    EXPECT_FALSE(ResolveSelection(catalog, types, maxima, &selection, &error)) << error;
  ResolveSelection(catalog, {"xyz"}, {}, &selection, &error);
  EXPECT_NE(error.find("xyz"), std::string::npos);
}
