// The automation layer's Windows backend against a real COM server: creation
// by ProgID, late binding with value conversion both ways, errors, events
// through the pump, and the type library read through ITypeLib.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/marshal.hpp"
#include "orbrix/automation/names.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/automation/registry.hpp"
#include "orbrix/automation/type_library.hpp"
#include "orbrix/automation/wait.hpp"
#include "orbrix/common/datetime.hpp"
#include "orbrix/cqg/cel_sink_base.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/vendor_ids.hpp"
#include "test_server.hpp"

namespace orbrix::wintest {
namespace {

using automation::Object;
using automation::Variant;

// Pumps the calling thread's messages until `done` or the time-out.
template <class F>
bool pump_until(F done, std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    automation::msg_wait_for_multiple_objects({}, false, 20, automation::kQsAllInput);
    automation::pump_waiting_messages();
  }
  return true;
}

// The test thread as the server's apartment.
class ComBackend : public ::testing::Test {
 protected:
  void TearDown() override {
    server_.reset();
    EXPECT_EQ(live_objects(), 0) << "a COM reference was not released";
  }
  Object create() { return Object(automation::create_object(cqg::kCqgProgId)); }

  automation::ComScope com_;
  std::shared_ptr<void> server_ = register_class_object();
};

TEST_F(ComBackend, ValuesCrossIntoComAndBackUnchanged) {
  {
    const Object cel = create();
    EXPECT_EQ(cel.type_name(), "CQGCEL");
    const Variant values[] = {
        Variant(),
        Variant(true),
        Variant(false),
        Variant(-42),
        Variant(std::int64_t{1} << 40),
        Variant(2.5),
        Variant("F.US.EPZ23 \xC3\xA9\xE2\x82\xAC"),
        Variant(make_datetime(2023, 11, 30, 14, 7, 9, std::chrono::microseconds(4211))),
        Variant(make_datetime(1899, 12, 29, 6, 0, 0))};
    for (const Variant& v : values) {
      EXPECT_EQ(cel.call("Echo", v), v) << v.to_text();
    }
    // A COM object comes back as one of ours with its own type name; one of
    // our objects handed to COM comes back as itself.
    const Object config = cel.object("APIConfiguration");
    EXPECT_EQ(config.type_name(), "CQGAPIConfig");
    EXPECT_EQ(Object(cel.call("Echo", config.dispatch())).type_name(), "CQGAPIConfig");
    const auto own = automation::make_proxy(config.dispatch());
    EXPECT_EQ(cel.call("Echo", own).as_object().get(), own.get());
  }
}

TEST_F(ComBackend, NamesResolveOnceWithoutRegardToCaseAndPutsReadBack) {
  const Object cel = create();
  EXPECT_EQ(cel.id_of("echo"), cel.id_of("ECHO"));
  EXPECT_EQ(automation::fold_case(cel.dispatch()->name_of(cel.id_of("Echo"))), "echo");
  const Object config = cel.object("APIConfiguration");
  config.put("TimeZoneCode", cqg::vendor_constant("tzChina"));
  EXPECT_EQ(config.get("timezonecode"), Variant(cqg::vendor_constant("tzChina")));
}

TEST_F(ComBackend, ComFailuresRaiseThePortableExceptions) {
  const Object cel = create();
  EXPECT_THROW(cel.call("NoSuchMember"), automation::UnknownNameError);
  try {
    cel.call("Raise", "order rejected: no margin");
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "order rejected: no margin");
  }
  EXPECT_THROW(cel.call("GWLogon", "only one argument"), std::invalid_argument);
  EXPECT_THROW(cel.call("Echo", Variant()).as_int(), automation::TypeError);
  EXPECT_THROW(automation::create_object("Orbrix.NoSuchServer.1"),
               automation::ClassNotRegisteredError);
}

TEST_F(ComBackend, ObjectsAreCalledOnlyOnTheirApartmentsThread) {
  const Object cel = create();
  std::atomic<bool> refused{false};
  std::thread([&] {
    try {
      cel.get("ThreadId");
    } catch (const automation::ApartmentError&) {
      refused = true;
    }
    // A thread without an apartment cannot create COM objects either.
    try {
      automation::create_object(cqg::kCqgProgId);
      refused = false;
    } catch (const automation::ApartmentError&) {
    }
  }).join();
  EXPECT_TRUE(refused);
}

TEST_F(ComBackend, CollectionsEnumerateThroughNewEnum) {
  const Object cel = create();
  const auto accounts = cel.object("Accounts").items();
  ASSERT_EQ(accounts.size(), 1u);
  EXPECT_EQ(Object(accounts[0]).get("GWAccountID"), Variant(7001));
  EXPECT_EQ(Object(accounts[0]).object("Summary").call("Balance", 0), Variant(100000.0));
}

// Records the connection status events it receives, and on which thread.
class StatusSink final : public cqg::CELSinkBase {
 public:
  void OnGWConnectionStatusChanged(const Variant& status) override {
    last = status;
    thread = std::this_thread::get_id();
    ++count;
  }
  Variant last;
  std::thread::id thread;
  int count = 0;
};

TEST_F(ComBackend, EventsReachTheSinkInsideThePumpWithByReferenceArgumentsRead) {
  const Object cel = create();
  auto sink = std::make_shared<StatusSink>();
  const auto cookie = cel.dispatch()->advise(sink);
  cel.call("GWLogon", "user", "secret");
  EXPECT_EQ(sink->count, 0) << "an event arrived outside the pump";
  ASSERT_TRUE(pump_until([&] { return sink->count == 1; }));
  EXPECT_EQ(sink->last, Variant(cqg::vendor_constant("csConnectionUp")));
  EXPECT_EQ(sink->thread, std::this_thread::get_id());
  cel.dispatch()->unadvise(cookie);
  cel.call("GWLogoff");
  pump_until([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(sink->count, 1) << "an event reached a disconnected sink";
}

TEST(ComTypeLibrary, ConstantsAndEventIdsAreReadByName) {
  EXPECT_EQ(cqg::vendor_constant("qtAsk"), 1101);
  EXPECT_EQ(cqg::vendor_constant("QTASK"), 1101);
  EXPECT_EQ(cqg::vendor_constant("qtNegative"), -7);
  EXPECT_EQ(cqg::vendor_constant("osInTransitTimeout"), 1017);
  EXPECT_THROW(cqg::vendor_constant("qtNoSuchType"), automation::UnknownNameError);
  const auto& events = cqg::vendor_type_library().event_interface(cqg::kCqgEventInterface);
  const auto* changed = events.find("OnOrderChanged");
  ASSERT_NE(changed, nullptr);
  EXPECT_EQ(changed->id, 333);
  EXPECT_EQ(changed->param_count, 5);
  EXPECT_THROW(automation::TypeLibraryRegistry::instance().load(
                   "{00000000-0000-0000-0000-0000000000AB}", 1, 0),
               std::runtime_error);
}

}  // namespace
}  // namespace orbrix::wintest
