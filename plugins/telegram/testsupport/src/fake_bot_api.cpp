#include "orbrix/telegram/testing/fake_bot_api.hpp"

#include <httplib.h>

#include <algorithm>
#include <stdexcept>

#include "orbrix/telegram/testing/fixtures.hpp"

namespace orbrix::telegram::testing {

namespace {

using nlohmann::json;

constexpr std::size_t max_message_units = 4096;

std::size_t utf16_units(const std::string& s) {
  std::size_t units = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) {
      units += (c >= 0xF0) ? 2 : 1;
    }
  }
  return units;
}

std::optional<std::int64_t> integer_param(const json& params, const char* key) {
  auto it = params.find(key);
  if (it == params.end()) {
    return std::nullopt;
  }
  if (it->is_number_integer()) {
    return it->get<std::int64_t>();
  }
  if (it->is_string()) {
    try {
      return std::stoll(it->get<std::string>());
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// Telegram's command entity covers '/' and the following command characters.
std::size_t command_length(const std::string& text) {
  std::size_t n = 1;
  while (n < text.size()) {
    const char c = text[n];
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '@';
    if (!word) {
      break;
    }
    ++n;
  }
  return n;
}

std::int64_t unix_now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

FakeBotApi::FakeBotApi() : FakeBotApi(Options{}) {}

std::int64_t FakeBotApi::unix_time() {
  return unix_now();
}

FakeBotApi::FakeBotApi(Options options)
    : options_(std::move(options)), server_(std::make_unique<httplib::Server>()) {
  const auto route = [this](const httplib::Request& req, httplib::Response& res) {
    json params = json::object();
    if (!req.body.empty() &&
        req.get_header_value("Content-Type").find("json") != std::string::npos) {
      params = json::parse(req.body, nullptr, false);
      if (params.is_discarded() || !params.is_object()) {
        params = json::object();
      }
    }
    for (const auto& [key, value] : req.params) {
      params[key] = value;
    }

    Reply reply = handle(req.matches[1], req.matches[2], params);
    if (reply.drop_connection) {
      // Promise a body, send none: the client sees the connection drop.
      res.status = 200;
      res.set_content_provider(64, "application/json",
                               [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
      return;
    }
    res.status = reply.status;
    res.set_content(reply.body, reply.content_type);
  };
  server_->Post(R"(/bot([^/]+)/([A-Za-z]+))", route);
  server_->Get(R"(/bot([^/]+)/([A-Za-z]+))", route);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) {
    throw std::runtime_error("the Bot API stand-in could not bind 127.0.0.1");
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() before the accept loop has started would be lost, so the server
  // is handed out only once it runs. httplib offers no wait for this.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
}

FakeBotApi::~FakeBotApi() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  server_->stop();
  if (thread_.joinable()) {
    thread_.join();
  }
}

std::string FakeBotApi::url() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::int64_t FakeBotApi::queue(json item, std::optional<std::int64_t> id) {
  std::int64_t update_id = 0;
  {
    MutexLock lock(mutex_);
    update_id = id ? *id : next_update_id_;
    next_update_id_ = std::max(next_update_id_, update_id + 1);
    updates_.push_back(Queued{update_id, std::move(item)});
  }
  cv_.notify_all();
  return update_id;
}

std::int64_t FakeBotApi::push(json update) {
  return queue_numbered(std::move(update), true);
}

std::int64_t FakeBotApi::queue_numbered(json update, bool date_now) {
  std::int64_t id = 0;
  {
    MutexLock lock(mutex_);
    id = next_update_id_++;
    update["update_id"] = id;
    if (auto message = update.find("message");
        date_now && message != update.end() && message->is_object()) {
      (*message)["date"] = unix_now();
    }
    updates_.push_back(Queued{id, std::move(update)});
  }
  cv_.notify_all();
  return id;
}

void FakeBotApi::push_raw(json update) {
  const auto id = update.at("update_id").get<std::int64_t>();
  queue(std::move(update), id);
}

std::int64_t FakeBotApi::push_malformed(json item) {
  return queue(std::move(item), std::nullopt);
}

json FakeBotApi::text_message(std::int64_t chat_id, const std::string& text,
                              const std::string& kind, std::int64_t date) {
  std::int64_t message_id = 0;
  {
    MutexLock lock(mutex_);
    message_id = next_message_id_++;
  }
  json message = {
      {"message_id", message_id},
      {"chat", {{"id", chat_id}, {"type", kind == "channel_post" ? "channel" : "private"}}},
      {"date", date},
      {"text", text},
  };
  if (kind != "channel_post") {
    message["from"] = {{"id", chat_id}, {"is_bot", false}, {"first_name", "Operator"}};
  }
  if (kind == "edited_message") {
    message["edit_date"] = date + 100;
  }
  if (!text.empty() && text.front() == '/') {
    message["entities"] =
        json::array({{{"type", "bot_command"}, {"offset", 0}, {"length", command_length(text)}}});
  }
  return json{{kind, std::move(message)}};
}

std::int64_t FakeBotApi::push_text(std::int64_t chat_id, const std::string& text,
                                   const std::string& kind) {
  return push(text_message(chat_id, text, kind, unix_now()));
}

std::vector<std::int64_t> FakeBotApi::push_texts(std::int64_t chat_id,
                                                 const std::vector<std::string>& texts) {
  std::vector<json> updates;
  for (const std::string& text : texts) {
    updates.push_back(text_message(chat_id, text, "message", unix_now()));
  }
  std::vector<std::int64_t> ids;
  {
    MutexLock lock(mutex_);
    for (json& update : updates) {
      const std::int64_t id = next_update_id_++;
      update["update_id"] = id;
      updates_.push_back(Queued{id, std::move(update)});
      ids.push_back(id);
    }
  }
  cv_.notify_all();
  return ids;
}

std::string FakeBotApi::push_press(std::int64_t chat_id, std::int64_t message_id,
                                   const std::string& data) {
  std::string id;
  {
    MutexLock lock(mutex_);
    id = std::to_string(next_callback_id_++);
  }
  json press = {
      {"id", id},
      {"from", {{"id", chat_id}, {"is_bot", false}, {"first_name", "Operator"}}},
      {"message",
       {{"message_id", message_id},
        {"chat", {{"id", chat_id}, {"type", "private"}}},
        {"date", unix_now()},
        {"text", "(the question)"}}},
      {"chat_instance", "-8101426128315549424"},
      {"data", data},
  };
  push(json{{"callback_query", std::move(press)}});
  return id;
}

std::int64_t FakeBotApi::push_text_sent_ago(std::int64_t chat_id, const std::string& text,
                                            std::chrono::seconds age) {
  return queue_numbered(text_message(chat_id, text, "message", unix_now() - age.count()), false);
}

std::size_t FakeBotApi::pending() const {
  MutexLock lock(mutex_);
  return updates_.size();
}

void FakeBotApi::set_webhook(const std::string& url) {
  MutexLock lock(mutex_);
  webhook_ = url;
}

bool FakeBotApi::webhook_set() const {
  MutexLock lock(mutex_);
  return webhook_.has_value();
}

void FakeBotApi::ignore_offset(bool ignore) {
  MutexLock lock(mutex_);
  ignore_offset_ = ignore;
}

void FakeBotApi::script(const std::string& method, Scripted answer, int times) {
  MutexLock lock(mutex_);
  for (int i = 0; i < times; ++i) {
    scripts_[method].push_back(answer);
  }
}

Scripted FakeBotApi::fault(Fault fault, std::int64_t retry_after) {
  Scripted s;
  switch (fault) {
    case Fault::unauthorized:
      s.status = 401;
      s.body = fixture_text("error_401_unauthorized.json");
      break;
    case Fault::chat_not_found:
      s.status = 400;
      s.body = fixture_text("error_400_chat_not_found.json");
      break;
    case Fault::conflict:
      s.status = 409;
      s.body = fixture_text("error_409_conflict_other_getupdates.json");
      break;
    case Fault::too_many_requests: {
      json body = fixture_json("error_429_retry_after.json");
      body["description"] = "Too Many Requests: retry after " + std::to_string(retry_after);
      body["parameters"]["retry_after"] = retry_after;
      s.status = 429;
      s.body = body.dump();
      break;
    }
    case Fault::server_error:
      s.status = 500;
      s.body = fixture_text("error_500_restart.json");
      break;
    case Fault::bad_gateway_html:
      s.status = 502;
      s.body = fixture_text("error_502_bad_gateway_nginx.html");
      s.content_type = "text/html";
      break;
    case Fault::malformed_json:
      s.body = R"({"ok":true,"result":[{"update_id":)";
      break;
    case Fault::drop_connection:
      s.drop_connection = true;
      break;
  }
  return s;
}

void FakeBotApi::reject_chat(std::int64_t chat_id) {
  MutexLock lock(mutex_);
  rejected_chats_.insert(chat_id);
}

std::vector<SentMessage> FakeBotApi::sent() const {
  MutexLock lock(mutex_);
  return sent_;
}

bool FakeBotApi::wait_for_sent(std::size_t n, std::chrono::milliseconds timeout) const {
  MutexLock lock(mutex_);
  return cv_.wait_for(lock, timeout, [&]() NO_THREAD_SAFETY_ANALYSIS { return sent_.size() >= n; });
}

std::vector<Call> FakeBotApi::calls(const std::string& method) const {
  MutexLock lock(mutex_);
  std::vector<Call> out;
  for (const Call& c : calls_) {
    if (method.empty() || c.method == method) {
      out.push_back(c);
    }
  }
  return out;
}

bool FakeBotApi::wait_for_calls(const std::string& method, std::size_t n,
                                std::chrono::milliseconds timeout) const {
  MutexLock lock(mutex_);
  return cv_.wait_for(lock, timeout, [&]() NO_THREAD_SAFETY_ANALYSIS {
    return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(), [&](const Call& c) {
             return c.method == method;
           })) >= n;
  });
}

FakeBotApi::Reply FakeBotApi::handle(const std::string& token, const std::string& method,
                                     const json& params) {
  std::optional<Scripted> scripted;
  {
    MutexLock lock(mutex_);
    calls_.push_back(Call{method, std::chrono::steady_clock::now(), integer_param(params, "offset"),
                          integer_param(params, "timeout"), params});
    if (auto it = scripts_.find(method); it != scripts_.end() && !it->second.empty()) {
      scripted = std::move(it->second.front());
      it->second.pop_front();
    }
  }
  cv_.notify_all();

  if (scripted) {
    if (scripted->delay > std::chrono::milliseconds::zero()) {
      MutexLock lock(mutex_);
      cv_.wait_for(lock, scripted->delay, [this]() NO_THREAD_SAFETY_ANALYSIS { return stopping_; });
    }
    if (!scripted->then_serve) {
      return Reply{scripted->status, scripted->body, scripted->content_type,
                   scripted->drop_connection};
    }
  }
  if (token != options_.token) {
    return Reply{401, fixture_text("error_401_unauthorized.json")};
  }
  if (method == "getMe") {
    return get_me();
  }
  if (method == "getUpdates") {
    return get_updates(params);
  }
  if (method == "sendMessage") {
    return send_message(params);
  }
  if (method == "deleteWebhook") {
    return delete_webhook(params);
  }
  if (method == "answerCallbackQuery") {
    return answer_callback_query(params);
  }
  if (method == "setMyCommands") {
    return set_my_commands(params);
  }
  return Reply{404, fixture_text("error_404_method_not_found.json")};
}

FakeBotApi::Reply FakeBotApi::get_me() const {
  json me = {{"id", options_.bot_id},
             {"is_bot", true},
             {"first_name", "Orbrix Test"},
             {"username", options_.username}};
  return Reply{200, json{{"ok", true}, {"result", me}}.dump()};
}

FakeBotApi::Reply FakeBotApi::delete_webhook(const json& params) {
  MutexLock lock(mutex_);
  webhook_.reset();
  if (auto drop = params.find("drop_pending_updates");
      drop != params.end() && (*drop == true || *drop == "true")) {
    updates_.clear();
  }
  return Reply{200, R"({"ok":true,"result":true,"description":"Webhook was deleted"})"};
}

FakeBotApi::Reply FakeBotApi::get_updates(const json& params) {
  const auto offset = integer_param(params, "offset");
  const auto timeout =
      std::clamp<std::int64_t>(integer_param(params, "timeout").value_or(0), 0, 60);
  const auto limit = std::clamp<std::int64_t>(integer_param(params, "limit").value_or(100), 1, 100);

  MutexLock lock(mutex_);
  if (webhook_) {
    return Reply{409, fixture_text("error_409_conflict_webhook_active.json")};
  }
  // An offset confirms every update below it: those are gone for good.
  if (offset && *offset > 0 && !ignore_offset_) {
    while (!updates_.empty() && updates_.front().update_id < *offset) {
      updates_.pop_front();
    }
  }
  cv_.wait_for(lock, std::chrono::seconds{timeout},
               [this]() NO_THREAD_SAFETY_ANALYSIS { return stopping_ || !updates_.empty(); });
  json result = json::array();
  for (const Queued& update : updates_) {
    if (static_cast<std::int64_t>(result.size()) >= limit) {
      break;
    }
    result.push_back(update.body);
  }
  return Reply{200, json{{"ok", true}, {"result", result}}.dump()};
}

FakeBotApi::Reply FakeBotApi::send_message(const json& params) {
  const auto chat_id = integer_param(params, "chat_id");
  auto text_it = params.find("text");
  if (!chat_id) {
    return Reply{400,
                 R"({"ok":false,"error_code":400,"description":"Bad Request: chat_id is empty"})"};
  }
  const std::string text =
      text_it != params.end() && text_it->is_string() ? text_it->get<std::string>() : "";
  // Telegram trims the text first: a blank one is as empty as "".
  if (text.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
    return Reply{400, fixture_text("error_400_message_text_is_empty.json")};
  }
  if (utf16_units(text) > max_message_units) {
    return Reply{400, fixture_text("error_400_message_is_too_long.json")};
  }

  json markup;
  if (auto it = params.find("reply_markup"); it != params.end()) {
    // Form-encoded requests carry it as JSON text.
    markup = it->is_string() ? json::parse(it->get<std::string>(), nullptr, false) : *it;
    if (!markup.is_object()) {
      return Reply{
          400,
          R"({"ok":false,"error_code":400,"description":"Bad Request: can't parse reply keyboard markup JSON object"})"};
    }
    for (const auto& row : markup.value("inline_keyboard", json::array())) {
      for (const auto& button : row) {
        const auto data = button.value("callback_data", std::string());
        if (data.empty() || data.size() > 64) {
          return Reply{
              400,
              R"({"ok":false,"error_code":400,"description":"Bad Request: BUTTON_DATA_INVALID"})"};
        }
      }
    }
  }

  MutexLock lock(mutex_);
  if (rejected_chats_.contains(*chat_id)) {
    return Reply{400, fixture_text("error_400_chat_not_found.json")};
  }
  const std::int64_t message_id = next_message_id_++;
  sent_.push_back(SentMessage{*chat_id, text, std::move(markup), message_id});
  cv_.notify_all();
  json message = {{"message_id", message_id},
                  {"chat", {{"id", *chat_id}, {"type", "private"}}},
                  {"date", 1700000000},
                  {"text", text}};
  return Reply{200, json{{"ok", true}, {"result", message}}.dump()};
}

FakeBotApi::Reply FakeBotApi::answer_callback_query(const json& params) {
  auto id = params.find("callback_query_id");
  if (id == params.end() || !id->is_string() || id->get<std::string>().empty()) {
    return Reply{
        400,
        R"({"ok":false,"error_code":400,"description":"Bad Request: query is too old and response timeout expired or query ID is invalid"})"};
  }
  return Reply{200, R"({"ok":true,"result":true})"};
}

FakeBotApi::Reply FakeBotApi::set_my_commands(const json& params) {
  // The server's rules: 1-32 characters of a-z, 0-9 and '_', and a
  // description of 1-256 characters.
  const auto bad = [](const std::string& what) {
    return Reply{
        400,
        json{{"ok", false}, {"error_code", 400}, {"description", "Bad Request: " + what}}.dump()};
  };
  auto list = params.find("commands");
  if (list == params.end() || !list->is_array()) {
    return bad("can't parse commands JSON object");
  }
  for (const json& c : *list) {
    const std::string command = c.value("command", std::string());
    const std::string description = c.value("description", std::string());
    const bool valid = !command.empty() && command.size() <= 32 &&
                       std::all_of(command.begin(), command.end(), [](char ch) {
                         return (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_';
                       });
    if (!valid) {
      return bad("BOT_COMMAND_INVALID");
    }
    if (description.empty() || utf16_units(description) > 256) {
      return bad("command description must be non-empty");
    }
  }
  return Reply{200, R"({"ok":true,"result":true})"};
}

}  // namespace orbrix::telegram::testing
