#include "orbrix/automation/class_info.hpp"

#include <gtest/gtest.h>

#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/object.hpp"
#include "test_objects.hpp"

namespace orbrix::automation {
namespace {

using testing::Widget;

TEST(ClassInfo, NamesMatchWithoutRegardToCaseAndIdsAreStable) {
  Object w(std::make_shared<Widget>());
  EXPECT_EQ(w.id_of("value"), w.id_of("VALUE"));
  w.put("vAlUe", 5);
  EXPECT_EQ(w.get("Value").as_int(), 5);
  const DispId add = w.id_of("add");
  const std::array<Variant, 1> two{2};
  w.invoke(add, InvokeKind::Method, two);
  w.invoke(add, InvokeKind::Method, two);
  EXPECT_EQ(w.get("value").as_int(), 9);
}

TEST(ClassInfo, MisuseIsAClearError) {
  Object w(std::make_shared<Widget>());
  try {
    w.get("Colour");
    FAIL();
  } catch (const UnknownNameError& e) {
    EXPECT_STREQ(e.what(), "Widget has no member named 'Colour'");
  }
  EXPECT_THROW(w.put("Name", "x"), std::invalid_argument);  // read-only
  EXPECT_THROW(w.get("Add"), std::invalid_argument);        // a method is not a property
  try {
    w.call("Add");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Widget.Add takes 1 argument (0 given)");
  }
  EXPECT_THROW(Object().get("Value"), TypeError);
  try {
    w.put("Value", "ten");
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "Widget.Value: expected integer, got text");
  }
}

TEST(ClassInfo, ParameterisedDefaultAndEnumeratedMembers) {
  Object w(std::make_shared<Widget>());
  w.put("Value", 3);
  EXPECT_EQ(w.get("Item", 2).as_int(), 6);
  EXPECT_EQ(w.call("Item", 4).as_int(), 12);  // call syntax reads the property
  EXPECT_EQ(w(5).as_int(), 15);               // default member
  const auto items = w.items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].as_int(), 3);
  EXPECT_EQ(items[2].as_int(), 5);
}

}  // namespace
}  // namespace orbrix::automation
