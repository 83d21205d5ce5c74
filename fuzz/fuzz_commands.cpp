// A chat message's text as the command handlers read it: the command word
// (with or without the bot's name), its arguments, counts, and the reply
// splitting that sends text back.
#include <cstdint>
#include <string>
#include <string_view>

#include "orbrix/telegram/handler.hpp"
#include "text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orbrix::telegram;
  const std::string text(reinterpret_cast<const char*>(data), size);
  Message message;
  message.text = text;
  // Telegram marks a leading command as a bot_command entity; its length is
  // the first byte's value, so lengths beyond the text are tried too.
  if (!text.empty()) {
    MessageEntity e;
    e.type = "bot_command";
    e.offset = 0;
    e.length = static_cast<unsigned char>(text[0]);
    message.entities.push_back(e);
  }
  const CommandHandler orders("orders", [](const Update&, CallbackContext&) {});
  if (const auto args = orders.check(message, std::string("orbrix_bot"))) {
    for (const auto& a : *args) {
      (void)text::parse_count(a);
    }
  }
  for (const auto& w : text::split_words(text)) {
    (void)text::parse_count(w);
  }
  std::size_t units = 0;
  for (const auto& piece : text::split_message(text, 64)) {
    units += text::utf16_length(piece);
  }
  (void)units;
  return 0;
}
