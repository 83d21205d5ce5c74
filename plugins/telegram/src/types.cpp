#include "orbrix/telegram/types.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "json_types.hpp"
#include "orbrix/telegram/errors.hpp"

namespace orbrix::telegram {

namespace {

using nlohmann::json;

std::optional<std::int64_t> integer_field(const json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_number_integer()) {
    return std::nullopt;
  }
  return it->get<std::int64_t>();
}

std::optional<std::string> string_field(const json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) {
    return std::nullopt;
  }
  return it->get<std::string>();
}

// A message needs an id and a chat with an id; anything less is treated as a
// kind of update the bot does not serve.
std::optional<Message> message_from_json(const json& j) {
  if (!j.is_object()) {
    return std::nullopt;
  }
  auto id = integer_field(j, "message_id");
  auto chat_it = j.find("chat");
  if (!id || chat_it == j.end() || !chat_it->is_object()) {
    return std::nullopt;
  }
  auto chat_id = integer_field(*chat_it, "id");
  if (!chat_id) {
    return std::nullopt;
  }

  Message m;
  m.message_id = *id;
  m.chat.id = *chat_id;
  m.chat.type = string_field(*chat_it, "type").value_or("");
  if (auto from = j.find("from"); from != j.end()) {
    m.from_user = user_from_json(*from);
  }
  m.text = string_field(j, "text");
  m.date = integer_field(j, "date");
  if (auto ents = j.find("entities"); ents != j.end() && ents->is_array()) {
    for (const json& e : *ents) {
      if (!e.is_object()) {
        continue;
      }
      auto type = string_field(e, "type");
      auto offset = integer_field(e, "offset");
      auto length = integer_field(e, "length");
      if (type && offset && length) {
        m.entities.push_back({*type, *offset, *length});
      }
    }
  }
  return m;
}

std::optional<CallbackQuery> callback_query_from_json(const json& j) {
  if (!j.is_object()) {
    return std::nullopt;
  }
  auto id = string_field(j, "id");
  if (!id) {
    return std::nullopt;
  }
  CallbackQuery q;
  q.id = std::move(*id);
  if (auto from = j.find("from"); from != j.end()) {
    q.from_user = user_from_json(*from);
  }
  if (auto message = j.find("message"); message != j.end()) {
    q.message = message_from_json(*message);
  }
  q.data = string_field(j, "data");
  return q;
}

}  // namespace

std::optional<User> user_from_json(const json& j) {
  if (!j.is_object()) {
    return std::nullopt;
  }
  auto id = integer_field(j, "id");
  if (!id) {
    return std::nullopt;
  }
  User u;
  u.id = *id;
  if (auto it = j.find("is_bot"); it != j.end() && it->is_boolean()) {
    u.is_bot = it->get<bool>();
  }
  u.first_name = string_field(j, "first_name").value_or("");
  u.username = string_field(j, "username");
  return u;
}

Update update_from_json(const json& j) {
  if (!j.is_object()) {
    throw BadResponse("Telegram update is not a JSON object");
  }
  auto id = integer_field(j, "update_id");
  if (!id) {
    throw BadResponse("Telegram update has no integer update_id");
  }

  Update u;
  u.update_id = *id;
  u.json = j.dump(-1, ' ', false, json::error_handler_t::replace);
  static constexpr std::pair<const char*, UpdateKind> kinds[] = {
      {"message", UpdateKind::message},
      {"edited_message", UpdateKind::edited_message},
      {"channel_post", UpdateKind::channel_post},
      {"edited_channel_post", UpdateKind::edited_channel_post},
  };
  for (const auto& [key, kind] : kinds) {
    if (auto it = j.find(key); it != j.end()) {
      u.message = message_from_json(*it);
      if (u.message) {
        u.kind = kind;
      }
      return u;
    }
  }
  if (auto it = j.find("callback_query"); it != j.end()) {
    u.callback_query = callback_query_from_json(*it);
    if (u.callback_query) {
      u.kind = UpdateKind::callback_query;
    }
  }
  return u;
}

UpdateBatch update_batch_from_json(const json& result, std::int64_t offset) {
  if (!result.is_array()) {
    throw BadResponse("Telegram getUpdates failed: result is not a list");
  }
  UpdateBatch batch;
  batch.updates.reserve(result.size());
  // The highest id seen or inferred so far; an offset confirms every lower id.
  std::optional<std::int64_t> known;
  if (offset > 0) {
    known = offset - 1;
  }
  bool unplaced = false;  // an unreadable item whose id cannot be told yet
  for (std::size_t i = 0; i < result.size(); ++i) {
    try {
      Update u = update_from_json(result[i]);
      known = known ? std::max(*known, u.update_id) : u.update_id;
      unplaced = false;  // a later id covers every earlier item
      batch.updates.push_back(std::move(u));
    } catch (const BadResponse& e) {
      batch.unreadable.push_back(fmt::format("item {} of {}: {}", i + 1, result.size(), e.what()));
      if (known) {
        known = *known + 1;
      } else {
        unplaced = true;
      }
    }
  }
  if (known && !unplaced && !result.empty()) {
    batch.next_offset = *known + 1;
  }
  return batch;
}

UpdateBatch parse_update_batch(std::string_view json_text, std::int64_t offset) {
  json j = json::parse(json_text, nullptr, false);
  if (j.is_discarded()) {
    throw BadResponse("Telegram getUpdates failed: the result is not valid JSON");
  }
  return update_batch_from_json(j, offset);
}

Update parse_update(std::string_view json_text) {
  json j = json::parse(json_text, nullptr, false);
  if (j.is_discarded()) {
    throw BadResponse("Telegram update is not valid JSON");
  }
  return update_from_json(j);
}

}  // namespace orbrix::telegram
