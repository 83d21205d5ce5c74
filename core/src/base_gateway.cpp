#include "orbrix/core/base_gateway.hpp"

namespace orbrix {

// Defined here so the class's vtable and type information live in this
// library, once.
BaseGateway::~BaseGateway() = default;

void BaseGateway::process_connection(const ConnectionEvent&) {}
void BaseGateway::process_data_connection(std::int64_t) {}
void BaseGateway::process_subscription_failure(const SubscriptionFailure&) {}
void BaseGateway::process_trading_state(const TradingStateChange&) {}

}  // namespace orbrix
