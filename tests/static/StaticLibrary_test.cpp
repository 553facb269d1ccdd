// The library linked from its static archive: the linker takes only the
// objects something names, so this checks that the registry's orders pull
// in every format without any object being named to it.
#include <gtest/gtest.h>

#include <cstdint>

#include "typerecovery.h"

namespace {

uint32_t TYPERECOVERY_CALL Ignore(uintptr_t, uint32_t, uint32_t*, const char16_t*, uint64_t, uint64_t,
                                  uint32_t, const tag_PictureInfo*) {
  return 0;
}

}  // namespace

TEST(StaticLibrary, KeepsEveryFormatClassAndItsHeaderCheck) {
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(1, Ignore, nullptr);
  ASSERT_NE(m, nullptr);
  CDynArray<tag_FileTypeProperty> types;
  EXPECT_EQ(TypeRecovery_GetAllSupportedFileTypes(m, &types), 142u);
  // The first code of each class carries the class's extension list.
  int classes = 0;
  for (long i = 0; i < types.GetCount(); ++i) classes += types.GetAt(i).extensions[0] != 0 ? 1 : 0;
  EXPECT_EQ(classes, 87);
  TypeRecovery_CloseManager(m);

  const uint8_t png[32] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(png, sizeof png, u"png"), 1);
}
