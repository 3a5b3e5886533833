#include "MessageOf.h"
#include "QtPrinters.h"
#include "RecArrays.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TRec {
  int32_t A;
  int32_t B;
};

class RecArray : public testing::Test {
 protected:
  void SetUp() override { Array.Init(sizeof(TRec)); }
  void TearDown() override { Array.Clear(); }
  TRecArray Array;
};

}  // namespace

TEST_F(RecArray, GrowsByFourThenSixteenThenAQuarter) {
  std::vector<int32_t> capacities;
  for (int i = 0; i < 100; ++i) {
    TRec r{i, -i};
    Array.Add(&r);
    if (capacities.empty() || capacities.back() != Array.Capacity)
      capacities.push_back(Array.Capacity);
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118}));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(static_cast<TRec*>(Array.GetPtr(i))->A, i);
}

TEST_F(RecArray, AddRecsAllocatesExactlyAndInsertKeepsOrder) {
  TRec recs[10];
  for (int i = 0; i < 10; ++i) recs[i] = {i, 0};
  Array.AddRecs(recs, 10);
  EXPECT_EQ(Array.Capacity, 10);
  TRec extra{99, 0};
  Array.InsertRecs(Array.Count, &extra, 1);  // at Count: appends
  EXPECT_EQ(static_cast<TRec*>(Array.GetPtr(10))->A, 99);
  Array.Insert(0, &extra);
  EXPECT_EQ(static_cast<TRec*>(Array.GetPtr(0))->A, 99);
  EXPECT_EQ(static_cast<TRec*>(Array.GetPtr(1))->A, 0);
  Array.Delete(0);
  EXPECT_EQ(static_cast<TRec*>(Array.GetPtr(0))->A, 0);
  const int32_t capacity = Array.Capacity;
  Array.DeleteRecs(0, Array.Count);
  EXPECT_EQ(Array.Count, 0);
  EXPECT_EQ(Array.Capacity, capacity);
}

TEST_F(RecArray, NewStorageIsZeroFilled) {
  Array.SetCapacity(8);
  const auto* bytes = static_cast<const unsigned char*>(Array.Items);
  for (size_t i = 0; i < 8 * sizeof(TRec); ++i) ASSERT_EQ(bytes[i], 0);
}

TEST_F(RecArray, BadIndicesFailWithTheirMessagesAndChangeNothing) {
  EXPECT_EQ(MessageOf([&] { Array.GetPtr(0); }),
            QStringLiteral("Индекс массива 0 выходит за пределы [0, -1] (TRecArray.GetPtr)"));
  TRec r{1, 2};
  Array.Add(&r);
  Array.Add(&r);
  EXPECT_EQ(MessageOf([&] { Array.GetPtr(2); }),
            QStringLiteral("Индекс массива 2 выходит за пределы [0, 1] (TRecArray.GetPtr)"));
  EXPECT_EQ(MessageOf([&] { Array.InsertRecs(3, &r, 1); }),
            QStringLiteral("Индекс массива выходит за пределы (TRecArray.InsertRecs)"));
  EXPECT_EQ(MessageOf([&] { Array.Insert(-1, &r); }),
            QStringLiteral("Индекс массива выходит за пределы (TRecArray.InsertRecs)"));
  EXPECT_EQ(MessageOf([&] { Array.DeleteRecs(1, 2); }),
            QStringLiteral("Индекс массива выходит за пределы (TRecArray.DeleteRecs)"));
  EXPECT_EQ(Array.Count, 2);
  TRecArray other;
  other.Init(3);
  EXPECT_EQ(MessageOf([&] { Array.Assign(other); }),
            QStringLiteral("Не совпадает размер элемента (TRecArray.Assign)"));
  EXPECT_EQ(Array.Count, 2);
}

