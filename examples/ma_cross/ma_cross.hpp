#pragma once

// An example strategy written only against the installed headers: a moving
// average cross on one-minute bars. Each minute, for each symbol, it
// compares the mean close of the last `fast` completed bars with that of the
// last `slow`: when the fast mean crosses above the slow one it goes long
// one contract, when it crosses below it goes short one; at the end it
// closes what it holds. The same class runs live and in a backtest.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/cqg/engine.hpp"

namespace example {

// The symbol table and hooks: every vendor symbol of a traded contract (short
// "EP", dated "EPZ26" or full "F.US.EPZ26") maps to its security.
class CrossGateway final : public orbrix::BaseGateway {
 public:
  explicit CrossGateway(const std::vector<std::string>& symbols);

  std::optional<orbrix::Security> get_eng_security_from_cqg_symbol(
      std::string_view cqg_symbol) override;
  std::string get_cqg_symbol_from_eng_security(const orbrix::Security& security) override;
  void process_quote(const orbrix::Quote&) override {}
  void process_orderbook(const orbrix::OrderBook&) override {}
  void process_order(const orbrix::OrderUpdate&) override {}
  void process_deal(const orbrix::Deal& deal) override;

  const std::vector<orbrix::Security>& securities() const { return securities_; }
  std::size_t deals() const;

 private:
  std::vector<orbrix::Security> securities_;
  mutable std::mutex mutex_;
  std::size_t deals_ = 0;  // guarded by mutex_: hooks run on the worker
};

class MovingAverageCross final : public orbrix::cqg::Engine {
 public:
  static constexpr int kFast = 5;
  static constexpr int kSlow = 20;
  // The one-minute bars its window looks back with the default averages:
  // the slow one's, now and a minute before, and one more.
  static constexpr std::int64_t kBarLookBack = kSlow + 2;

  MovingAverageCross(std::vector<std::string> symbols, int fast = kFast, int slow = kSlow,
                     std::chrono::milliseconds interval = std::chrono::minutes(1));

  orbrix::BaseGateway& gateway() override { return gateway_; }
  std::chrono::milliseconds interval() const override { return interval_; }
  void start(orbrix::cqg::BrokerLink& link) override;
  void on_timer(orbrix::cqg::BrokerLink& link, TimePoint now) override;
  void stop(orbrix::cqg::BrokerLink& link) override;

  // The decision on closes (oldest first): +1 when the fast mean has just
  // crossed above the slow one, -1 below, 0 otherwise.
  static int signal(const std::vector<double>& closes, int fast, int slow);

  std::int64_t position(std::string_view symbol) const;
  const CrossGateway& cross_gateway() const { return gateway_; }

 private:
  void trade_to(orbrix::cqg::BrokerLink& link, const orbrix::Security& security,
                std::int64_t target);

  std::vector<std::string> symbols_;
  int fast_;
  int slow_;
  std::chrono::milliseconds interval_;
  CrossGateway gateway_;
  std::map<std::string, std::int64_t, std::less<>> position_;  // runner's thread only
};

}  // namespace example
