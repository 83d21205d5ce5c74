#pragma once

// A small stand-in for the vendor object model, for BrokerLink's tests: a
// generic automation object with properties, methods and a log of what was
// put and called, and a CQGCEL built from it that answers requests with the
// vendor's events. Objects made on a thread without an apartment are
// free-threaded, so tests can build event arguments on their own thread.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/automation/connection_point.hpp"
#include "orbrix/automation/dispatch.hpp"
#include "orbrix/automation/registry.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::cqg::testing {

using automation::Args;
using automation::Variant;

class FakeObject;
using FakePtr = std::shared_ptr<FakeObject>;

class FakeObject : public automation::Dispatch {
 public:
  using Method = std::function<Variant(FakeObject& self, Args args)>;
  using PutHook = std::function<void(FakeObject& self, const Variant& value)>;

  explicit FakeObject(std::string type) : type_(std::move(type)) {}
  static FakePtr make(std::string type,
                      std::initializer_list<std::pair<std::string_view, Variant>> props = {});
  // A collection over `items`: Count, Item(i), ItemByIndex(i), _NewEnum.
  static FakePtr collection(std::string type, std::vector<Variant> items = {});

  FakeObject& set(std::string_view name, Variant value) EXCLUDES(mutex_);
  Variant value(std::string_view name) const EXCLUDES(mutex_);
  FakeObject& on(std::string_view name, Method method) EXCLUDES(mutex_);
  FakeObject& on_put(std::string_view name, PutHook hook) EXCLUDES(mutex_);
  // The default member: obj(args).
  FakeObject& on_default(Method method) { return on("_default", std::move(method)); }

  void add_item(Variant item) EXCLUDES(mutex_);
  void remove_item(const automation::DispatchPtr& item) EXCLUDES(mutex_);
  std::vector<Variant> items() const EXCLUDES(mutex_);

  // "put Symbol=EP" and "Place()" lines, in order.
  std::vector<std::string> log() const EXCLUDES(mutex_);

  // Fires a vendor event at the connected sinks: posted to the object's
  // apartment (after `delay`), or at once when it has none.
  void fire(std::string_view event, std::vector<Variant> args,
            std::chrono::milliseconds delay = {});

  automation::DispId get_id_of_name(std::string_view name) override;
  Variant invoke(automation::DispId id, automation::InvokeKind kind, Args args) override;
  std::string_view type_name() const noexcept override { return type_; }
  bool resolves_names_anywhere() const noexcept override { return true; }
  automation::Cookie advise(const automation::DispatchPtr& sink) override;
  void unadvise(automation::Cookie cookie) override;

 private:
  const std::string type_;
  mutable Mutex mutex_;
  std::map<std::string, Variant> props_ GUARDED_BY(mutex_);
  std::map<std::string, Method> methods_ GUARDED_BY(mutex_);
  std::map<std::string, PutHook> put_hooks_ GUARDED_BY(mutex_);
  std::vector<Variant> items_ GUARDED_BY(mutex_);
  std::vector<std::string> log_ GUARDED_BY(mutex_);
  automation::ConnectionPoint events_;
};

// A vendor error object.
FakePtr fake_error(std::int64_t code, std::string description);
// A quote, tick, bar and position as the vendor hands them out.
FakePtr fake_quote(std::string_view type_constant, double price, bool valid = true);
FakePtr fake_tick(std::string_view price_type_constant, double price, double volume);
FakePtr fake_bar(int minute, double open, double high, double low, double close, double volume);
FakePtr fake_account(std::int64_t id, std::string name);
FakePtr fake_position(std::string instrument_name, std::string_view side_constant,
                      double average_price, double quantity);

// An order whose Properties give these values (the time carries a fraction
// of a second), and a fill of it.
FakePtr fake_order(std::string guid, std::string_view status_constant,
                   double average_fill_price = 0, double filled_quantity = 0);
FakePtr fake_fill(std::string id, const FakePtr& order, std::string_view status_constant,
                  double price, double quantity);

// The vendor's CQGCEL over a little market the test describes, registered as
// "CQG.CQGCEL.4" for the fake's lifetime. Its members run on the API host's
// worker; the settings are read there, so set them before the operation.
class FakeVendor {
 public:
  struct Settings {
    // Delay of the gateway's up/down answers; none: never answered.
    std::optional<std::chrono::milliseconds> gateway_delay = std::chrono::milliseconds(0);
    // Delay of actAccountsReloaded after leaving aslNone; none: never.
    std::optional<std::chrono::milliseconds> accounts_delay = std::chrono::milliseconds(0);
    // Whether resolutions are answered at all, and with an error.
    bool answer_resolutions = true;
    bool resolution_error = false;
    // Whether a placed order is announced with ctAdded.
    bool announce_orders = true;
  };

  FakeVendor();
  ~FakeVendor();

  Settings& settings() { return settings_; }
  // The object the API host created (waits for it).
  FakePtr cel() const;
  // Instruments NewInstrument can resolve, by the symbol asked for.
  void add_instrument(std::string symbol, std::string full_name);
  // The instrument NewInstrument(symbol) resolves to, or null.
  FakePtr instrument(const std::string& symbol) const;
  // Accounts the vendor lists once the account subscription is on.
  void add_account(FakePtr account);
  // The bars a timed-bars request for `symbol` answers with.
  void set_bars(std::string symbol, std::vector<Variant> bars);
  // The last request made with CreateTicksRequest / CreateTimedBarsRequest,
  // and the orders created.
  FakePtr last_ticks_request() const;
  // The tick collection RequestTicks made last.
  FakePtr last_ticks() const;
  FakePtr last_bars_request() const;
  std::vector<FakePtr> orders() const;
  std::vector<std::string> cel_log() const { return cel()->log(); }

 private:
  FakePtr make_cel();

  Settings settings_;
  mutable Mutex mutex_;
  FakePtr cel_ GUARDED_BY(mutex_);
  std::map<std::string, FakePtr> instruments_ GUARDED_BY(mutex_);
  std::vector<FakePtr> accounts_ GUARDED_BY(mutex_);
  std::map<std::string, std::vector<Variant>> bars_ GUARDED_BY(mutex_);
  FakePtr last_ticks_request_ GUARDED_BY(mutex_);
  FakePtr last_ticks_ GUARDED_BY(mutex_);
  FakePtr last_bars_request_ GUARDED_BY(mutex_);
  std::vector<FakePtr> orders_ GUARDED_BY(mutex_);
  int next_order_ GUARDED_BY(mutex_) = 1;
  std::unique_ptr<automation::ScopedClassRegistration> registration_;
};

}  // namespace orbrix::cqg::testing
