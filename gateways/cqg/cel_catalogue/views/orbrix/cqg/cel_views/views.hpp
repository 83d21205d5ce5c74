#pragma once

// Typed views of the vendor's objects: what the gateway and the API host
// read and call, member by member, under the vendor's own names. A view
// holds its object (or a proxy of it) and reaches it by member ids resolved
// once per thread; it reaches only the members the documents name for its
// object (vendor_members.def). Views are as thread-bound as their object:
// use one on the object's apartment thread, or a proxy's from any thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "orbrix/automation/object.hpp"
#include "orbrix/cqg/cel_views/view.hpp"

namespace orbrix::cqg::vendor {

using automation::Object;
using automation::Variant;

// A walk over a collection in collection order, as automation clients walk
// one: its enumerator (_NewEnum), the enumerator's count, then one Next per
// item. Any collection the documents say is walked.
class Enumerator : public View<Enumerator, 2> {
 public:
  static constexpr std::string_view kObject = "Enumerator";
  static constexpr std::array<std::string_view, 2> kMembers{"Count", "Next"};
  explicit Enumerator(Object e) : View(std::move(e)) {}
  std::int64_t Count() const { return get(0).as_int(); }
  Variant Next() const { return call(1); }
};

class Walk {
 public:
  explicit Walk(const Object& collection)
      : enumerator_(Object(
            collection.invoke(automation::kDispIdNewEnum, automation::InvokeKind::Method, {}))),
        left_(enumerator_.Count()) {}
  // The next item, or false after the last.
  bool next(Variant& item) {
    if (left_ <= 0) {
      return false;
    }
    --left_;
    item = enumerator_.Next();
    return true;
  }

