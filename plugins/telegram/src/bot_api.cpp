#include "orbrix/telegram/bot_api.hpp"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "http_client.hpp"
#include "json_types.hpp"
#include "orbrix/telegram/errors.hpp"

namespace orbrix::telegram {

namespace {

using nlohmann::json;

// The form Bot API servers accept: the bot's numeric id (no leading zero), a
// colon and a non-empty secret, 80 characters at most. The token travels in
// the URL path, so the secret may hold no white space or other character
// that would change the URL's meaning. Anything else the server refuses with
// a 401 on the first call, long after the bot was built.
constexpr std::size_t max_token_length = 80;

bool is_usable_token(std::string_view token) {
  const auto colon = token.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == token.size() ||
      token.size() > max_token_length || token.front() == '0') {
    return false;
  }
  for (char c : token.substr(0, colon)) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  for (unsigned char c : token.substr(colon + 1)) {
    if (c <= 0x20 || c >= 0x7f || c == '/' || c == '?' || c == '#' || c == '%') {
      return false;
    }
  }
  return true;
}

// A 429's parameters.retry_after in whole seconds, whatever number type the
// server wrote it as; nullopt when it is not a number.
std::optional<std::int64_t> retry_after_seconds(const json& value) {
  constexpr auto most = std::numeric_limits<std::int64_t>::max();
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    return v > static_cast<std::uint64_t>(most) ? most : static_cast<std::int64_t>(v);
  }
  if (value.is_number_integer()) {
    return value.get<std::int64_t>();
  }
  if (value.is_number_float()) {
    const double v = std::ceil(value.get<double>());
    if (std::isnan(v)) {
      return std::nullopt;
    }
    if (v >= 9.2e18) {
      return most;
    }
    return v <= -9.2e18 ? -most : static_cast<std::int64_t>(v);
  }
  return std::nullopt;
}

std::string trim_trailing_slashes(std::string url) {
  while (!url.empty() && url.back() == '/') {
    url.pop_back();
  }
  return url;
}

}  // namespace

BotApi::BotApi(std::string token, ApiOptions options)
    : token_(std::move(token)), options_(std::move(options)) {
  if (!is_usable_token(token_)) {
    throw std::invalid_argument(
        "invalid Telegram bot token: expected the bot's numeric id, a colon and the secret, "
        "without white space");
  }
  options_.api_url = trim_trailing_slashes(options_.api_url);
  if (options_.api_url.empty()) {
    throw std::invalid_argument("empty Telegram API URL");
  }
  http_ = std::make_unique<HttpClient>();
}

BotApi::~BotApi() = default;

std::string BotApi::redact(std::string text) const {
  if (token_.empty()) {
    return text;
  }
  for (auto pos = text.find(token_); pos != std::string::npos; pos = text.find(token_, pos)) {
    text.replace(pos, token_.size(), "<token>");
  }
  return text;
}

std::string BotApi::call(std::string_view method, const std::string& body,
                         std::chrono::milliseconds timeout, CancelSource* cancel) {
  const std::string url = fmt::format("{}/bot{}/{}", options_.api_url, token_, method);
  HttpResult r = http_->post_json(url, body, options_.connect_timeout, timeout, cancel);
  if (r.outcome == HttpResult::Outcome::cancelled) {
    throw Cancelled(fmt::format("Telegram {} cancelled", method));
  }
  if (r.outcome == HttpResult::Outcome::failed) {
    throw NetworkError(redact(fmt::format("Telegram {} failed: {}", method, r.error)));
  }

  json answer = json::parse(r.body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object() || !answer.contains("ok")) {
    throw BadResponse(
        fmt::format("Telegram {} failed: HTTP {} with a body that is not a "
                    "Bot API answer ({} bytes)",
                    method, r.status, r.body.size()));
  }
  if (answer["ok"] == true) {
    auto result = answer.find("result");
    if (result == answer.end()) {
      throw BadResponse(fmt::format("Telegram {} failed: answer without result", method));
    }
    return result->dump();
  }

  int code = static_cast<int>(r.status);
  if (auto it = answer.find("error_code"); it != answer.end() && it->is_number_integer()) {
    code = it->get<int>();
  }
  std::string description = "(no description)";
  if (auto it = answer.find("description"); it != answer.end() && it->is_string()) {
    description = redact(it->get<std::string>());
  }
  std::optional<std::int64_t> retry_after;
  if (auto p = answer.find("parameters"); p != answer.end() && p->is_object()) {
    if (auto ra = p->find("retry_after"); ra != p->end()) {
      retry_after = retry_after_seconds(*ra);
    }
  }
  throw ApiError(fmt::format("Telegram {} failed: error {}: {}", method, code, description), code,
                 description, retry_after);
}

User BotApi::get_me(CancelSource* cancel) {
  json result = json::parse(call("getMe", "{}", options_.request_timeout, cancel));
  auto user = user_from_json(result);
  if (!user) {
    throw BadResponse("Telegram getMe failed: the answer is not a user");
  }
  return *user;
}

UpdateBatch BotApi::get_updates(std::int64_t offset, std::chrono::seconds poll_timeout,
                                std::chrono::milliseconds abandon_after, CancelSource* cancel,
                                const std::vector<std::string>& allowed_updates) {
  json request = {{"offset", offset}, {"timeout", poll_timeout.count()}};
  if (!allowed_updates.empty()) {
    request["allowed_updates"] = allowed_updates;
  }
  json result = json::parse(call("getUpdates", request.dump(), abandon_after, cancel));
  return update_batch_from_json(result, offset);
}

void BotApi::delete_webhook(CancelSource* cancel) {
  // Pending updates are kept: they are the commands polling is about to serve.
  json request = {{"drop_pending_updates", false}};
  call("deleteWebhook", request.dump(), options_.request_timeout, cancel);
}

void BotApi::send_message(std::int64_t chat_id, std::string_view text, CancelSource* cancel,
                          const InlineKeyboard* keyboard) {
  json request = {{"chat_id", chat_id}, {"text", std::string(text)}};
  if (keyboard != nullptr) {
    json rows = json::array();
    for (const auto& row : *keyboard) {
      json buttons = json::array();
      for (const auto& button : row) {
        buttons.push_back({{"text", button.text}, {"callback_data", button.callback_data}});
      }
      rows.push_back(std::move(buttons));
    }
    request["reply_markup"] = {{"inline_keyboard", std::move(rows)}};
  }
  // Bytes that are not UTF-8 are sent as U+FFFD rather than failing the call.
  call("sendMessage", request.dump(-1, ' ', false, json::error_handler_t::replace),
       options_.request_timeout, cancel);
}

void BotApi::answer_callback_query(const std::string& callback_query_id, std::string_view text,
                                   CancelSource* cancel) {
  json request = {{"callback_query_id", callback_query_id}};
  if (!text.empty()) {
    request["text"] = std::string(text);
  }
  call("answerCallbackQuery", request.dump(-1, ' ', false, json::error_handler_t::replace),
       options_.request_timeout, cancel);
}

void BotApi::set_my_commands(const std::vector<BotCommand>& commands, CancelSource* cancel) {
  json list = json::array();
  for (const BotCommand& c : commands) {
    list.push_back({{"command", c.command}, {"description", c.description}});
  }
  json request = {{"commands", std::move(list)}};
  call("setMyCommands", request.dump(-1, ' ', false, json::error_handler_t::replace),
       options_.request_timeout, cancel);
}

}  // namespace orbrix::telegram
