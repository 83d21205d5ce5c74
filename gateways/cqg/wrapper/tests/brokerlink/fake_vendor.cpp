#include "fake_vendor.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/enumerator.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/common/datetime.hpp"
#include "orbrix/cqg/cel_events.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/vendor_ids.hpp"

namespace orbrix::cqg::testing {
namespace {

using automation::DispId;
using automation::InvokeKind;

std::string folded(std::string_view name) {
  std::string s(name);
  for (char& c : s) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return s;
}

// One id per member name for every fake object, so ids cached from one
// object are right for any other.
class Names {
 public:
  DispId id(std::string_view name) {
    MutexLock guard(mutex_);
    const auto [it, added] = ids_.try_emplace(folded(name), static_cast<DispId>(names_.size() + 1));
    if (added) {
      names_.emplace_back(name);  // the first spelling met, for the log
    }
    return it->second;
  }
  std::string name(DispId id) {
    MutexLock guard(mutex_);
    return id >= 1 && static_cast<std::size_t>(id) <= names_.size() ? names_[id - 1] : "";
  }

 private:
  Mutex mutex_;
  std::unordered_map<std::string, DispId> ids_ GUARDED_BY(mutex_);
  std::vector<std::string> names_ GUARDED_BY(mutex_);
};

Names& names() {
  static Names n;
  return n;
}

std::string args_text(Args args) {
  std::string s;
  for (const Variant& a : args) {
    s += (s.empty() ? "" : ", ") + a.to_text();
  }
  return s;
}

const Variant& first(Args a) {
  if (a.empty()) {
    throw std::invalid_argument("the fake member takes an argument");
  }
  return a[0];
}

std::int64_t k(std::string_view name) {
  return vendor_constant(name);
}

}  // namespace

FakePtr FakeObject::make(std::string type,
                         std::initializer_list<std::pair<std::string_view, Variant>> props) {
  auto o = std::make_shared<FakeObject>(std::move(type));
  for (const auto& [name, value] : props) {
    o->set(name, value);
  }
  return o;
}

FakePtr FakeObject::collection(std::string type, std::vector<Variant> items) {
  auto c = make(std::move(type));
  for (auto& i : items) {
    c->add_item(std::move(i));
  }
  const auto at = [](FakeObject& self, Args a) -> Variant {
    const auto all = self.items();
    const auto i = first(a).as_int();
    if (i < 0 || static_cast<std::size_t>(i) >= all.size()) {
      throw std::out_of_range(fmt::format("{}: no item {}", self.type_name(), i));
    }
    return all[static_cast<std::size_t>(i)];
  };
  c->on("Count", [](FakeObject& self, Args) -> Variant {
    return static_cast<std::int64_t>(self.items().size());
  });
  c->on("Item", at).on("ItemByIndex", at).on_default(at);
  c->on("ItemByGuid", [](FakeObject& self, Args a) -> Variant {
    for (const Variant& item : self.items()) {
      if (automation::Object(item).get("GUID") == first(a)) {
        return item;
      }
    }
    throw std::out_of_range("no order with id " + first(a).to_text());
  });
  return c;
}

FakeObject& FakeObject::set(std::string_view name, Variant value) {
  MutexLock guard(mutex_);
  props_[folded(name)] = std::move(value);
  return *this;
}

Variant FakeObject::value(std::string_view name) const {
  MutexLock guard(mutex_);
  const auto it = props_.find(folded(name));
  return it == props_.end() ? Variant() : it->second;
}

FakeObject& FakeObject::on(std::string_view name, Method method) {
  MutexLock guard(mutex_);
  methods_[folded(name)] = std::move(method);
  return *this;
}

FakeObject& FakeObject::on_put(std::string_view name, PutHook hook) {
  MutexLock guard(mutex_);
  put_hooks_[folded(name)] = std::move(hook);
  return *this;
}

void FakeObject::add_item(Variant item) {
  MutexLock guard(mutex_);
  items_.push_back(std::move(item));
}

void FakeObject::remove_item(const automation::DispatchPtr& item) {
  MutexLock guard(mutex_);
  std::erase_if(items_, [&](const Variant& v) { return v.as_object_or_null() == item; });
}

std::vector<Variant> FakeObject::items() const {
  MutexLock guard(mutex_);
  return items_;
}

std::vector<std::string> FakeObject::log() const {
  MutexLock guard(mutex_);
  return log_;
}

void FakeObject::fire(std::string_view event, std::vector<Variant> args,
                      std::chrono::milliseconds delay) {
  const auto* e = vendor_type_library().event_interface(kCqgEventInterface).find(event);
  if (e == nullptr) {
    throw std::logic_error("no vendor event " + std::string(event));
  }
  std::weak_ptr<Dispatch> weak = weak_from_this();
  auto task = [weak, id = e->id, args = std::move(args)] {
    if (auto strong = weak.lock()) {
      static_cast<FakeObject&>(*strong).events_.fire(id, args);
    }
  };
  if (!apartment()) {
    task();
  } else if (delay.count() > 0) {
    apartment()->post_after(delay, std::move(task));
  } else {
    apartment()->post(std::move(task));
  }
}

automation::DispId FakeObject::get_id_of_name(std::string_view name) {
  return names().id(name);
}

Variant FakeObject::invoke(DispId id, InvokeKind kind, Args args) {
  if (id == automation::kDispIdNewEnum) {
    return std::make_shared<automation::Enumerator>(items());
  }
  const std::string spelled = id == automation::kDispIdValue ? "_default" : names().name(id);
  const std::string name = folded(spelled);
  if (kind == InvokeKind::PropertyPut) {
    PutHook hook;
    {
      MutexLock guard(mutex_);
      props_[name] = args.back();
      log_.push_back(fmt::format("put {}={}", spelled, args.back().to_text()));
      if (const auto it = put_hooks_.find(name); it != put_hooks_.end()) {
        hook = it->second;
      }
    }
    if (hook) {
      hook(*this, args.back());
    }
    return {};
  }
  Method method;
  {
    MutexLock guard(mutex_);
    if (const auto it = methods_.find(name); it != methods_.end()) {
      method = it->second;
      if (kind == InvokeKind::Method && name != "count" && name != "item" &&
          name != "itembyindex" && name != "_default") {
        log_.push_back(fmt::format("{}({})", spelled, args_text(args)));
      }
    } else if (const auto p = props_.find(name); p != props_.end() && args.empty()) {
      return p->second;
    } else {
      throw automation::UnknownNameError(fmt::format("{} has no member {}", type_, name));
    }
  }
  return method(*this, args);
}

automation::Cookie FakeObject::advise(const automation::DispatchPtr& sink) {
  return events_.advise(sink);
}

void FakeObject::unadvise(automation::Cookie cookie) {
  events_.unadvise(cookie);
}

FakePtr fake_error(std::int64_t code, std::string description) {
  return FakeObject::make("FakeError", {{"Code", code}, {"Description", std::move(description)}});
}

FakePtr fake_quote(std::string_view type_constant, double price, bool valid) {
  return FakeObject::make("FakeQuote",
                          {{"Type", k(type_constant)}, {"Price", price}, {"IsValid", valid}});
}

FakePtr fake_tick(std::string_view price_type_constant, double price, double volume) {
  return FakeObject::make(
      "FakeTick", {{"PriceType", k(price_type_constant)}, {"Price", price}, {"Volume", volume}});
}

FakePtr fake_bar(int minute, double open, double high, double low, double close, double volume) {
  return FakeObject::make(
      "FakeBar",
      {{"Timestamp", make_datetime(2026, 3, 5, 10, minute, 0, std::chrono::microseconds(250))},
       {"Open", open},
       {"High", high},
       {"Low", low},
       {"Close", close},
       {"ActualVolume", volume}});
}

FakePtr fake_account(std::int64_t id, std::string name) {
  auto a = FakeObject::make("FakeAccount", {{"GWAccountID", id}, {"GWAccountName", name}});
  auto summary = FakeObject::make("FakeSummary");
  const auto amount = [](double base) {
    return [base](FakeObject&, Args a) -> Variant { return base + first(a).as_double(); };
  };
  // Index i adds i, so a test can tell which index was read.
  summary->on("Balance", amount(1000))
      .on("Collaterals", amount(100))
      .on("NLV", amount(2000))
      .on("MaintenanceMargin", amount(300))
      .on("ProfitLoss", amount(40))
      .on("UPL", amount(-5));
  a->set("Summary", summary);
  a->set("Positions", FakeObject::collection("FakePositions"));
  return a;
}

FakePtr fake_position(std::string instrument_name, std::string_view side_constant,
                      double average_price, double quantity) {
  return FakeObject::make("FakePosition", {{"InstrumentName", std::move(instrument_name)},
                                           {"Side", k(side_constant)},
                                           {"AveragePrice", average_price},
                                           {"Quantity", quantity},
                                           {"OTE", 1.5},
                                           {"ProfitLoss", 2.5}});
}

FakePtr fake_order(std::string guid, std::string_view status_constant, double average_fill_price,
                   double filled_quantity) {
  auto order = FakeObject::make("FakeOrder", {{"GUID", guid}});
  auto properties = FakeObject::make("FakeProperties");
  const auto value = [](Variant v) {
    return Variant(FakeObject::make("FakeProperty", {{"Value", std::move(v)}}));
  };
  std::map<std::int64_t, Variant> by_id{
      {k("opGWStatus"), value(k(status_constant))},
      {k("opGUID"), value(guid)},
      {k("opEventServerTimestamp"),
       value(make_datetime(2026, 3, 5, 10, 0, 1, std::chrono::microseconds(999)))},
      {k("opAverageFillPrice"), value(average_fill_price)},
      {k("opFilledQuantity"), value(filled_quantity)}};
  properties->on_default(
      [by_id](FakeObject&, Args id) -> Variant { return by_id.at(first(id).as_int()); });
  order->set("Properties", properties);
  return order;
}

FakePtr fake_fill(std::string id, const FakePtr& order, std::string_view status_constant,
                  double price, double quantity) {
  return FakeObject::make(
      "FakeFill", {{"Id", std::move(id)},
                   {"Order", order},
                   {"Status", k(status_constant)},
                   {"Timestamp", make_datetime(2026, 3, 5, 10, 0, 2, std::chrono::microseconds(7))},
                   {"Price", price},
                   {"Quantity", quantity}});
}

FakeVendor::FakeVendor()
    : registration_(std::make_unique<automation::ScopedClassRegistration>(
          std::string(kCqgProgId), [this] { return make_cel(); })) {}

FakeVendor::~FakeVendor() = default;

FakePtr FakeVendor::cel() const {
  for (;;) {
    {
      MutexLock guard(mutex_);
      if (cel_) {
        return cel_;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void FakeVendor::add_instrument(std::string symbol, std::string full_name) {
  MutexLock guard(mutex_);
  instruments_[std::move(symbol)] = FakeObject::make("FakeInstrument", {{"FullName", full_name}});
}

FakePtr FakeVendor::last_ticks() const {
  MutexLock guard(mutex_);
  return last_ticks_;
}

FakePtr FakeVendor::instrument(const std::string& symbol) const {
  MutexLock guard(mutex_);
  const auto it = instruments_.find(symbol);
  return it == instruments_.end() ? nullptr : it->second;
}

void FakeVendor::add_account(FakePtr account) {
  MutexLock guard(mutex_);
  accounts_.push_back(std::move(account));
}

void FakeVendor::set_bars(std::string symbol, std::vector<Variant> bars) {
  MutexLock guard(mutex_);
  bars_[std::move(symbol)] = std::move(bars);
}

FakePtr FakeVendor::last_ticks_request() const {
  MutexLock guard(mutex_);
  return last_ticks_request_;
}

FakePtr FakeVendor::last_bars_request() const {
  MutexLock guard(mutex_);
  return last_bars_request_;
}

std::vector<FakePtr> FakeVendor::orders() const {
  MutexLock guard(mutex_);
  return orders_;
}

// Runs on the API host's worker, so the object and what it makes live in
// the worker's apartment.
FakePtr FakeVendor::make_cel() {
  auto cel = FakeObject::make("FakeCQGCEL", {{"APIConfiguration", FakeObject::make("FakeConfig")}});
  auto instruments = FakeObject::collection("FakeInstruments");
  auto accounts = FakeObject::collection("FakeAccounts");
  auto orders = FakeObject::collection("FakeOrders");
  auto all_ticks = FakeObject::collection("FakeAllTicks");
  auto all_bars = FakeObject::collection("FakeAllTimedBars");
  cel->set("Instruments", instruments)
      .set("Accounts", accounts)
      .set("Orders", orders)
      .set("AllTicks", all_ticks)
      .set("AllTimedBars", all_bars)
      .set("AccountSubscriptionLevel", k("aslNone"));
  FakeObject* self = cel.get();
  cel->on("Startup", [](FakeObject& c, Args) -> Variant {
    c.fire("OnCELStarted", {});
    return {};
  });
  cel->on("Shutdown", [](FakeObject&, Args) -> Variant { return {}; });
  const auto gateway_answer = [this](std::string_view status) {
    return [this, status](FakeObject& c, Args) -> Variant {
      if (settings_.gateway_delay) {
        c.fire("OnGWConnectionStatusChanged", {k(status)}, *settings_.gateway_delay);
      }
      return {};
    };
  };
  cel->on("GWLogon", gateway_answer("csConnectionUp"));
  cel->on("GWLogoff", gateway_answer("csConnectionDown"));
  cel->on_put("AccountSubscriptionLevel", [this, accounts](FakeObject& c, const Variant& level) {
    if (level.as_int() == k("aslNone")) {
      for (const Variant& a : accounts->items()) {
        accounts->remove_item(a.as_object());
      }
      return;
    }
    if (accounts->items().empty()) {
      MutexLock guard(mutex_);
      for (const auto& a : accounts_) {
        accounts->add_item(a);
      }
    }
    if (settings_.accounts_delay) {
      c.fire("OnAccountChanged", {k("actAccountsReloaded"), {}, {}}, *settings_.accounts_delay);
    }
  });
  cel->on("NewInstrument", [this, instruments](FakeObject& c, Args a) -> Variant {
    const std::string symbol = first(a).as_string();
    FakePtr instrument;
    {
      MutexLock guard(mutex_);
      if (const auto it = instruments_.find(symbol); it != instruments_.end()) {
        instrument = it->second;
      }
    }
    if (!settings_.answer_resolutions) {
      return {};
    }
    if (!instrument || settings_.resolution_error) {
      c.fire("OnInstrumentResolved", {symbol, {}, fake_error(5, "unknown symbol " + symbol)});
      return {};
    }
    const auto items = instruments->items();
    if (std::none_of(items.begin(), items.end(),
                     [&](const Variant& v) { return v.as_object() == instrument; })) {
      instruments->add_item(instrument);
    }
    c.fire("OnInstrumentResolved", {symbol, instrument, {}});
    return {};
  });
  cel->on("RemoveInstrument", [instruments](FakeObject&, Args a) -> Variant {
    instruments->remove_item(first(a).as_object());
    return {};
  });
  cel->on("CreateTicksRequest", [this](FakeObject&, Args) -> Variant {
    auto r = FakeObject::make("FakeTicksRequest");
    MutexLock guard(mutex_);
    last_ticks_request_ = r;
    return r;
  });
  cel->on("RequestTicks", [this, all_ticks](FakeObject& c, Args a) -> Variant {
    auto ticks = FakeObject::collection("FakeTicks");
    ticks->set("Request", first(a));
    all_ticks->add_item(ticks);
    {
      MutexLock guard(mutex_);
      last_ticks_ = ticks;
    }
    if (settings_.answer_resolutions) {
      c.fire("OnTicksResolved",
             {ticks, settings_.resolution_error ? Variant(fake_error(6, "no ticks")) : Variant()});
    }
    return ticks;
  });
  cel->on("RemoveTicks", [all_ticks](FakeObject&, Args a) -> Variant {
    all_ticks->remove_item(first(a).as_object());
    return {};
  });
  cel->on("CreateTimedBarsRequest", [this](FakeObject&, Args) -> Variant {
    auto r = FakeObject::make("FakeTimedBarsRequest");
    r->on("IncludeOutput", [](FakeObject&, Args) -> Variant { return {}; });
    MutexLock guard(mutex_);
    last_bars_request_ = r;
    return r;
  });
  cel->on("RequestTimedBars", [this, all_bars](FakeObject& c, Args a) -> Variant {
    const std::string symbol = automation::Object(first(a)).get("Symbol").as_string();
    std::vector<Variant> content;
    {
      MutexLock guard(mutex_);
      content = bars_[symbol];
    }
    auto bars = FakeObject::collection("FakeTimedBars", content);
    bars->set("Request", first(a));
    all_bars->add_item(bars);
    if (settings_.answer_resolutions) {
      c.fire("OnTimedBarsResolved",
             {bars, settings_.resolution_error ? Variant(fake_error(7, "no bars")) : Variant()});
    }
    return bars;
  });
  cel->on("RemoveTimedBars", [all_bars](FakeObject&, Args a) -> Variant {
    all_bars->remove_item(first(a).as_object());
    return {};
  });
  cel->on("CreateOrder", [this, orders, self](FakeObject&, Args) -> Variant {
    std::string guid;
    {
      MutexLock guard(mutex_);
      guid = fmt::format("ORD-{}", next_order_++);
    }
    auto order = fake_order(guid, "osInOrderBook");
    order->on("Cancel", [](FakeObject&, Args) -> Variant { return {}; });
    // Weak references: the order list holds the order, which holds this.
    std::weak_ptr<FakeObject> weak = order;
    std::weak_ptr<FakeObject> weak_orders = orders;
    order->on("Place", [this, weak_orders, self, weak](FakeObject&, Args) -> Variant {
      auto o = weak.lock();
      weak_orders.lock()->add_item(o);
      if (settings_.announce_orders) {
        self->fire("OnOrderChanged", {k("ctAdded"), o, {}, {}, {}});
      }
      return {};
    });
    MutexLock guard(mutex_);
    orders_.push_back(order);
    return order;
  });
  MutexLock guard(mutex_);
  cel_ = cel;
  return cel;
}

}  // namespace orbrix::cqg::testing