TEST_F(RecArray, AssignCopiesAndNeverShrinks) {
  TRec r{5, 6};
  for (int i = 0; i < 20; ++i) Array.Add(&r);
  TRecArray small;
  small.Init(sizeof(TRec));
  TRec s{7, 8};
  small.Add(&s);
  const int32_t capacity = Array.Capacity;
  Array.Assign(small);
  EXPECT_EQ(Array.Count, 1);
  EXPECT_EQ(Array.Capacity, capacity);
  EXPECT_EQ(static_cast<TRec*>(Array.GetPtr(0))->B, 8);
  small.Clear();
}

TEST(InternalErrors, ComposeTheirMessage) {
  EXPECT_EQ(EInternal("TRecArray", "x").Message(),
            QStringLiteral("Внутренняя ошибка: x (TRecArray)"));
  EXPECT_THROW(CheckInternal(false, "L", "m"), EInternal);
  EXPECT_NO_THROW(CheckInternal(true, "L", "m"));
  try {
    RaiseInternalFmt("OpenRasterFile", "файл %s", {QStringLiteral("a.xyz")});
    FAIL();
  } catch (const EInternal& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Внутренняя ошибка: файл a.xyz (OpenRasterFile)"));
  }
}

TEST(BinarySearch, FindsTheFirstEqualOrTheInsertionPoint) {
  const std::vector<int> keys{1, 3, 3, 5};
  auto search = [&](int sought, int& index) {
    return BinarySearchList(
        keys, [sought](int key) { return key - sought; }, index);
  };
  int index = -1;
  EXPECT_TRUE(search(3, index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(search(4, index));
  EXPECT_EQ(index, 3);
  EXPECT_FALSE(search(0, index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(search(9, index));
  EXPECT_EQ(index, 4);
  const std::vector<int> empty;
  EXPECT_FALSE(BinarySearchList(
      empty, [](int) { return 0; }, index));
  EXPECT_EQ(index, 0);
}

TEST(BinarySearch, UsesTheKeyFunction) {
  const std::vector<std::pair<int, const char*>> items{{1, "a"}, {4, "b"}, {9, "c"}};
  int index = -1;
  EXPECT_TRUE(BinarySearchList(
      items, [](const auto& item) { return item.first; }, [](int key) { return key - 4; }, index));
  EXPECT_EQ(index, 1);
}

TEST(StrToFloatAnySep, ReadsDotAndCommaUnderEitherLocale) {
  const QLocale saved;
  for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates),
                                QLocale(QLocale::Russian, QLocale::Russia), QLocale::c()}) {
    QLocale::setDefault(locale);
    EXPECT_DOUBLE_EQ(StrToFloatAnySep("2,5"), 2.5) << locale.name().toStdString();
    EXPECT_DOUBLE_EQ(StrToFloatAnySep("2.5"), 2.5) << locale.name().toStdString();
    EXPECT_DOUBLE_EQ(StrToFloatAnySep("-0,25"), -0.25);
    EXPECT_THROW(StrToFloatAnySep("2,5,1"), EConvertError);
    EXPECT_THROW(StrToFloatAnySep("abc"), EConvertError);
  }
  QLocale::setDefault(saved);
}

TEST(RectHelpers, InflateAndInclude) {
  const TRect r{10, 20, 30, 40};
  EXPECT_TRUE(SameRect(InflatedRect(r, 2, -3), TRect{8, 23, 32, 37}));
  TRect grown = r;
  IncludePoint(grown, TPoint{5, 50});
  EXPECT_TRUE(SameRect(grown, TRect{5, 20, 30, 50}));
  EXPECT_FALSE(SameRect(r, grown));
  EXPECT_EQ(IfThen(true, 1, 2), 1);
  EXPECT_EQ(IfThen(false, 1, 2), 2);
}

TEST(CompareBytes, ComparesUnsigned) {
  const unsigned char a[] = {1, 2, 200};
  const unsigned char b[] = {1, 2, 100};
  EXPECT_EQ(CompareBytes(a, b, 3), 1);
  EXPECT_EQ(CompareBytes(b, a, 3), -1);
  EXPECT_EQ(CompareBytes(a, b, 2), 0);
}
