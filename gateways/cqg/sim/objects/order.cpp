#include "objects/order.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "objects/account.hpp"
#include "objects/constants.hpp"
#include "objects/instrument.hpp"
#include "objects/order_desk.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

Order& order(Dispatch& d) {
  return automation::self_as<Order>(d);
}

}  // namespace

const automation::ClassInfo& OrderProperty::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGOrderProperty");
    c.add_property("Value", [](Dispatch& d, Args) -> Variant {
      auto& p = automation::self_as<OrderProperty>(d);
      auto o = p.order_.lock();
      if (!o) {
        throw std::logic_error("the order of this property is gone");
      }
      return o->property_value(p.id_);
    });
    return c;
  }();
  return info;
}

const automation::ClassInfo& OrderProperties::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGOrderProperties");
    c.add_property("Item", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGOrderProperties", "Item");
      auto& self = automation::self_as<OrderProperties>(d);
      const auto id = a[0].as_int();
      auto o = self.order_.lock();
      if (!o) {
        throw std::logic_error("the order of these properties is gone");
      }
      (void)o->property_value(id);  // refuses an unknown id now
      return std::make_shared<OrderProperty>(self.order_, id);
    });
    c.set_default_member("Item");
    return c;
  }();
  return info;
}

Order::Order(std::weak_ptr<OrderDesk> desk, Request request)
    : desk_(std::move(desk)), request_(std::move(request)), status_(constants().osNotSent) {}

const automation::ClassInfo& Order::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGOrder");
    c.add_property(
        "Manual", [](Dispatch& d, Args) -> Variant { return order(d).manual_; },
        [](Dispatch& d, Args, const Variant& v) { order(d).manual_ = v.truthy(); });
    c.add_method("Place", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGOrder", "Place");
      auto& o = order(d);
      auto desk = o.desk_.lock();
      if (!desk) {
        throw std::logic_error("CQGOrder.Place: the simulator of this order is gone");
      }
      desk->place(o);
      return {};
    });
    c.add_method("Cancel", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGOrder", "Cancel");
      auto& o = order(d);
      auto desk = o.desk_.lock();
      if (!desk) {
        throw std::logic_error("CQGOrder.Cancel: the simulator of this order is gone");
      }
      desk->cancel(o);
      return {};
    });
    c.add_property("Properties", [](Dispatch& d, Args) -> Variant {
      auto& o = order(d);
      if (o.properties_) {
        return o.properties_;
      }
      auto made =
          std::make_shared<OrderProperties>(std::static_pointer_cast<Order>(o.shared_from_this()));
      if (!o.finished_) {
        o.properties_ = made;  // read on every event while it works
      }
      return made;
    });
    c.add_property("GUID", [](Dispatch& d, Args) -> Variant { return order(d).guid_; });
    c.add_property("Instrument",
                   [](Dispatch& d, Args) -> Variant { return order(d).request_.instrument; });
    c.add_property("Account",
                   [](Dispatch& d, Args) -> Variant { return order(d).request_.account; });
    c.add_property("Type", [](Dispatch& d, Args) -> Variant { return order(d).request_.type; });
    c.add_property("Side", [](Dispatch& d, Args) -> Variant { return order(d).request_.side; });
    c.add_property("Quantity",
                   [](Dispatch& d, Args) -> Variant { return order(d).request_.quantity; });
    c.add_property("LimitPrice", [](Dispatch& d, Args) -> Variant {
      const auto& p = order(d).request_.limit_price;
      return p ? Variant(*p) : Variant();
    });
    c.add_property("StopPrice", [](Dispatch& d, Args) -> Variant {
      const auto& p = order(d).request_.stop_price;
      return p ? Variant(*p) : Variant();
    });
    c.add_property("FilledQuantity", [](Dispatch& d, Args) -> Variant { return order(d).filled_; });
    c.add_property("AverageFillPrice",
                   [](Dispatch& d, Args) -> Variant { return order(d).average_price_; });
    c.add_property("GWStatus", [](Dispatch& d, Args) -> Variant { return order(d).status_; });
    c.add_property("RejectReason",
                   [](Dispatch& d, Args) -> Variant { return order(d).reject_reason_; });
    return c;
  }();
  return info;
}

Variant Order::property_value(std::int64_t id) const {
  const auto& k = constants();
  if (id == k.opGWStatus) {
    return status_;
  }
  if (id == k.opGUID) {
    return guid_;
  }
  if (id == k.opEventServerTimestamp) {
    return event_time_;
  }
  if (id == k.opAverageFillPrice) {
    return average_price_;
  }
  if (id == k.opFilledQuantity) {
    return filled_;
  }
  if (id == k.opQuantity) {
    return request_.quantity;
  }
  if (id == k.opInstrumentName) {
    return request_.instrument->contract().full_name;
  }
  if (id == k.opSide) {
    return request_.side;
  }
  if (id == k.opLimitPrice) {
    return request_.limit_price ? Variant(*request_.limit_price) : Variant();
  }
  if (id == k.opStopPrice) {
    return request_.stop_price ? Variant(*request_.stop_price) : Variant();
  }
  throw std::out_of_range(fmt::format("CQGOrderProperties: no order property has the id {}", id));
}

const automation::ClassInfo& Fill::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGFill");
    auto self = [](Dispatch& d) -> Fill& { return automation::self_as<Fill>(d); };
    c.add_property("Id", [self](Dispatch& d, Args) -> Variant { return self(d).id_; });
    c.add_property("Status", [self](Dispatch& d, Args) -> Variant { return self(d).status_; });
    c.add_property("Timestamp", [self](Dispatch& d, Args) -> Variant { return self(d).when_; });
    c.add_property("Price", [self](Dispatch& d, Args) -> Variant { return self(d).price_; });
    c.add_property("Quantity", [self](Dispatch& d, Args) -> Variant { return self(d).quantity_; });
    c.add_property("Side", [self](Dispatch& d, Args) -> Variant { return self(d).side_; });
    c.add_property("Order", [self](Dispatch& d, Args) -> Variant { return self(d).order_; });
    return c;
  }();
  return info;
}

}  // namespace orbrix::cqgsim
