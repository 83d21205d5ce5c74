#include "orbrix/automation/registry.hpp"

#include <gtest/gtest.h>

#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/automation/type_library.hpp"
#include "test_objects.hpp"

namespace orbrix::automation {
namespace {

TEST(ClassRegistry, CreatesByProgIdAndRefusesUnknownOnesClearly) {
  {
    ScopedClassRegistration reg("Test.Widget.1",
                                [] { return std::make_shared<testing::Widget>(); });
    EXPECT_EQ(Object(create_object("Test.Widget.1")).type_name(), "Widget");
  }
  try {
    create_object("Test.Widget.1");
    FAIL();
  } catch (const ClassNotRegisteredError& e) {
    EXPECT_STREQ(e.what(), "Invalid class string: no class is registered as \"Test.Widget.1\"");
  }
}

TEST(ClassRegistry, ScopedRegistrationPutsBackThePreviousClass) {
  auto& r = ClassRegistry::instance();
  r.register_class("Test.Prev", [] { return std::make_shared<testing::Widget>(); });
  {
    ScopedClassRegistration reg("Test.Prev", [] { return DispatchPtr(); });
    EXPECT_EQ(create_object("Test.Prev"), nullptr);
  }
  EXPECT_NE(create_object("Test.Prev"), nullptr);
  EXPECT_FALSE(r.register_if_absent("Test.Prev", [] { return DispatchPtr(); }));
  r.unregister_class("Test.Prev");
  EXPECT_FALSE(r.is_registered("Test.Prev"));
}

TEST(TypeLibrary, ConstantsAndEventsByNameWithClearErrors) {
  auto lib = std::make_shared<TypeLibrary>("TestLib", "{0000-TEST}", 2, 1);
  lib->add_constant("tlRed", 1);
  EventInterface events("_ITestEvents");
  events.add("OnThing", 5, 2);
  lib->add_event_interface(std::move(events));
  TypeLibraryRegistry::instance().register_library(lib);

  auto loaded = TypeLibraryRegistry::instance().load("{0000-test}", 2, 0);
  EXPECT_EQ(loaded->constant("tlRed"), 1);
  try {
    loaded->constant("tlBlue");
    FAIL();
  } catch (const UnknownNameError& e) {
    EXPECT_STREQ(e.what(), "type library TestLib 2.1 has no constant named 'tlBlue'");
  }
  const auto* ev = loaded->event_interface("_ITestEvents").find("OnThing");
  ASSERT_NE(ev, nullptr);
  EXPECT_EQ(ev->id, 5);
  EXPECT_EQ(ev->param_count, 2);
  // Names match as the type library matches them, without regard to case.
  EXPECT_EQ(loaded->constant("TLRED"), 1);
  EXPECT_TRUE(loaded->has_constant("tlred"));
  EXPECT_NE(loaded->event_interface("_ITestEvents").find("onthing"), nullptr);
  EXPECT_THROW(TypeLibraryRegistry::instance().load("{0000-TEST}", 2, 2), std::runtime_error);
  EXPECT_THROW(TypeLibraryRegistry::instance().load("{0000-TEST}", 3, 0), std::runtime_error);
}

TEST(TypeLibrary, AFallbackLibraryNeverShadowsARealOne) {
  auto& registry = TypeLibraryRegistry::instance();
  auto make = [](const char* name, int minor) {
    return std::make_shared<TypeLibrary>(name, "{0000-SHADOW}", 1, minor);
  };
  // A stand-in registered first gives way to the real library of the same
  // version, and is ignored if it comes after it, whatever its minor version.
  registry.register_library(make("StandIn", 0), /*fallback=*/true);
  EXPECT_EQ(registry.load("{0000-SHADOW}", 1, 0)->name(), "StandIn");
  registry.register_library(make("Real", 0));
  EXPECT_EQ(registry.load("{0000-SHADOW}", 1, 0)->name(), "Real");
  registry.register_library(make("StandIn", 0), /*fallback=*/true);
  registry.register_library(make("NewerStandIn", 5), /*fallback=*/true);
  EXPECT_EQ(registry.load("{0000-SHADOW}", 1, 0)->name(), "Real");
}

}  // namespace
}  // namespace orbrix::automation
