#include "orbrix/automation/connection_point.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/automation/marshal.hpp"
#include "orbrix/automation/object.hpp"
#include "test_objects.hpp"

namespace orbrix::automation {
namespace {

using testing::ApartmentThread;
using testing::Widget;

// Records the events it receives; event id 7 throws.
class RecordingSink final : public Dispatch {
 public:
  RecordingSink() : Dispatch(FreeThreaded{}) {}
  DispId get_id_of_name(std::string_view) override { return 1; }
  Variant invoke(DispId id, InvokeKind, Args args) override {
    if (id == 7) {
      throw std::runtime_error("sink failure");
    }
    std::vector<Variant> a(args.begin(), args.end());
    events.emplace_back(id, std::move(a));
    on_home_thread = apartment_to_check && apartment_to_check->is_current();
    return {};
  }
  std::string_view type_name() const noexcept override { return "RecordingSink"; }

  std::vector<std::pair<DispId, std::vector<Variant>>> events;
  std::shared_ptr<Apartment> apartment_to_check;
  bool on_home_thread = false;
};

TEST(ConnectionPoint, EventsReachEverySinkWithTheirArgumentsEvenWhenOneThrows) {
  ConnectionPoint cp;
  auto first = std::make_shared<RecordingSink>();
  auto second = std::make_shared<RecordingSink>();
  cp.advise(first);
  const Cookie c2 = cp.advise(second);
  std::vector<std::string> reports;
  set_error_reporter([&](std::string_view m) { reports.emplace_back(m); });

  const std::array<Variant, 3> args{Variant(1), Variant("x"), Variant(std::make_shared<Widget>())};
  cp.fire(3, args);
  cp.fire(7, {});
  cp.unadvise(c2);
  cp.fire(4, {});
  set_error_reporter(nullptr);

  ASSERT_EQ(first->events.size(), 2u);
  EXPECT_EQ(first->events[0].first, 3);
  EXPECT_EQ(first->events[0].second[1].as_string(), "x");
  EXPECT_TRUE(first->events[0].second[2].is_object());
  EXPECT_EQ(first->events[1].first, 4);
  ASSERT_EQ(second->events.size(), 1u);
  EXPECT_EQ(reports.size(), 2u);  // both sinks threw on event 7
  EXPECT_NE(reports[0].find("sink failure"), std::string::npos);
}

TEST(ConnectionPoint, AdviseThroughAProxyDeliversOnTheSourcesApartmentThread) {
  ApartmentThread worker;
  auto stream = worker.run(
      [] { return marshal_inter_thread_interface_in_stream(std::make_shared<Widget>()); });
  Object source(get_interface_and_release_stream(*stream));
  auto sink = std::make_shared<RecordingSink>();
  sink->apartment_to_check = worker.apartment();
  const Cookie cookie = source.dispatch()->advise(sink);

  auto widget = std::static_pointer_cast<Widget>(
      worker.run([&] { return Object(source.dispatch()).call("Identity", source.dispatch()); })
          .as_object());
  worker.run([&] {
    const std::array<Variant, 1> a{Variant(5)};
    widget->events.fire(2, a);
    return 0;
  });
  ASSERT_EQ(sink->events.size(), 1u);
  EXPECT_TRUE(sink->on_home_thread);
  source.dispatch()->unadvise(cookie);
  EXPECT_EQ(worker.run([&] { return widget->events.size(); }), 0u);
}

}  // namespace
}  // namespace orbrix::automation
