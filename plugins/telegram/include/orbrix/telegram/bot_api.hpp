#pragma once

// The Bot API client: one call, one HTTPS request (libcurl), JSON answers.
// Proxies come from libcurl's usual environment variables (https_proxy,
// ALL_PROXY, NO_PROXY).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/telegram/cancel_source.hpp"
#include "orbrix/telegram/types.hpp"

namespace orbrix::telegram {

inline constexpr std::string_view default_api_url = "https://api.telegram.org";

struct ApiOptions {
  // Base URL: the public Bot API, a local Bot API server, or a test stand-in.
  std::string api_url{default_api_url};
  std::chrono::milliseconds connect_timeout{10'000};
  // Whole-request limit for calls that do not long-poll.
  std::chrono::milliseconds request_timeout{15'000};
  // A message refused with 429 and a retry_after is sent again after that
  // wait, at most `send_retries` times and `send_retry_budget` of waiting
  // in all (ExtBot::send_message).
  int send_retries = 2;
  std::chrono::milliseconds send_retry_budget{10'000};
};

class HttpClient;

class BotApi {
 public:
  // Throws std::invalid_argument for a token not of the form Bot API servers
  // accept ("<digits>:<secret>", no white space; see bot_api.cpp) and for an
  // empty API URL; the message never contains the token.
  BotApi(std::string token, ApiOptions options);
  ~BotApi();
  BotApi(const BotApi&) = delete;
  BotApi& operator=(const BotApi&) = delete;

  // All calls are thread-safe, block for at most their time-out and raise
  // ApiError, NetworkError, BadResponse or Cancelled.

  // getMe: the bot's own user.
  User get_me(CancelSource* cancel = nullptr);

  // getUpdates: updates with update_id >= offset (which also confirms every
  // lower one to the server). The server holds the request up to
  // `poll_timeout` while nothing is pending; the request is abandoned after
  // `abandon_after`. Items that cannot be read are listed, not raised (see
  // parse_update_batch). `allowed_updates` names the kinds of update wanted
  // (the server remembers the last list it was given); empty: not sent.
  UpdateBatch get_updates(std::int64_t offset, std::chrono::seconds poll_timeout,
                          std::chrono::milliseconds abandon_after, CancelSource* cancel = nullptr,
                          const std::vector<std::string>& allowed_updates = {});

  // deleteWebhook, keeping the pending updates: while a webhook is set, every
  // getUpdates is refused with a 409.
  void delete_webhook(CancelSource* cancel = nullptr);

  // sendMessage with exactly this text (no splitting, no retry here), and
  // the inline keyboard when one is given.
  void send_message(std::int64_t chat_id, std::string_view text, CancelSource* cancel = nullptr,
                    const InlineKeyboard* keyboard = nullptr);

  // answerCallbackQuery: stops the client's progress indicator on the
  // pressed button, showing `text` briefly when not empty.
  void answer_callback_query(const std::string& callback_query_id, std::string_view text,
                             CancelSource* cancel = nullptr);

  // setMyCommands: the command menu the clients show.
  void set_my_commands(const std::vector<BotCommand>& commands, CancelSource* cancel = nullptr);

  const ApiOptions& options() const noexcept { return options_; }

  // Replaces every occurrence of the token in `text`.
  std::string redact(std::string text) const;

 private:
  std::string call(std::string_view method, const std::string& body,
                   std::chrono::milliseconds timeout, CancelSource* cancel);

  std::string token_;
  ApiOptions options_;
  std::unique_ptr<HttpClient> http_;
};

}  // namespace orbrix::telegram
