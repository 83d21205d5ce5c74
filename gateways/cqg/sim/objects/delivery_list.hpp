#pragma once

#include <memory>
#include <vector>

namespace orbrix::cqgsim {

// The requests an event is delivered to, taken aside before any is told (a
// handler may add or remove requests meanwhile). The list is kept from
// event to event, so a delivery allocates nothing once warm; a delivery
// that starts while one is under way (from a handler's call) takes a list
// of its own.
//
// Thread: the session's.
template <class T>
class DeliveryList {
 public:
  using List = std::vector<std::shared_ptr<T>>;

  // The requests of `all` that `wanted` picks, for the length of one
  // delivery.
  class Taken {
   public:
    Taken(DeliveryList& owner, const List& all, auto wanted)
        : owner_(owner), outer_(!owner.busy_), list_(outer_ ? owner.kept_ : own_) {
      owner_.busy_ = true;
      for (const auto& item : all) {
        if (wanted(*item)) {
          list_.push_back(item);
        }
      }
    }
    ~Taken() {
      list_.clear();
      if (outer_) {
        owner_.busy_ = false;
      }
    }
    Taken(const Taken&) = delete;
    Taken& operator=(const Taken&) = delete;
    const List& list() const { return list_; }

   private:
    DeliveryList& owner_;
    const bool outer_;
    List own_;
    List& list_;
  };

 private:
  List kept_;
  bool busy_ = false;
};

}  // namespace orbrix::cqgsim
