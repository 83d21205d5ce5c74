#include <gtest/gtest.h>

#include <latch>

#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/event.hpp"
#include "orbrix/automation/marshal.hpp"
#include "orbrix/automation/object.hpp"
#include "test_objects.hpp"

namespace orbrix::automation {
namespace {

using testing::ApartmentThread;
using testing::Widget;

// A widget created in the worker's apartment, reached from this thread
// through a marshalled proxy.
class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto stream = worker.run([this] {
      widget = std::make_shared<Widget>();
      return marshal_inter_thread_interface_in_stream(widget);
    });
    proxy = Object(get_interface_and_release_stream(*stream));
    stream_ = stream;
  }

  ApartmentThread worker;
  std::shared_ptr<Widget> widget;
  Object proxy;
  std::shared_ptr<MarshalStream> stream_;
};

TEST_F(ProxyTest, CallsRunOnTheHomeThreadAndTheStreamIsOneShot) {
  EXPECT_TRUE(is_proxy(*proxy.dispatch()));
  EXPECT_TRUE(proxy.call("ThreadIsHome").as_bool());
  proxy.put("Value", 4);
  EXPECT_EQ(proxy.call("Add", 1).as_int(), 5);
  EXPECT_EQ(proxy.type_name(), "Widget");
  try {
    get_interface_and_release_stream(*stream_);
    FAIL() << "second unmarshal succeeded";
  } catch (const MarshalError& e) {
    EXPECT_STREQ(e.what(), "the marshalling stream has already been released");
  }
}

TEST_F(ProxyTest, TheWorkersExceptionIsRaisedInTheCaller) {
  try {
    proxy.call("Fail");
    FAIL();
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "widget failure");
  }
  EXPECT_THROW(proxy.get("NoSuchThing"), UnknownNameError);
}

TEST_F(ProxyTest, ObjectsCrossingFollowTheMarshallingRules) {
  // A returned object arrives as a proxy too, and its calls run at home.
  Object child(proxy.call("MakeChild"));
  EXPECT_TRUE(is_proxy(*child.dispatch()));
  EXPECT_TRUE(child.call("ThreadIsHome").as_bool());
  // A proxy passed back home is unwrapped to the original object.
  EXPECT_TRUE(proxy.call("IsMe", proxy.dispatch()).as_bool());
  // And comes back out as a proxy again, never the raw object.
  Object same(proxy.call("Identity", proxy.dispatch()));
  EXPECT_TRUE(is_proxy(*same.dispatch()));
  EXPECT_TRUE(same.call("ThreadIsHome").as_bool());
}

TEST_F(ProxyTest, AProxyUsedOnItsHomeThreadCallsStraightThrough) {
  auto p = proxy.dispatch();
  const auto value = worker.run([p] { return Object(p).call("Add", 2).as_int(); });
  EXPECT_EQ(value, 2);
}

TEST_F(ProxyTest, CallsAfterTheApartmentShutDownFailAtOnce) {
  worker.stop();
  EXPECT_THROW(proxy.call("Add", 1), DisconnectedError);
  EXPECT_THROW(proxy.put("Value", 1), DisconnectedError);
}

TEST_F(ProxyTest, ACallQueuedWhenTheApartmentShutsDownFailsInsteadOfHanging) {
  std::latch blocked(1), release(1);
  worker.apartment()->post([&] {
    blocked.count_down();
    release.wait();
  });
  blocked.wait();
  std::thread caller([&] { EXPECT_THROW(proxy.call("Add", 1), DisconnectedError); });
  // Give the call time to reach the queue (if it does not, it must fail at
  // once instead), then stop the worker behind it: the signalled shutdown
  // wins over the waiting call, which is then failed, not left hanging.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  worker.request_stop();
  release.count_down();
  caller.join();
  worker.stop();
}

}  // namespace
}  // namespace orbrix::automation

