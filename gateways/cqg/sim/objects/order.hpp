#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"
#include "venue/trading/paper_broker.hpp"

namespace orbrix::cqgsim {

class Account;
class Instrument;
class Order;
class OrderDesk;

// Order.Properties: called with a property id (opGWStatus, ...) it gives
// the property object whose Value is read. Property objects are made when
// asked for and not kept: each reads its value from the order when read.
class OrderProperties final : public SimObject<OrderProperties> {
 public:
  explicit OrderProperties(std::weak_ptr<Order> order) : order_(std::move(order)) {}
  static const automation::ClassInfo& class_info();

 private:
  std::weak_ptr<Order> order_;
};

class OrderProperty final : public SimObject<OrderProperty> {
 public:
  OrderProperty(std::weak_ptr<Order> order, std::int64_t id) : order_(std::move(order)), id_(id) {}
  static const automation::ClassInfo& class_info();

 private:
  std::weak_ptr<Order> order_;
  std::int64_t id_;
};

// An order: made by CreateOrder, placed by Place. Its status and fill
// figures are those of the latest order event fired for it. Besides the
// vendor's members it offers RejectReason: why the venue rejected it (empty
// otherwise), for tests and users of the simulator.
class Order final : public SimObject<Order> {
 public:
  struct Request {
    std::int64_t type = 0;  // otMarket, otLimit, otStop, otStopLimit
    std::shared_ptr<Instrument> instrument;
    std::shared_ptr<Account> account;
    std::int64_t quantity = 0;
    std::int64_t side = 0;  // osdBuy, osdSell
    std::optional<double> limit_price;
    std::optional<double> stop_price;
  };

  Order(std::weak_ptr<OrderDesk> desk, Request request);
  static const automation::ClassInfo& class_info();

  const Request& request() const { return request_; }
  bool placed() const { return index_.has_value(); }
  std::size_t index() const { return *index_; }
  void set_placed(std::size_t index, std::string guid) {
    index_ = index;
    guid_ = std::move(guid);
  }
  const std::string& guid() const { return guid_; }
  // The figures handlers see, from an order event.
  void present(std::int64_t status, std::int64_t filled, double average_price,
               automation::Date when) {
    status_ = status;
    filled_ = filled;
    average_price_ = average_price;
    event_time_ = when;
  }
  void set_reject_reason(std::string reason) { reject_reason_ = std::move(reason); }
  // Finished (filled, cancelled or rejected): it keeps only what a look-up
  // by id still answers.
  void finish() {
    finished_ = true;
    properties_.reset();
  }
  bool finished() const { return finished_; }
  automation::Variant property_value(std::int64_t id) const;
  // The figures of the latest order event, for the direct path.
  std::int64_t status() const { return status_; }
  std::int64_t filled() const { return filled_; }
  double average_price() const { return average_price_; }
  automation::Date event_time() const { return event_time_; }

 private:
  std::weak_ptr<OrderDesk> desk_;
  Request request_;
  bool manual_ = true;
  std::optional<std::size_t> index_;
  std::string guid_;
  std::int64_t status_ = 0;
  std::int64_t filled_ = 0;
  double average_price_ = 0;
  automation::Date event_time_{};
  std::string reject_reason_;
  bool finished_ = false;
  std::shared_ptr<OrderProperties> properties_;  // made on first use while it works
};

// One execution: Id, Status, Timestamp, Price, Quantity, Side, Order.
class Fill final : public SimObject<Fill> {
 public:
  Fill(std::string id, std::int64_t status, automation::Date when, double price,
       std::int64_t quantity, std::int64_t side, std::shared_ptr<Order> order)
      : id_(std::move(id)),
        status_(status),
        when_(when),
        price_(price),
        quantity_(quantity),
        side_(side),
        order_(std::move(order)) {}
  static const automation::ClassInfo& class_info();

 private:
  std::string id_;
  std::int64_t status_;
  automation::Date when_;
  double price_;
  std::int64_t quantity_;
  std::int64_t side_;
  std::shared_ptr<Order> order_;
};

}  // namespace orbrix::cqgsim
