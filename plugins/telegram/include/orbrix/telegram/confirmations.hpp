#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "orbrix/common/mutex.hpp"

namespace orbrix::telegram {

class CustomedExtBot;

struct ConfirmOptions {
  // Trading commands wait for the operator's Confirm (TELEGRAM_CONFIRM_TRADES).
  bool enabled = false;
  // How long a Confirm is accepted (TELEGRAM_CONFIRM_SECONDS).
  std::chrono::milliseconds timeout{60'000};
  // The clock the time limit is measured on; default the steady clock.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

// Trading commands asked about with a Confirm / Cancel keyboard and not yet
// answered. Each question has its own token in the buttons' callback data,
// so one press decides one command, once. Thread-safe.
class Confirmations {
 public:
  // What a confirmed command does: raise its request and answer in `chat_id`.
  using Action = std::function<void(CustomedExtBot& bot, std::int64_t chat_id)>;

  // Questions never answered are forgotten beyond this many, oldest first.
  static constexpr std::size_t max_open = 100;
  static constexpr std::string_view confirm_prefix = "confirm:";
  static constexpr std::string_view cancel_prefix = "cancel:";

  explicit Confirmations(ConfirmOptions options);

  bool enabled() const noexcept { return options_.enabled; }
  std::chrono::milliseconds timeout() const noexcept { return options_.timeout; }

  // Remembers a question asked in `chat_id` about `what`; returns its token.
  std::string ask(std::int64_t chat_id, std::string what, Action action);

  enum class Outcome {
    confirmed,   // pressed Confirm in time: carry the action out
    cancelled,   // pressed Cancel
    expired,     // pressed after the time limit
    other_chat,  // pressed in a chat other than the one asked (kept open)
    unknown,     // not a question of ours, or already answered
  };
  struct Decision {
    Outcome outcome = Outcome::unknown;
    std::string what;
    Action action;  // set when confirmed
  };

  // Decides the question a button press names (its callback data) for a
  // press in `chat_id`. Every outcome but other_chat closes the question.
  Decision decide(std::string_view callback_data, std::int64_t chat_id);

 private:
  struct Open {
    std::int64_t chat_id;
    std::string what;
    Action action;
    std::chrono::steady_clock::time_point deadline;
    std::uint64_t number;
  };
  std::chrono::steady_clock::time_point now() const;

  ConfirmOptions options_;
  std::uint64_t salt_;
  Mutex mutex_;
  std::uint64_t next_ GUARDED_BY(mutex_) = 1;
  std::map<std::string, Open, std::less<>> open_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::telegram
