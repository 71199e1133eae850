// The point record and the indexed point list with its ownership flag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "points/Data_structures.h"

namespace zelv {
namespace {

// A point that tells when it is deleted.
class TrackedPoint : public VT_Point {
 public:
  TrackedPoint(double x, double y, int& deletions) : VT_Point(x, y), deletions_(deletions) {}
  ~TrackedPoint() override { ++deletions_; }

 private:
  int& deletions_;
};

struct RecordingCanvas : Canvas {
  struct Rect {
    int left, top, right, bottom;
    Colour colour;
  };
  void FillRectangle(int left, int top, int right, int bottom, Colour colour) override {
    rects.push_back({left, top, right, bottom, colour});
  }
  std::vector<Rect> rects;
};

std::string ErrorOf(void (*action)()) {
  try {
    action();
  } catch (const ZelvError& error) {
    return error.what();
  }
  return "no error";
}

TEST(PointListTest, GetOutsideTheListRaisesIndexOutOfBounds) {
  VT_Points list(1);
  EXPECT_EQ(ErrorOf([] { VT_Points(1).Get(0); }), "Index out of bounds ListOfT::Get");
  list.Add(new VT_Point(1, 2));
  list.Add(new VT_Point(3, 4));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Get(1)->x, 3.0);
  for (int index : {-1, 2, 1000}) {
    try {
      list.Get(index);
      ADD_FAILURE() << "index " << index << " was accepted";
    } catch (const ZelvError& error) {
      EXPECT_STREQ(error.what(), "Index out of bounds ListOfT::Get");
    }
  }
}

TEST(PointListTest, OnlyOwnershipValuesZeroAndOneMakeAList) {
  EXPECT_EQ(ErrorOf([] { VT_Points list(2); }), "Wrong parameter transferred to ListOfT::ListOfT");
  EXPECT_EQ(ErrorOf([] { VT_Points list(-1); }), "Wrong parameter transferred to ListOfT::ListOfT");
  EXPECT_EQ(VT_Points(0).ownsItems, 0);
  EXPECT_EQ(VT_Points(1).ownsItems, 1);
}

TEST(PointListTest, AnOwningListDeletesItsPointsInClearAndWhenDestroyed) {
  int deletions = 0;
  {
    VT_Points list(1);
    list.Add(new TrackedPoint(1, 1, deletions));
    list.Add(new TrackedPoint(2, 2, deletions));
    list.Clear();
    EXPECT_EQ(deletions, 2);
    EXPECT_EQ(list.Count(), 0);
    list.Add(new TrackedPoint(3, 3, deletions));
  }
  EXPECT_EQ(deletions, 3);
}

TEST(PointListTest, ANonOwningListLeavesItsPointsAlive) {
  int deletions = 0;
  TrackedPoint a(1, 1, deletions);
  TrackedPoint b(2, 2, deletions);
  {
    VT_Points list(0);
    list.Add(&a);
    list.Add(&b);
    EXPECT_EQ(list.Get(0), &a);  // the pointer itself, no copy
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    list.Add(&a);
  }
  EXPECT_EQ(deletions, 0);
}

// The reader's points live in the list's blocks, mixed with points added from outside: each ends
// exactly once, the added ones only when the list owns them, and no point moves when the list
// grows.
TEST(PointListTest, EmplacedPointsEndWithTheListAndMixWithAddedOnes) {
  int deletions = 0;
  TrackedPoint outside(-1, -1, deletions);
  {
    ListOfT<TrackedPoint> list(0);
    list.Add(&outside);
    const TrackedPoint* first = list.Emplace(0.5, 0.25, deletions);
    for (int i = 1; i < 100; ++i) list.Emplace(i, -i, deletions);
    list.Add(&outside);
    EXPECT_EQ(list.Count(), 102);
    EXPECT_EQ(list.Get(1), first);
    EXPECT_EQ(first->x, 0.5);
    EXPECT_EQ(list.Get(100)->y, -99.0);
    EXPECT_EQ(list.Get(101), &outside);
    list.Clear();
    EXPECT_EQ(deletions, 100);
    list.Emplace(7, 7, deletions);
  }
  EXPECT_EQ(deletions, 101);
  {
    ListOfT<TrackedPoint> owning(1);
    for (int i = 0; i < 40; ++i) {
      if (i % 3 == 0)
        owning.Add(new TrackedPoint(i, i, deletions));
      else
        owning.Emplace(i, i, deletions);
    }
    for (int i = 0; i < 40; ++i) EXPECT_EQ(owning.Get(i)->x, i);
  }
  EXPECT_EQ(deletions, 141);
}

TEST(PointRecordTest, APointIsItsOwnExtentAndCopiesOnlyItsCoordinates) {
  VT_Point point(1.5, -2.0);
  EXPECT_EQ(point.GetMaxX(), 1.5);
  EXPECT_EQ(point.GetMinX(), 1.5);
  EXPECT_EQ(point.GetMaxY(), -2.0);
  EXPECT_EQ(point.GetMinY(), -2.0);
  point.color = 0x0000FF;
  const VT_Point copy(point);
  EXPECT_EQ(copy.x, 1.5);
  EXPECT_EQ(copy.y, -2.0);
  EXPECT_EQ(copy.color, 0u);
  const TPoint3 centre(1, 2, 3);
  EXPECT_EQ(centre.z, 3.0);
}

TEST(PointRecordTest, DrawFillsOneCellWithRowsAlongXAndColumnsAlongY) {
  VT_Point point(2.5, -1.5);
  point.color = 0x00FF00;
  RecordingCanvas canvas;
  point.Draw(canvas, 1, -3, 2.0, 10.0);
  ASSERT_EQ(canvas.rects.size(), 1u);
  const auto& r = canvas.rects[0];
  EXPECT_EQ(r.left, 15);   // trunc(10 * (-1.5 + 3))
  EXPECT_EQ(r.top, 3);     // trunc(2 * (2.5 - 1))
  EXPECT_EQ(r.right, 25);  // trunc(10 * (-1.5 + 3 + 1))
  EXPECT_EQ(r.bottom, 5);  // trunc(2 * (2.5 - 1 + 1))
  EXPECT_EQ(r.colour, 0x00FF00u);

  // Truncation goes toward zero for negative cells too.
  VT_Point negative(-0.75, -0.75);
  negative.Draw(canvas, 0, 0, 1.0, 1.0);
  EXPECT_EQ(canvas.rects[1].left, 0);
  EXPECT_EQ(canvas.rects[1].top, 0);
}

}  // namespace
}  // namespace zelv
