#include "camera/face_tracking_stabilizer.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vantisol {
namespace {

constexpr int64_t kSecond = 1000000000;

FaceData Face(int x, int y, int depth = 600) {
  FaceData face;
  face.rect = {x, y, 100, 100};
  face.average_depth = depth;
  return face;
}

TEST(FaceTrackingStabilizer, KeepsTheStableIdWhenTheRuntimeRenamesAFace) {
  test::LogCapture log;
  FaceTrackingStabilizer stabilizer(7.5f);
  auto out = stabilizer.Stabilize({{3, Face(100, 100)}}, 0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(log.Count("Found new face: 3"), 1);
  out = stabilizer.Stabilize({{5, Face(104, 101)}}, kSecond / 30);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_TRUE(out.count(3));
  EXPECT_EQ(out[3].rect.x, 104);
  EXPECT_FALSE(out[3].not_seen);
  EXPECT_EQ(log.Count("Face changed id from 3 to 5"), 1);
  // The renamed face keeps matching under its new runtime id.
  out = stabilizer.Stabilize({{5, Face(110, 101)}}, 2 * kSecond / 30);
  ASSERT_TRUE(out.count(3));
  EXPECT_EQ(out[3].rect.x, 110);
  EXPECT_EQ(log.Count("Face changed id from 3 to 5"), 1);
}

TEST(FaceTrackingStabilizer, TwoNewFacesAndOneUnseenRecord) {
  FaceTrackingStabilizer stabilizer(7.5f);
  stabilizer.Stabilize({{1, Face(100, 100)}}, 0);
  // Face 8 is nearer to the record, but face 7 comes first and takes it.
  auto out = stabilizer.Stabilize({{7, Face(300, 100)}, {8, Face(110, 100)}}, kSecond);
  ASSERT_EQ(out.size(), 2u);
  ASSERT_TRUE(out.count(1));
  ASSERT_TRUE(out.count(8));
  EXPECT_EQ(out[1].rect.x, 300);
  EXPECT_EQ(out[8].rect.x, 110);
  EXPECT_FALSE(out[1].not_seen);
  EXPECT_FALSE(out[8].not_seen);
}

TEST(FaceTrackingStabilizer, KeepsALostFaceUntilTheTimeout) {
  FaceTrackingStabilizer stabilizer(7.5f);
  FaceData face = Face(50, 60);
  face.landmarks.resize(3);
  stabilizer.Stabilize({{2, face}}, 0);
  auto out = stabilizer.Stabilize({}, 7 * kSecond);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(out[2].not_seen);
  EXPECT_EQ(out[2].rect.x, 50);
  EXPECT_EQ(out[2].landmarks.size(), 3u);
  out = stabilizer.Stabilize({}, 7 * kSecond + kSecond / 2);
  EXPECT_EQ(out.size(), 1u);  // exactly the timeout is not past it
  out = stabilizer.Stabilize({}, 7 * kSecond + kSecond / 2 + 1000);
  EXPECT_TRUE(out.empty());
}

TEST(FaceTrackingStabilizer, ADepthOfZeroKeepsTheKnownDepth) {
  FaceTrackingStabilizer stabilizer(7.5f);
  stabilizer.Stabilize({{4, Face(10, 10, 640)}}, 0);
  stabilizer.Stabilize({}, kSecond);
  auto out = stabilizer.Stabilize({{9, Face(12, 10, 0)}}, 2 * kSecond);
  ASSERT_TRUE(out.count(4));
  EXPECT_EQ(out[4].average_depth, 640);
  EXPECT_EQ(out[4].rect.x, 12);
  out = stabilizer.Stabilize({{9, Face(12, 10, 0)}}, 3 * kSecond);
  EXPECT_EQ(out[4].average_depth, 640);
}

TEST(FaceTrackingStabilizer, ReclaimsTheStableIdWhenTheRuntimeReturnsToIt) {
  FaceTrackingStabilizer stabilizer(7.5f);
  stabilizer.Stabilize({{3, Face(100, 100)}}, 0);
  stabilizer.Stabilize({{5, Face(100, 100)}}, 1);
  auto out = stabilizer.Stabilize({{3, Face(120, 100)}}, 2);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[3].rect.x, 120);
}

// Two people: the runtime renames both in one frame (the right one gets the lower new id, so it
// is placed first with both records free), and later, while they pass each other, returns to
// their first ids. Each person keeps the stable id the runtime first gave them throughout.
TEST(FaceTrackingStabilizer, TwoPeopleRenamedTogetherThenPassingEachOtherKeepTheirIds) {
  test::LogCapture log;
  FaceTrackingStabilizer stabilizer(7.5f);
  const int64_t frame = kSecond / 30;
  stabilizer.Stabilize({{1, Face(100, 100)}, {2, Face(500, 100)}}, 0);
  // Renamed: 7 is the right person, 8 the left one.
  auto out = stabilizer.Stabilize({{7, Face(496, 100)}, {8, Face(104, 100)}}, frame);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].rect.x, 104);
  EXPECT_EQ(out[2].rect.x, 496);
  EXPECT_EQ(log.Count("Face changed id from 2 to 7"), 1);
  EXPECT_EQ(log.Count("Face changed id from 1 to 8"), 1);
  // Walking towards each other under the new ids.
  out = stabilizer.Stabilize({{7, Face(320, 100)}, {8, Face(280, 100)}}, 2 * frame);
  EXPECT_EQ(out[1].rect.x, 280);
  EXPECT_EQ(out[2].rect.x, 320);
  // Just past each other the runtime knows them by their first ids again; by position alone each
  // would now be nearer to the other one's record.
  out = stabilizer.Stabilize({{1, Face(330, 100)}, {2, Face(270, 100)}}, 3 * frame);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].rect.x, 330);
  EXPECT_EQ(out[2].rect.x, 270);
  EXPECT_FALSE(out[1].not_seen);
  EXPECT_FALSE(out[2].not_seen);
  // And they keep matching under those ids in the next frame.
  out = stabilizer.Stabilize({{1, Face(380, 100)}, {2, Face(220, 100)}}, 4 * frame);
  EXPECT_EQ(out[1].rect.x, 380);
  EXPECT_EQ(out[2].rect.x, 220);
  EXPECT_EQ(log.Count("Found new face: 1"), 1);
  EXPECT_EQ(log.Count("Found new face: 2"), 1);
}

TEST(FaceTrackingStabilizer, EmptyInEmptyOut) {
  FaceTrackingStabilizer stabilizer(7.5f);
  EXPECT_TRUE(stabilizer.Stabilize({}, 0).empty());
}

// A new face exactly between two lost records takes the earlier one; a hair nearer the later one,
// the later one.
TEST(FaceTrackingStabilizer, ATieGoesToTheEarlierRecord) {
  for (const auto& [x, taken, left] : {std::tuple{200, 1, 2}, std::tuple{201, 2, 1}}) {
    FaceTrackingStabilizer stabilizer(7.5f);
    stabilizer.Stabilize({{1, Face(100, 100)}, {2, Face(300, 100)}}, 0);
    stabilizer.Stabilize({}, kSecond);
    auto out = stabilizer.Stabilize({{9, Face(x, 100)}}, 2 * kSecond);
    ASSERT_EQ(out.size(), 2u) << x;
    EXPECT_EQ(out[taken].rect.x, x);
    EXPECT_FALSE(out[taken].not_seen);
    EXPECT_TRUE(out[left].not_seen);
  }
}

}  // namespace
}  // namespace vantisol
