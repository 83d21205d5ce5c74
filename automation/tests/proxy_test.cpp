#include <gtest/gtest.h>

#include <latch>

#include "orbrix/automation/errors.hpp"
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
