// The last autoincrement values a session keeps per sequence: recording, replacing, forgetting.
#include "engine/core/VLTSessionData.h"

#include <gtest/gtest.h>

#include <string>

namespace vlt {
namespace {

TEST(SessionSequenceValues, DeleteForgetsOnlyTheNamedSequence) {
  TVLTSessionData S;
  S.SetSequenceValue(10, "ID", 5);
  S.SetSequenceValue(11, "NO", 7);
  S.SetSequenceValue(12, "KEY", 9);
  S.SetSequenceValue(10, "ID", 6);  // replaces, no second entry
  ASSERT_EQ(S.SequenceValues().size(), 3u);

  EXPECT_TRUE(S.DeleteSequenceValue(11));
  EXPECT_EQ(S.FindSequenceValue(11), nullptr);
  ASSERT_NE(S.FindSequenceValue(10), nullptr);
  EXPECT_EQ(S.FindSequenceValue(10)->FValue, 6);
  ASSERT_NE(S.FindSequenceValue(12), nullptr);
  EXPECT_EQ(S.FindSequenceValue(12)->FValue, 9);

  // A second delete, an id never recorded and the "no object" id change nothing.
  EXPECT_FALSE(S.DeleteSequenceValue(11));
  EXPECT_FALSE(S.DeleteSequenceValue(99));
  EXPECT_FALSE(S.DeleteSequenceValue(kNoObjectID));
  EXPECT_EQ(S.SequenceValues().size(), 2u);

  // Recorded again after the delete, the sequence starts a fresh entry.
  S.SetSequenceValue(11, "NO", 1);
  ASSERT_NE(S.FindSequenceValue(11), nullptr);
  EXPECT_EQ(S.FindSequenceValue(11)->FValue, 1);
}

TEST(SessionSequenceValues, EntriesKnownByNameOnlySurviveDeletesById) {
  TVLTSessionData S;
  S.SetSequenceValue(kNoObjectID, "GLOBAL", 3);
  S.SetSequenceValue(4, "ID", 8);
  EXPECT_FALSE(S.DeleteSequenceValue(kNoObjectID));
  EXPECT_TRUE(S.DeleteSequenceValue(4));
  ASSERT_EQ(S.SequenceValues().size(), 1u);
  EXPECT_EQ(S.SequenceValues()[0].FName, "GLOBAL");
  EXPECT_EQ(S.SequenceValues()[0].FValue, 3);
}

}  // namespace
}  // namespace vlt
