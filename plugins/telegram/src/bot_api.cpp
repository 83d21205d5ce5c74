#include "orbrix/telegram/bot_api.hpp"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "http_client.hpp"
#include "json_types.hpp"
#include "orbrix/telegram/errors.hpp"

namespace orbrix::telegram {

namespace {

using nlohmann::json;

// A token travels in the URL path, so it may hold no character that would
// change the URL's meaning.
bool is_usable_token(std::string_view token) {
  if (token.empty())
    return false;
  for (unsigned char c : token) {
    if (c <= 0x20 || c >= 0x7f || c == '/' || c == '?' || c == '#' || c == '%')
      return false;
  }
  return true;
}

std::string trim_trailing_slashes(std::string url) {
  while (!url.empty() && url.back() == '/')
    url.pop_back();
  return url;
}

}  // namespace

BotApi::BotApi(std::string token, ApiOptions options)
    : token_(std::move(token)), options_(std::move(options)) {
  if (!is_usable_token(token_)) {
    throw std::invalid_argument("invalid Telegram bot token (empty or not URL-safe)");
  }
  options_.api_url = trim_trailing_slashes(options_.api_url);
  if (options_.api_url.empty())
    throw std::invalid_argument("empty Telegram API URL");
  http_ = std::make_unique<HttpClient>();
}

BotApi::~BotApi() = default;

std::string BotApi::redact(std::string text) const {
  if (token_.empty())
    return text;
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
  std::optional<int> retry_after;
  if (auto p = answer.find("parameters"); p != answer.end() && p->is_object()) {
    if (auto ra = p->find("retry_after"); ra != p->end() && ra->is_number_integer()) {
      retry_after = ra->get<int>();
    }
  }
  throw ApiError(fmt::format("Telegram {} failed: error {}: {}", method, code, description), code,
                 description, retry_after);
}

User BotApi::get_me(CancelSource* cancel) {
  json result = json::parse(call("getMe", "{}", options_.request_timeout, cancel));
  auto user = user_from_json(result);
  if (!user)
    throw BadResponse("Telegram getMe failed: the answer is not a user");
  return *user;
}

std::vector<Update> BotApi::get_updates(std::int64_t offset, std::chrono::seconds poll_timeout,
                                        std::chrono::milliseconds abandon_after,
                                        CancelSource* cancel) {
  json request = {{"offset", offset}, {"timeout", poll_timeout.count()}};
  json result = json::parse(call("getUpdates", request.dump(), abandon_after, cancel));
  if (!result.is_array())
    throw BadResponse("Telegram getUpdates failed: result is not a list");
  std::vector<Update> updates;
  updates.reserve(result.size());
  for (const json& item : result)
    updates.push_back(update_from_json(item));
  return updates;
}

void BotApi::send_message(std::int64_t chat_id, std::string_view text, CancelSource* cancel) {
  json request = {{"chat_id", chat_id}, {"text", std::string(text)}};
  // Bytes that are not UTF-8 are sent as U+FFFD rather than failing the call.
  call("sendMessage", request.dump(-1, ' ', false, json::error_handler_t::replace),
       options_.request_timeout, cancel);
}

}  // namespace orbrix::telegram
