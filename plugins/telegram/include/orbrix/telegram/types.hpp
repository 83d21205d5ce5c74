#pragma once

// The parts of Bot API updates the bot reads. Parsing is lenient: a field the
// bot does not need may be missing or malformed without failing the update.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbrix::telegram {

struct User {
  std::int64_t id = 0;
  bool is_bot = false;
  std::string first_name;
  std::optional<std::string> username;
};

struct Chat {
  std::int64_t id = 0;
  std::string type;  // "private", "group", "supergroup", "channel"
};

// Offsets and lengths count UTF-16 code units, as the Bot API does.
struct MessageEntity {
  std::string type;
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

struct Message {
  std::int64_t message_id = 0;
  Chat chat;
  std::optional<User> from_user;
  std::optional<std::string> text;
  std::vector<MessageEntity> entities;
  // When the message was sent, Unix time (seconds).
  std::optional<std::int64_t> date;
};

// A press on an inline keyboard button.
struct CallbackQuery {
  std::string id;
  std::optional<User> from_user;
  // The message that carried the keyboard; absent for inline-mode messages.
  std::optional<Message> message;
  std::optional<std::string> data;
};

enum class UpdateKind {
  message,
  edited_message,
  channel_post,
  edited_channel_post,
  callback_query,
  other,  // any kind the bot does not serve, including kinds newer than this code
};

struct Update {
  std::int64_t update_id = 0;
  UpdateKind kind = UpdateKind::other;
  // The message of a message-like update (message, edits, channel posts).
  std::optional<Message> message;
  std::optional<CallbackQuery> callback_query;
  // The update as received, compact JSON: its printable form.
  std::string json;

  std::optional<std::int64_t> effective_chat_id() const {
    if (message) {
      return message->chat.id;
    }
    if (callback_query && callback_query->message) {
      return callback_query->message->chat.id;
    }
    return std::nullopt;
  }
};

// A command for the clients' menu (setMyCommands).
struct BotCommand {
  std::string command;  // without '/'
  std::string description;
};

// A button that sends `callback_data` back as a callback query.
struct InlineKeyboardButton {
  std::string text;
  std::string callback_data;
};
// Rows of buttons.
using InlineKeyboard = std::vector<std::vector<InlineKeyboardButton>>;

// One getUpdates answer.
struct UpdateBatch {
  // The items that could be read, in the server's order.
  std::vector<Update> updates;
  // One short text per item that could not be read (its place and fault).
  std::vector<std::string> unreadable;
  // The offset that confirms every item of the answer, readable or not;
  // nullopt for an empty answer, and when an unreadable item's update_id
  // cannot be told from its neighbours or the request's offset.
  std::optional<std::int64_t> next_offset;
};

// Parses one update object (JSON text). Throws BadResponse when the text is
// not a JSON object with an integer update_id; every other field is optional.
Update parse_update(std::string_view json_text);

// Parses a getUpdates result (JSON text of the list) fetched with `offset`.
// An item without an integer update_id is skipped; since the server numbers
// updates one by one, its id is taken to follow the item before it (or to be
// `offset` for a first item). Throws BadResponse when the text is not a list.
UpdateBatch parse_update_batch(std::string_view json_text, std::int64_t offset);

}  // namespace orbrix::telegram
