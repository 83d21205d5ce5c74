#pragma once

// A local stand-in for the Telegram Bot API server on 127.0.0.1 (ephemeral
// port), spoken to over real HTTP. It serves getMe, getUpdates (long polling
// over a queue of updates a test pushes; an update is gone only when a later
// call confirms it with a higher offset), deleteWebhook (getUpdates answers
// 409 while a webhook is set), sendMessage (recorded, with the real
// server's length, blank-text and chat checks), answerCallbackQuery and
// setMyCommands (recorded, with the real server's checks), and answers with
// scripted faults.

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "orbrix/common/mutex.hpp"

namespace httplib {
class Server;
}

namespace orbrix::telegram::testing {

using namespace std::chrono_literals;

struct SentMessage {
  std::int64_t chat_id = 0;
  std::string text;
  nlohmann::json reply_markup;  // null when none was sent
  std::int64_t message_id = 0;
};

struct Call {
  std::string method;
  std::chrono::steady_clock::time_point at;
  std::optional<std::int64_t> offset;   // getUpdates
  std::optional<std::int64_t> timeout;  // getUpdates
  nlohmann::json params;                // every parameter as received
};

// One answer given instead of the normal one.
struct Scripted {
  int status = 200;
  std::string body;
  std::string content_type = "application/json";
  bool drop_connection = false;        // headers, then the connection closes
  std::chrono::milliseconds delay{0};  // wait before answering
  bool then_serve = false;             // after the delay, answer normally
};

enum class Fault {
  unauthorized,       // 401
  chat_not_found,     // 400
  conflict,           // 409, another getUpdates
  too_many_requests,  // 429 with parameters.retry_after
  server_error,       // 500
  bad_gateway_html,   // 502, nginx HTML page
  malformed_json,     // 200 with a cut-off body
  drop_connection,    // connection closed mid-answer
};

class FakeBotApi {
 public:
  struct Options {
    std::string token = "123456789:AAHdqTcvCH1vGWJxfSeofSAs0K5PALDsaw";
    std::string username = "Orbrix_Test_Bot";
    std::int64_t bot_id = 123456789;
  };

  FakeBotApi();
  explicit FakeBotApi(Options options);
  ~FakeBotApi();
  FakeBotApi(const FakeBotApi&) = delete;
  FakeBotApi& operator=(const FakeBotApi&) = delete;

  // Base URL, "http://127.0.0.1:<port>".
  std::string url() const;
  const std::string& token() const { return options_.token; }
  const std::string& username() const { return options_.username; }

  // Queues an update under the next update_id; returns the id. Its message
  // is dated now, as the server dates a message when it receives one (so a
  // fixture captured years ago stands for a message sent just now).
  std::int64_t push(nlohmann::json update);
  // Queues an update as given, keeping its own update_id and dates.
  void push_raw(nlohmann::json update);
  // Queues a text message from `chat_id` (sender id = chat id) of the given
  // kind ("message", "edited_message", "channel_post"), dated now. A text
  // starting with '/' carries a bot_command entity over its first word, as
  // Telegram sets it.
  std::int64_t push_text(std::int64_t chat_id, const std::string& text,
                         const std::string& kind = "message");
  // Several text messages from `chat_id` queued at once, so that one
  // getUpdates brings them all. Returns their ids.
  std::vector<std::int64_t> push_texts(std::int64_t chat_id, const std::vector<std::string>& texts);
  // A press on the button with `data` under the message `message_id` of
  // chat `chat_id` (pressed by user `chat_id`). Returns the press's id (the
  // callback_query_id to answer).
  std::string push_press(std::int64_t chat_id, std::int64_t message_id, const std::string& data);
  // The same message, sent `age` ago (it waited on the server since).
  std::int64_t push_text_sent_ago(std::int64_t chat_id, const std::string& text,
                                  std::chrono::seconds age);
  // The machine's clock, Unix time: how the server dates messages.
  static std::int64_t unix_time();
  // The update push_text queues, without its update_id: for push_raw.
  nlohmann::json text_message(std::int64_t chat_id, const std::string& text,
                              const std::string& kind, std::int64_t date);
  // Queues `item` under the next update_id as the server counts, but sends
  // it as given: without an update_id, or not even an object.
  std::int64_t push_malformed(nlohmann::json item);
  // Updates not yet confirmed.
  std::size_t pending() const;

  // The next `times` calls of `method` get `answer`.
  void script(const std::string& method, Scripted answer, int times = 1);
  static Scripted fault(Fault fault, std::int64_t retry_after = 1);
  // sendMessage to this chat fails with 400 "chat not found".
  void reject_chat(std::int64_t chat_id);
  // Sets a webhook on the token: getUpdates answers 409 until deleteWebhook.
  void set_webhook(const std::string& url);
  bool webhook_set() const;
  // A broken server that sends every update again, whatever the offset.
  void ignore_offset(bool ignore);

  std::vector<SentMessage> sent() const;
  // Waits until at least `n` messages were sent; false on time-out.
  bool wait_for_sent(std::size_t n, std::chrono::milliseconds timeout = 5s) const;
  std::vector<Call> calls(const std::string& method = {}) const;
  // Waits until `method` was called at least `n` times; false on time-out.
  bool wait_for_calls(const std::string& method, std::size_t n,
                      std::chrono::milliseconds timeout = 5s) const;

 private:
  struct Reply {
    int status = 200;
    std::string body;
    std::string content_type = "application/json";
    bool drop_connection = false;
  };
  Reply handle(const std::string& token, const std::string& method, const nlohmann::json& params);
  Reply get_updates(const nlohmann::json& params);
  Reply send_message(const nlohmann::json& params);
  Reply get_me() const;
  Reply answer_callback_query(const nlohmann::json& params);
  Reply set_my_commands(const nlohmann::json& params);
  Reply delete_webhook(const nlohmann::json& params);
  std::int64_t queue(nlohmann::json item, std::optional<std::int64_t> id);
  std::int64_t queue_numbered(nlohmann::json update, bool date_now);

  Options options_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;

  mutable Mutex mutex_;
  mutable CondVar cv_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  struct Queued {
    std::int64_t update_id = 0;  // as the server counts, whatever the body says
    nlohmann::json body;
  };
  std::deque<Queued> updates_ GUARDED_BY(mutex_);
  std::optional<std::string> webhook_ GUARDED_BY(mutex_);
  bool ignore_offset_ GUARDED_BY(mutex_) = false;
  std::int64_t next_update_id_ GUARDED_BY(mutex_) = 700000001;
  std::int64_t next_message_id_ GUARDED_BY(mutex_) = 1;
  std::int64_t next_callback_id_ GUARDED_BY(mutex_) = 1;
  std::map<std::string, std::deque<Scripted>> scripts_ GUARDED_BY(mutex_);
  std::set<std::int64_t> rejected_chats_ GUARDED_BY(mutex_);
  std::vector<SentMessage> sent_ GUARDED_BY(mutex_);
  std::vector<Call> calls_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::telegram::testing