namespace orbrix::automation {
namespace {

using namespace std::chrono_literals;

using testing::ApartmentThread;
using testing::Widget;

TEST_F(ProxyTest, DisconnectionAndTimeOutErrorsNameTheMember) {
  worker.apartment()->set_call_timeout(30ms);
  Event release;
  std::latch blocked(1);
  worker.apartment()->post([&] {
    blocked.count_down();
    release.wait(10);
  });
  blocked.wait();
  try {
    proxy.call("Add", 1);
    FAIL();
  } catch (const CallTimeoutError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Widget.Add: ", 0), 0u) << e.what();
  }
  release.set();
  worker.stop();
  try {
    proxy.put("Value", 1);
    FAIL();
  } catch (const DisconnectedError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Widget.Value: ", 0), 0u) << e.what();
  }
}

TEST_F(ProxyTest, ASequenceOfCallsRunsAtHomeInOneRoundTrip) {
  const auto before = worker.apartment()->round_trips();
  const auto value = call_in_apartment(proxy, [](const Object& w) {
    EXPECT_FALSE(is_proxy(*w.dispatch()));
    w.put("Value", 5);
    w.call("Add", 2);
    return w.get("Value").as_int();
  });
  EXPECT_EQ(value, 7);
  EXPECT_EQ(worker.apartment()->round_trips() - before, 1u);
  // Objects handed back are marshalled: they arrive as proxies.
  const Object child =
      call_in_apartment(proxy, [](const Object& w) { return Object(w.call("MakeChild")); });
  EXPECT_TRUE(is_proxy(*child.dispatch()));
  EXPECT_TRUE(child.call("ThreadIsHome").as_bool());
  EXPECT_THROW(call_in_apartment(proxy, [](const Object& w) { w.call("Fail"); }),
               std::out_of_range);
  // Each plain proxy call is a round trip of its own.
  const auto before_plain = worker.apartment()->round_trips();
  proxy.get("Value");
  proxy.put("Value", 1);
  EXPECT_EQ(worker.apartment()->round_trips() - before_plain, 2u);
}

// Notes the apartment it is destroyed in.
class Tracked final : public AutomationObject<Tracked> {
 public:
  explicit Tracked(std::shared_ptr<Apartment>* destroyed_in) : destroyed_in_(destroyed_in) {}
  ~Tracked() override { *destroyed_in_ = Apartment::current(); }
  static const ClassInfo& class_info() {
    static const ClassInfo info = [] {
      ClassInfo c("Tracked");
      c.add_property("One", [](Dispatch&, Args) -> Variant { return 1; });
      return c;
    }();
    return info;
  }

 private:
  std::shared_ptr<Apartment>* destroyed_in_;
};

TEST(ProxyLifetime, AnObjectReachedOnlyByProxiesDiesWithItsApartmentOrItsLastProxy) {
  std::shared_ptr<Apartment> destroyed_in;
  auto make = [&](ApartmentThread& worker, std::weak_ptr<Tracked>& weak) {
    auto stream = worker.run([&] {
      auto t = std::make_shared<Tracked>(&destroyed_in);
      weak = t;
      return marshal_inter_thread_interface_in_stream(t);
    });
    return Object(get_interface_and_release_stream(*stream));
  };
  {
    ApartmentThread worker;
    std::weak_ptr<Tracked> weak;
    Object proxy = make(worker, weak);
    EXPECT_EQ(proxy.get("One").as_int(), 1);
    proxy = Object();  // the last proxy goes: the object goes, at home
    worker.run([] {});
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(destroyed_in, worker.apartment());
  }
  {
    ApartmentThread worker;
    std::weak_ptr<Tracked> weak;
    Object proxy = make(worker, weak);
    worker.stop();  // a proxy remains, but the apartment is gone
    EXPECT_TRUE(weak.expired());
    EXPECT_THROW(proxy.get("One"), DisconnectedError);
  }
}

TEST(ObjectWrapping, NoneWrapsToANullObjectAndOtherKindsAreRefused) {
  const Object none{Variant()};
  EXPECT_TRUE(none.is_null());
  EXPECT_THROW(Object(Variant(5)), TypeError);
  // item() wraps the default member's result: an integer is not an object.
  Object w(std::make_shared<Widget>());
  EXPECT_THROW(w.item(3), TypeError);
}

}  // namespace
}  // namespace orbrix::automation