 private:
  Enumerator enumerator_;
  std::int64_t left_;
};

class Cel : public View<Cel, 20> {
 public:
  static constexpr std::string_view kObject = "CQGCEL";
  static constexpr std::array<std::string_view, 20> kMembers{"APIConfiguration",
                                                             "Startup",
                                                             "Shutdown",
                                                             "GWLogon",
                                                             "GWLogoff",
                                                             "AccountSubscriptionLevel",
                                                             "Accounts",
                                                             "Instruments",
                                                             "NewInstrument",
                                                             "RemoveInstrument",
                                                             "CreateOrder",
                                                             "Orders",
                                                             "CreateTicksRequest",
                                                             "RequestTicks",
                                                             "RemoveTicks",
                                                             "AllTicks",
                                                             "CreateTimedBarsRequest",
                                                             "RequestTimedBars",
                                                             "RemoveTimedBars",
                                                             "AllTimedBars"};
  explicit Cel(Object cel) : View(std::move(cel)) {}
  Object APIConfiguration() const { return Object(get(0)); }
  void Startup() const { call(1); }
  void Shutdown() const { call(2); }
  void GWLogon(std::string_view user_name, std::string_view password) const {
    call(3, user_name, password);
  }
  void GWLogoff() const { call(4); }
  void AccountSubscriptionLevel(std::int64_t level) const { put(5, level); }
  Object Accounts() const { return Object(get(6)); }
  Object Instruments() const { return Object(get(7)); }
  void NewInstrument(std::string_view symbol) const { call(8, symbol); }
  void RemoveInstrument(const Object& instrument) const { call(9, instrument.dispatch()); }
  // type, instrument, account, quantity, side[, limit price[, stop price]]
  template <class... A>
  Object CreateOrder(A&&... args) const {
    return Object(call(10, std::forward<A>(args)...));
  }
  Object Orders() const { return Object(get(11)); }
  Object CreateTicksRequest() const { return Object(call(12)); }
  Object RequestTicks(const Object& request) const { return Object(call(13, request.dispatch())); }
  void RemoveTicks(const Object& ticks) const { call(14, ticks.dispatch()); }
  Object AllTicks() const { return Object(get(15)); }
  Object CreateTimedBarsRequest() const { return Object(call(16)); }
  Object RequestTimedBars(const Object& request) const {
    return Object(call(17, request.dispatch()));
  }
  void RemoveTimedBars(const Object& bars) const { call(18, bars.dispatch()); }
  Object AllTimedBars() const { return Object(get(19)); }
};

class ApiConfiguration : public View<ApiConfiguration, 6> {
 public:
  static constexpr std::string_view kObject = "APIConfiguration";
  static constexpr std::array<std::string_view, 6> kMembers{
      "CollectionsThrowException", "NewInstrumentChangeMode",
      "ReadyStatusCheck",          "TimeZoneCode",
      "IncludeOrderTransactions",  "UseOrderSide"};
  explicit ApiConfiguration(Object c) : View(std::move(c)) {}
  void CollectionsThrowException(bool v) const { put(0, v); }
  void NewInstrumentChangeMode(bool v) const { put(1, v); }
  void ReadyStatusCheck(std::int64_t v) const { put(2, v); }
  void TimeZoneCode(std::int64_t v) const { put(3, v); }
  void IncludeOrderTransactions(bool v) const { put(4, v); }
  void UseOrderSide(bool v) const { put(5, v); }
};

class Error : public View<Error, 2> {
 public:
  static constexpr std::string_view kObject = "CQGError";
  static constexpr std::array<std::string_view, 2> kMembers{"Code", "Description"};
  explicit Error(Object e) : View(std::move(e)) {}
  Variant Code() const { return get(0); }
  Variant Description() const { return get(1); }
};

class Instrument : public View<Instrument, 2> {
 public:
  static constexpr std::string_view kObject = "CQGInstrument";
  static constexpr std::array<std::string_view, 2> kMembers{"FullName", "DataSubscriptionLevel"};
  explicit Instrument(Object i) : View(std::move(i)) {}
  std::string FullName() const { return get(0).as_string(); }
  void DataSubscriptionLevel(std::int64_t level) const { put(1, level); }
};

class Quote : public View<Quote, 3> {
 public:
  static constexpr std::string_view kObject = "CQGQuote";
  static constexpr std::array<std::string_view, 3> kMembers{"IsValid", "Type", "price"};
  explicit Quote(Object q) : View(std::move(q)) {}
  bool IsValid() const { return get(0).truthy(); }
  std::int64_t Type() const { return get(1).as_int(); }
  double price() const { return get(2).as_double(); }
};

class Account : public View<Account, 6> {
 public:
  static constexpr std::string_view kObject = "CQGAccount";
  static constexpr std::array<std::string_view, 6> kMembers{
      "GWAccountID", "GWAccountName", "AutoSubscribeInstruments", "PositionSubcriptionLevel",
      "Summary",     "Positions"};
  explicit Account(Object a) : View(std::move(a)) {}
  Variant GWAccountID() const { return get(0); }
  Variant GWAccountName() const { return get(1); }
  void AutoSubscribeInstruments(bool v) const { put(2, v); }
  void PositionSubcriptionLevel(std::int64_t level) const { put(3, level); }
  Object Summary() const { return Object(get(4)); }
  Object Positions() const { return Object(get(5)); }
};

class Summary : public View<Summary, 6> {
 public:
  static constexpr std::string_view kObject = "CQGAccountSummary";
  static constexpr std::array<std::string_view, 6> kMembers{
      "Balance", "Collaterals", "NLV", "MaintenanceMargin", "ProfitLoss", "UPL"};
  explicit Summary(Object s) : View(std::move(s)) {}
  double Balance(std::int64_t i) const { return call(0, i).as_double(); }
  double Collaterals(std::int64_t i) const { return call(1, i).as_double(); }
  double NLV(std::int64_t i) const { return call(2, i).as_double(); }
  double MaintenanceMargin(std::int64_t i) const { return call(3, i).as_double(); }
  double ProfitLoss(std::int64_t i) const { return call(4, i).as_double(); }
  double UPL(std::int64_t i) const { return call(5, i).as_double(); }
};

class Positions : public View<Positions, 2> {
 public:
  static constexpr std::string_view kObject = "CQGPositions";
  static constexpr std::array<std::string_view, 2> kMembers{"Count", "ItemByIndex"};
  explicit Positions(Object p) : View(std::move(p)) {}
  std::int64_t Count() const { return get(0).as_int(); }
  Object ItemByIndex(std::int64_t i) const { return Object(call(1, i)); }
};

class Position : public View<Position, 6> {
 public:
  static constexpr std::string_view kObject = "CQGPosition";
  static constexpr std::array<std::string_view, 6> kMembers{
      "InstrumentName", "Side", "AveragePrice", "Quantity", "OTE", "ProfitLoss"};
  explicit Position(Object p) : View(std::move(p)) {}
  Variant InstrumentName() const { return get(0); }
  Variant Side() const { return get(1); }
  Variant AveragePrice() const { return get(2); }
  Variant Quantity() const { return get(3); }
  Variant OTE() const { return get(4); }
  Variant ProfitLoss() const { return get(5); }
};

class TicksRequest : public View<TicksRequest, 5> {
 public:
  static constexpr std::string_view kObject = "CQGTicksRequest";
  static constexpr std::array<std::string_view, 5> kMembers{"Symbol", "Type", "TickFilter",
                                                            "SessionsFilter", "Limit"};
  explicit TicksRequest(Object r) : View(std::move(r)) {}
  std::string Symbol() const { return get(0).as_string(); }
  void Symbol(std::string_view s) const { put(0, s); }
  void Type(std::int64_t t) const { put(1, t); }
  void TickFilter(std::int64_t f) const { put(2, f); }
  void SessionsFilter(std::int64_t f) const { put(3, f); }
  Variant Limit() const { return get(4); }
  void Limit(std::int64_t n) const { put(4, n); }
};

class Ticks : public View<Ticks, 3> {
 public:
  static constexpr std::string_view kObject = "CQGTicks";
  static constexpr std::array<std::string_view, 3> kMembers{"Count", "Item", "Request"};
  explicit Ticks(Object t) : View(std::move(t)) {}
  std::int64_t Count() const { return get(0).as_int(); }
  Object Item(std::int64_t i) const { return Object(call(1, i)); }
  Object Request() const { return Object(get(2)); }
};

class Tick : public View<Tick, 3> {
 public:
  static constexpr std::string_view kObject = "CQGTick";
  static constexpr std::array<std::string_view, 3> kMembers{"PriceType", "Price", "Volume"};
  explicit Tick(Object t) : View(std::move(t)) {}
  std::int64_t PriceType() const { return get(0).as_int(); }
  double Price() const { return get(1).as_double(); }
  double Volume() const { return get(2).as_double(); }
};

class TimedBarsRequest : public View<TimedBarsRequest, 9> {
 public:
  static constexpr std::string_view kObject = "CQGTimedBarsRequest";
  static constexpr std::array<std::string_view, 9> kMembers{
      "Symbol",        "RangeStart",     "RangeEnd",       "HistoricalPeriod", "IntradayPeriod",
      "DailyBarClose", "UpdatesEnabled", "SessionsFilter", "IncludeOutput"};
  explicit TimedBarsRequest(Object r) : View(std::move(r)) {}
  std::string Symbol() const { return get(0).as_string(); }
  void Symbol(std::string_view s) const { put(0, s); }
  void RangeStart(std::int64_t v) const { put(1, v); }
  void RangeEnd(std::int64_t v) const { put(2, v); }
  void HistoricalPeriod(std::int64_t v) const { put(3, v); }
  void IntradayPeriod(std::int64_t v) const { put(4, v); }
  void DailyBarClose(std::int64_t v) const { put(5, v); }
  void UpdatesEnabled(bool v) const { put(6, v); }
  void SessionsFilter(std::string_view v) const { put(7, v); }
  void IncludeOutput(std::int64_t kind, bool flag) const { call(8, kind, flag); }
};

class TimedBars : public View<TimedBars, 3> {
 public:
  static constexpr std::string_view kObject = "CQGTimedBars";
  static constexpr std::array<std::string_view, 3> kMembers{"Count", "Item", "Request"};
  explicit TimedBars(Object b) : View(std::move(b)) {}
  std::int64_t Count() const { return get(0).as_int(); }
  Object Item(std::int64_t i) const { return Object(call(1, i)); }
  Object Request() const { return Object(get(2)); }
};

class TimedBar : public View<TimedBar, 10> {
 public:
  static constexpr std::string_view kObject = "CQGTimedBar";
  static constexpr std::array<std::string_view, 10> kMembers{"Timestamp",
                                                             "Open",
                                                             "High",
                                                             "Low",
                                                             "Close",
                                                             "ActualVolume",
                                                             "ActualVolumeFractional",
                                                             "CommodityVolumeFractional",
                                                             "ContractVolumeFractional",
                                                             "TickVolume"};
  explicit TimedBar(Object b) : View(std::move(b)) {}
  Variant Timestamp() const { return get(0); }
  Variant Open() const { return get(1); }
  Variant High() const { return get(2); }
  Variant Low() const { return get(3); }
  Variant Close() const { return get(4); }
  Variant ActualVolume() const { return get(5); }
  Variant ActualVolumeFractional() const { return get(6); }
  Variant CommodityVolumeFractional() const { return get(7); }
  Variant ContractVolumeFractional() const { return get(8); }
  Variant TickVolume() const { return get(9); }
};

class Orders : public View<Orders, 1> {
 public:
  static constexpr std::string_view kObject = "CQGOrders";
  static constexpr std::array<std::string_view, 1> kMembers{"ItemByGuid"};
  explicit Orders(Object o) : View(std::move(o)) {}
  Object ItemByGuid(std::string_view id) const { return Object(call(0, id)); }
};

class Order : public View<Order, 5> {
 public:
  static constexpr std::string_view kObject = "CQGOrder";
  static constexpr std::array<std::string_view, 5> kMembers{"Manual", "Place", "Cancel",
                                                            "Properties", "GUID"};
  explicit Order(Object o) : View(std::move(o)) {}
  void Manual(std::int64_t v) const { put(0, v); }
  void Place() const { call(1); }
  void Cancel() const { call(2); }
  Object Properties() const { return Object(get(3)); }
  Variant GUID() const { return get(4); }
};

// Order.Properties: called with a property id (opGWStatus, ...).
class OrderProperties : public View<OrderProperties, 1> {
 public:
  static constexpr std::string_view kObject = "CQGOrderProperties";
  static constexpr std::array<std::string_view, 1> kMembers{"_Default"};
  explicit OrderProperties(Object p) : View(std::move(p)) {}
  Object operator()(std::int64_t id) const { return Object(call(0, id)); }
};

class OrderProperty : public View<OrderProperty, 1> {
 public:
  static constexpr std::string_view kObject = "CQGOrderProperty";
  static constexpr std::array<std::string_view, 1> kMembers{"Value"};
  explicit OrderProperty(Object p) : View(std::move(p)) {}
  Variant Value() const { return get(0); }
};

class Fill : public View<Fill, 6> {
 public:
  static constexpr std::string_view kObject = "CQGFill";
  static constexpr std::array<std::string_view, 6> kMembers{"Status",   "Timestamp", "Price",
                                                            "Quantity", "Order",     "Id"};
  explicit Fill(Object f) : View(std::move(f)) {}
  Variant Status() const { return get(0); }
  Variant Timestamp() const { return get(1); }
  double Price() const { return get(2).as_double(); }
  double Quantity() const { return get(3).as_double(); }
  Object Order() const { return Object(get(4)); }
  Variant Id() const { return get(5); }
};

}  // namespace orbrix::cqg::vendor
