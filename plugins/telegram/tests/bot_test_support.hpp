#pragma once

// Drives a real TelegramBot through the local Bot API stand-in.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "orbrix/common/datetime.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/telegram/telegram_bot.hpp"
#include "orbrix/telegram/testing/fake_bot_api.hpp"

namespace orbrix::telegram::testing {

inline constexpr std::int64_t operator_chat = 408258968;

// Collects the bot's diagnostic lines.
class LogCollector {
 public:
  LogSink sink() {
    return [this](std::string_view line) {
      {
        MutexLock lock(mutex_);
        lines_.emplace_back(line);
      }
      cv_.notify_all();
    };
  }
  std::vector<std::string> lines() const {
    MutexLock lock(mutex_);
    return lines_;
  }
  std::size_t count(std::string_view needle) const {
    MutexLock lock(mutex_);
    std::size_t n = 0;
    for (const auto& l : lines_) {
      n += l.find(needle) != std::string::npos ? 1 : 0;
    }
    return n;
  }
  // Waits until a line containing `needle` has been written.
  bool wait_for(std::string_view needle, std::chrono::milliseconds timeout = 5s) {
    MutexLock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&]() NO_THREAD_SAFETY_ANALYSIS {
      for (const auto& l : lines_) {
        if (l.find(needle) != std::string::npos) {
          return true;
        }
      }
      return false;
    });
  }

 private:
  mutable Mutex mutex_;
  CondVar cv_;
  std::vector<std::string> lines_ GUARDED_BY(mutex_);
};

// Short time-outs so the suite stays fast; the time stamp is a whole second.
inline BotOptions fast_options(const FakeBotApi& api, LogCollector& log) {
  BotOptions o;
  o.api.api_url = api.url();
  o.api.request_timeout = 3s;
  o.api.connect_timeout = 2s;
  o.polling.poll_timeout = 1s;
  o.polling.poll_margin = 500ms;
  o.polling.backoff_initial = 20ms;
  o.polling.backoff_max = 100ms;
  o.polling.close_timeout = 1s;
  o.default_chat_id = operator_chat;
  o.clock = [] { return make_datetime(2024, 3, 5, 14, 7, 9); };
  o.log = log.sink();
  return o;
}

// Polls `condition` until it holds or `timeout` passes (for state the bot
// offers no wait on).
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

class BotTest : public ::testing::Test {
 protected:
  void start(const std::function<void(BotOptions&)>& adjust = {}) {
    BotOptions o = fast_options(api, log);
    if (adjust) {
      adjust(o);
    }
    bot = std::make_unique<TelegramBot>(api.token(), std::move(o));
  }
  void TearDown() override {
    if (bot) {
      bot->close();
    }
    for (const auto& line : log.lines()) {
      EXPECT_EQ(line.find(api.token()), std::string::npos) << "token printed: " << line;
    }
  }

  // Sends `text` from `chat` and returns the next `replies` messages sent.
  std::vector<SentMessage> exchange(const std::string& text, std::size_t replies = 1,
                                    std::int64_t chat = operator_chat) {
    const std::size_t before = api.sent().size();
    api.push_text(chat, text);
    EXPECT_TRUE(api.wait_for_sent(before + replies)) << "no reply to " << text;
    auto all = api.sent();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end()};
  }
  std::vector<std::string> texts(const std::string& text, std::size_t replies = 1,
                                 std::int64_t chat = operator_chat) {
    std::vector<std::string> out;
    for (auto& m : exchange(text, replies, chat)) {
      out.push_back(m.text);
    }
    return out;
  }
  std::string reply(const std::string& text) {
    auto r = texts(text);
    return r.empty() ? std::string() : r.front();
  }
  // Proves that every update pushed since `mark` (a count of sent messages)
  // was handled without a reply: updates are handled in order, so the echo
  // of a marker pushed now must be the first message after `mark`.
  void expect_silent_since(std::size_t mark) {
    api.push_text(operator_chat, "marker");
    ASSERT_TRUE(api.wait_for_sent(mark + 1));
    EXPECT_EQ(api.sent().at(mark).text, "[ECHO] marker") << "unexpected reply";
  }
  // Pushes `text` from `chat` and expects no reply to it.
  void expect_silent(const std::string& text, std::int64_t chat = operator_chat) {
    const std::size_t mark = api.sent().size();
    api.push_text(chat, text);
    expect_silent_since(mark);
  }

  FakeBotApi api;
  LogCollector log;
  std::unique_ptr<TelegramBot> bot;
};

inline constexpr const char* stamp = "[2024-03-05 14:07:09] ";

}  // namespace orbrix::telegram::testing
