#include <gtest/gtest.h>

#include "typerecovery.h"

TEST(BaseArray, RemoveAtKeepsOrderOfLaterItems) {
  CDynArray<unsigned int> a;
  for (unsigned int i = 0; i < 20; ++i) a.Add(i);
  a.RemoveAt(3);
  ASSERT_EQ(a.GetCount(), 19);
  EXPECT_EQ(a.GetAt(2), 2u);
  EXPECT_EQ(a.GetAt(3), 4u);
  EXPECT_EQ(a.GetAt(18), 19u);
  a.InsertAt(0, 99);
  EXPECT_EQ(a.GetAt(0), 99u);
  EXPECT_EQ(a.GetAt(1), 0u);
  EXPECT_EQ(static_cast<unsigned int*>(a.GetData())[4], 4u);
  a.RemoveAll();
  EXPECT_EQ(a.GetCount(), 0);
  a.Add(5);
  EXPECT_EQ(a.GetAt(0), 5u);
}

TEST(BaseArray, ItemSizesOfTheInstantiations) {
  EXPECT_EQ(CDynArray<tag_FileTypeProperty>().GetItemSize(), 280);
  EXPECT_EQ(CDynArray<tag_StripToAnalyse>().GetItemSize(), 8);
  EXPECT_EQ(CDynArray<unsigned int>().GetItemSize(), 4);
  EXPECT_EQ(CDynArray<CTypeRecovery*>().GetItemSize(), static_cast<long>(sizeof(void*)));
}
