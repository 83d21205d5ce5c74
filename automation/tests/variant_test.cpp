#include "orbrix/automation/variant.hpp"

#include <gtest/gtest.h>

#include "orbrix/automation/errors.hpp"
#include "orbrix/common/datetime.hpp"
#include "test_objects.hpp"

namespace orbrix::automation {
namespace {

TEST(Variant, ConversionsAreCheckedAndNameTheExpectedKind) {
  EXPECT_EQ(Variant(42).as_int(), 42);
  EXPECT_EQ(Variant(3.0).as_int(), 3);  // a whole double is an integer
  EXPECT_DOUBLE_EQ(Variant(7).as_double(), 7.0);
  EXPECT_EQ(Variant("x").as_string(), "x");
  try {
    (void)Variant("12").as_int();
    FAIL() << "text converted to integer";
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "expected integer, got text");
  }
  EXPECT_THROW((void)Variant(2.5).as_int(), TypeError);
  EXPECT_THROW((void)Variant(1).as_bool(), TypeError);
  EXPECT_THROW((void)Variant().as_object(), TypeError);
  EXPECT_EQ(Variant().as_object_or_null(), nullptr);
  EXPECT_THROW((void)Variant(1).as_object_or_null(), TypeError);
}

TEST(Variant, NullObjectIsEmptyAndTruthFollowsValue) {
  EXPECT_TRUE(Variant(DispatchPtr{}).is_empty());
  EXPECT_FALSE(Variant().truthy());
  EXPECT_FALSE(Variant(0).truthy());
  EXPECT_FALSE(Variant(0.0).truthy());
  EXPECT_FALSE(Variant("").truthy());
  EXPECT_FALSE(Variant(false).truthy());
  EXPECT_TRUE(Variant(-1).truthy());
  EXPECT_TRUE(Variant("0").truthy());
  EXPECT_TRUE(Variant(std::make_shared<testing::Widget>()).truthy());
}

TEST(Variant, DefaultTextForms) {
  EXPECT_EQ(Variant().to_text(), "None");
  EXPECT_EQ(Variant(true).to_text(), "True");
  EXPECT_EQ(Variant(-2147483648LL).to_text(), "-2147483648");
  EXPECT_EQ(Variant(100.0).to_text(), "100.0");
  EXPECT_EQ(Variant(99.5).to_text(), "99.5");
  EXPECT_EQ(Variant(0.1).to_text(), "0.1");
  EXPECT_EQ(Variant(make_datetime(2024, 3, 5, 14, 7, 9)).to_text(), "2024-03-05 14:07:09");
  EXPECT_EQ(Variant(std::make_shared<testing::Widget>()).to_text(), "<Widget object>");
}

TEST(Variant, NumbersCompareByValueAcrossKinds) {
  EXPECT_EQ(Variant(5), Variant(5.0));
  EXPECT_NE(Variant(5), Variant("5"));
  EXPECT_NE(Variant(), Variant(0));
  EXPECT_EQ(Variant(), Variant(nullptr));
}

}  // namespace
}  // namespace orbrix::automation
