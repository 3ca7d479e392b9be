#include "engine/base/VLTExcept.h"

#include <gtest/gtest.h>

namespace vlt {
namespace {

TEST(EVLTException, PlainMessageGetsZeroPaddedCode) {
  EVLTException E(305, "Stream read error");
  EXPECT_EQ(E.Message(), "Stream read error - Native error: 00305");
  EXPECT_EQ(E.NativeError(), 305);
  EXPECT_STREQ(E.what(), E.Message().c_str());
}

TEST(EVLTException, FormattedMessageGetsRightAlignedCode) {
  EVLTException E(30446, "Decrypt page error. Check CRC failed. PageNo: %d", {int64_t{17}});
  EXPECT_EQ(E.Message(), "Decrypt page error. Check CRC failed. PageNo: 17 - Native error: 30446");
  EVLTException Short(42, "Page %d of %s", {int64_t{3}, std::string("t.vlt")});
  EXPECT_EQ(Short.Message(), "Page 3 of t.vlt - Native error:    42");
}

TEST(EVLTException, MismatchedArgumentsKeepTheFormat) {
  // A string where a number is due, a missing argument, one too many, an unknown conversion.
  EXPECT_EQ(EVLTException(10001, "Bad %d", {std::string("x")}).Message(),
            "Bad %d Arguments are invalid! - Native error: 10001");
  EXPECT_EQ(EVLTException(10001, "Bad %d %d", {int64_t{1}}).Message(),
            "Bad %d %d Arguments are invalid! - Native error: 10001");
  EXPECT_EQ(EVLTException(10001, "Bad", {int64_t{1}}).Message(),
            "Bad Arguments are invalid! - Native error: 10001");
  EXPECT_EQ(EVLTException(10001, "Bad %q", {int64_t{1}}).Message(),
            "Bad %q Arguments are invalid! - Native error: 10001");
}

TEST(VLTFormat, FlagsWidthPrecisionAndPercent) {
  EXPECT_EQ(*VLTFormat("%.5d|%5d|%-3d|%x|%X|%%",
                       {int64_t{7}, int64_t{7}, int64_t{7}, int64_t{255}, int64_t{255}}),
            "00007|    7|7  |ff|FF|%");
  EXPECT_EQ(*VLTFormat("%g to %g", {1.5, 100.0}), "1.5 to 100");
  EXPECT_EQ(*VLTFormat("%s", {std::string(1000, 'a')}), std::string(1000, 'a'));
}

TEST(EVLTException, ComponentNamePrefix) {
  EVLTException E(20001, "Table is locked");
  E.PrefixWithComponentName("Payroll");
  EXPECT_EQ(E.Message(), "Payroll: Table is locked - Native error: 20001");
}

TEST(EVLTEngineError, MessagesOfEveryCode) {
  struct Row {
    int32_t Code;
    const char* Text;
  };
  const Row Rows[] = {
      {-1, "Error adding record"},
      {-4, "Error updating record - record was modified by another process"},
      {-7, "Error deleting record - record was deleted by another process"},
      {-11, "Cannot cancel operation in temporary mode"},
      {-12, "Record is locked"},
      {-13, "Table is locked"},
  };
  for (const Row& R : Rows)
    EXPECT_EQ(EVLTEngineError(R.Code).Message(),
              std::string("Vaultrix Engine Error # ") + std::to_string(R.Code) + " " + R.Text);
  // A constraint failure carries the constraint's own message.
  EXPECT_EQ(EVLTEngineError(-8, "Field 'Num' must have a value").Message(),
            "Vaultrix Engine Error # -8 Field 'Num' must have a value");
}

}  // namespace
}  // namespace vlt
