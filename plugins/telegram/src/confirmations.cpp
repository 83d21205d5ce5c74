#include "orbrix/telegram/confirmations.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <random>

namespace orbrix::telegram {

Confirmations::Confirmations(ConfirmOptions options)
    : options_(std::move(options)), salt_(std::random_device{}()) {
  // A press on a keyboard left from an earlier run must not match a
  // question of this one.
  salt_ = (salt_ << 32) ^ std::random_device{}();
}

std::chrono::steady_clock::time_point Confirmations::now() const {
  return options_.clock ? options_.clock() : std::chrono::steady_clock::now();
}

std::string Confirmations::ask(std::int64_t chat_id, std::string what, Action action) {
  const auto deadline = now() + options_.timeout;
  MutexLock lock(mutex_);
  const std::uint64_t number = next_++;
  std::string token = fmt::format("{:x}-{:x}", salt_, number);
  if (open_.size() >= max_open) {
    const auto oldest = std::min_element(
        open_.begin(), open_.end(),
        [](const auto& a, const auto& b) { return a.second.number < b.second.number; });
    open_.erase(oldest);
  }
  open_.emplace(token, Open{chat_id, std::move(what), std::move(action), deadline, number});
  return token;
}

Confirmations::Decision Confirmations::decide(std::string_view callback_data,
                                              std::int64_t chat_id) {
  bool confirm = false;
  std::string_view token;
  if (callback_data.starts_with(confirm_prefix)) {
    confirm = true;
    token = callback_data.substr(confirm_prefix.size());
  } else if (callback_data.starts_with(cancel_prefix)) {
    token = callback_data.substr(cancel_prefix.size());
  } else {
    return {};
  }
  const auto at = now();
  MutexLock lock(mutex_);
  const auto it = open_.find(token);
  if (it == open_.end()) {
    return {};
  }
  if (it->second.chat_id != chat_id) {
    return {Outcome::other_chat, it->second.what, {}};
  }
  Decision d;
  d.what = std::move(it->second.what);
  if (at > it->second.deadline) {
    d.outcome = Outcome::expired;
  } else if (confirm) {
    d.outcome = Outcome::confirmed;
    d.action = std::move(it->second.action);
  } else {
    d.outcome = Outcome::cancelled;
  }
  open_.erase(it);
  return d;
}

}  // namespace orbrix::telegram
