#pragma once

// The bot as the demo's tests run it: against the local Bot API stand-in,
// with short polling bounds, answering the operator's chat.

#include <chrono>
#include <cstdint>
#include <string_view>

#include "orbrix/telegram/telegram_bot.hpp"
#include "orbrix/telegram/testing/fake_bot_api.hpp"

namespace orbrix::demo::testing {

inline constexpr std::int64_t kOperator = 408258968;

inline telegram::BotOptions operator_bot_options(const telegram::testing::FakeBotApi& api) {
  using namespace std::chrono_literals;
  telegram::BotOptions o;
  o.api.api_url = api.url();
  o.polling.poll_timeout = 1s;
  o.polling.poll_margin = 500ms;
  o.polling.backoff_initial = 20ms;
  o.polling.backoff_max = 100ms;
  o.polling.close_timeout = 1s;
  o.default_chat_id = kOperator;
  o.log = [](std::string_view) {};
  return o;
}

}  // namespace orbrix::demo::testing
