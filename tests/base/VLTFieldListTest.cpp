#include "engine/base/VLTFieldList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vlt {
namespace {

using TNames = std::vector<std::string>;

struct TSplitCase {
  const char* Name;
  const char* List;
  const char* Separators;
  bool KeepEmpty;
  TNames Want;
};

// The callers' three ways: component field lists (";," dropping empties), key searches and
// locate conditions (";" keeping empties, so that an empty name is reported), the Paradox
// reader (";" dropping empties, a ',' part of the name).
const TSplitCase kSplitCases[] = {
    {"EmptyDroppedIsNothing", "", ";,", false, {}},
    {"EmptyKeptIsOneEntry", "", ";", true, {""}},
    {"OneName", "Name", ";,", false, {"Name"}},
    {"BlanksTrimmedInside", " Name ; City ", ";,", false, {"Name", "City"}},
    {"BlankInNameStays", "Last Name;City", ";,", false, {"Last Name", "City"}},
    {"CommaCountsAsSemicolon", "a,b;c", ";,", false, {"a", "b", "c"}},
    {"CommaPartOfName", "a,b;c", ";", false, {"a,b", "c"}},
    {"EmptyEntriesDropped", ";a;;b; ;", ";,", false, {"a", "b"}},
    {"EmptyEntriesKept", "a;;b;", ";", true, {"a", "", "b", ""}},
    {"BlankEntryKeptEmpty", "a; ;b", ";", true, {"a", "", "b"}},
    {"OnlyBlanksDropped", "   ", ";", false, {}},
    {"TabIsNotTrimmed", "\ta", ";", false, {"\ta"}},
};

class VLTSplitListTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(VLTSplitListTest, Entries) {
  const TSplitCase& C = GetParam();
  EXPECT_EQ(VLTSplitList(C.List, C.Separators, C.KeepEmpty), C.Want);
}

INSTANTIATE_TEST_SUITE_P(Cases, VLTSplitListTest, ::testing::ValuesIn(kSplitCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(VLTFieldList, FieldListIsSemicolonOrCommaWithoutEmpties) {
  EXPECT_EQ(VLTSplitFieldList(" a , b;;c "), (TNames{"a", "b", "c"}));
  EXPECT_TRUE(VLTSplitFieldList(" ; ").empty());
}

TEST(VLTFieldList, JoinIsTheInverseOfSplit) {
  EXPECT_EQ(VLTJoinFieldList({}), "");
  EXPECT_EQ(VLTJoinFieldList({"Name"}), "Name");
  const TNames Names = {"Last Name", "City", "Zip"};
  EXPECT_EQ(VLTJoinFieldList(Names), "Last Name;City;Zip");
  EXPECT_EQ(VLTSplitFieldList(VLTJoinFieldList(Names)), Names);
}

}  // namespace
}  // namespace vlt
