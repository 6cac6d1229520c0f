// Mouse slide: history, release speed and the computed slide.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "app/mouse_slide.h"
#include "numerics/one_based.h"
#include "platform/system.h"

namespace tarmic {
namespace {

class MouseSlideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMouseSlide();
    bMouseSlidingOff = false;
    SetClockOverride([this] { return now_; });
  }
  void TearDown() override {
    SetClockOverride(nullptr);
    ResetMouseSlide();
  }
  // Records (time in ms, x) pairs as a drag would.
  void Drag(std::initializer_list<std::pair<std::int64_t, int>> records) {
    ResetMouseSlideHistory();
    for (const auto& [ms, x] : records) {
      now_ = ms;
      const Point p{x, 100};
      RecordMouseSlidePoint(&p);
    }
  }
  // A drag at the given speed (pixels per second), 10 ms per record.
  void DragAt(float speed) {
    ResetMouseSlideHistory();
    for (int i = 0; i < 4; ++i) {
      now_ = 10 * i;
      const Point p{static_cast<int>(std::lround(speed * 0.01f * static_cast<float>(i))), 0};
      RecordMouseSlidePoint(&p);
    }
  }

  std::int64_t now_ = 0;
};

// A slide path, released on destruction.
struct Path {
  ~Path() {
    if (positions) free_ivector(positions, 1, count);
    if (steps) free_vector(steps, 1, count);
  }
  int* positions = nullptr;
  float* steps = nullptr;
  int count = -1;
};

TEST_F(MouseSlideTest, SpeedFollowsAnAcceleratingDragToItsEnd) {
  // x = 1000 t + 5000 t^2: the speed at t = 0.04 s is 1000 + 2 * 5000 * 0.04 = 1400.
  Drag({{0, 0}, {10, 10}, {20, 22}, {30, 34}, {40, 48}});
  const float expected = 1400.0f;
  EXPECT_NEAR(CalculateMouseSlideSpeed(), expected, 60.0f);
}

// One record, equal time stamps, or a rest before the release.
TEST_F(MouseSlideTest, DragsWithoutSpeedGiveNoPath) {
  Drag({{0, 100}});
  EXPECT_EQ(CalculateMouseSlideSpeed(), 0.0f);
  Drag({{50, 100}, {50, 140}, {50, 180}});
  EXPECT_EQ(CalculateMouseSlideSpeed(), 0.0f);  // not NaN
  Path path;
  EXPECT_FALSE(CalculateMouseSlidePath(&path.positions, &path.steps, &path.count, 0, 2000, 500));
  EXPECT_EQ(path.positions, nullptr);
  EXPECT_EQ(path.steps, nullptr);
  EXPECT_EQ(path.count, 0);
  Drag({{0, 100}, {10, 110}, {20, 120}, {420, 130}});
  EXPECT_EQ(CalculateMouseSlideSpeed(), 0.0f);
}

TEST_F(MouseSlideTest, TwoDistinctTimesGiveTheStraightLineSpeed) {
  Drag({{0, 100}, {10, 110}});
  EXPECT_NEAR(CalculateMouseSlideSpeed(), 1000.0f, 0.01f);
  // The release in the same millisecond as the last move.
  Drag({{0, 100}, {10, 110}, {10, 110}});
  EXPECT_NEAR(CalculateMouseSlideSpeed(), 1000.0f, 0.01f);
}

TEST_F(MouseSlideTest, NinthRecordDropsTheOldest) {
  // Records every 10 ms moving 1 px per ms, the oldest far off the line: only
  // when it is dropped is the speed 1000 px/s.
  Drag({{0, 500}, {10, 10}, {20, 20}, {30, 30}, {40, 40}, {50, 50}, {60, 60}, {70, 70}, {80, 80}});
  EXPECT_NEAR(CalculateMouseSlideSpeed(), 1000.0f, 0.01f);
}

TEST_F(MouseSlideTest, FreeSlideRoundsEveryStepUpToWholePixels) {
  DragAt(1000.0f);
  Path path;
  ASSERT_TRUE(CalculateMouseSlidePath(&path.positions, &path.steps, &path.count, 0, 2000, 500));
  EXPECT_EQ(path.positions[1], 500);
  EXPECT_EQ(path.steps[1], 0.0f);
  EXPECT_EQ(path.positions[path.count], 800);
  EXPECT_EQ(path.count, 101);  // 100 steps of 5 ms after the start
  for (int k = 2; k <= path.count; ++k) {
    EXPECT_GE(path.positions[k], path.positions[k - 1]);
    EXPECT_LE(path.steps[k], 0.005f + 1e-7f);
  }
}

TEST_F(MouseSlideTest, SlideBouncesBackToTheLimitAndRestsThere) {
  DragAt(1000.0f);
  Path path;
  ASSERT_TRUE(CalculateMouseSlidePath(&path.positions, &path.steps, &path.count, 0, 2000, 1900));
  bool reached = false;
  for (int k = 1; k <= path.count; ++k) {
    EXPECT_LE(path.positions[k], 2000);
    EXPECT_GE(path.positions[k], 0);
    reached = reached || path.positions[k] == 2000;
  }
  EXPECT_TRUE(reached);
  EXPECT_LT(std::abs(path.positions[path.count] - 2000), 3);
}

TEST_F(MouseSlideTest, WithoutBouncingTheSlideComesBackFromTheLimitAndStops) {
  bMouseBouncing = false;
  DragAt(1000.0f);
  Path path;
  ASSERT_TRUE(CalculateMouseSlidePath(&path.positions, &path.steps, &path.count, 0, 2000, 1900));
  const int end = path.positions[path.count];
  EXPECT_LT(end, 2000);
  EXPECT_NEAR(end, 2000 - 105, 3);
}

TEST_F(MouseSlideTest, WildSpeedGivesABoundedPath) {
  Drag({{0, 0}, {1, 3000000}});
  Path path;
  ASSERT_TRUE(CalculateMouseSlidePath(&path.positions, &path.steps, &path.count, 0, 2000, 10));
  EXPECT_LE(path.count, 40001);
  for (int k = 1; k <= path.count; ++k) {
    EXPECT_GE(path.positions[k], 0);
    EXPECT_LE(path.positions[k], 2000);
  }
}

}  // namespace
}  // namespace tarmic
