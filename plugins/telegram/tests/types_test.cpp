// Updates as real servers send them: what the bot reads from each.

#include <gtest/gtest.h>

#include "orbrix/telegram/errors.hpp"
#include "orbrix/telegram/filters.hpp"
#include "orbrix/telegram/handler.hpp"
#include "orbrix/telegram/testing/fixtures.hpp"
#include "orbrix/telegram/types.hpp"

namespace orbrix::telegram {
namespace {

using testing::fixture_text;

Update load(std::string_view name) {
  return parse_update(fixture_text(name));
}

TEST(ParseUpdate, ReadsPrivateAndGroupMessages) {
  const Update u = load("update_private_text.json");
  EXPECT_EQ(u.update_id, 306197398);
  EXPECT_EQ(u.kind, UpdateKind::message);
  ASSERT_TRUE(u.message);
  EXPECT_EQ(u.message->chat.id, 408258968);
  EXPECT_EQ(u.message->text, "4");
  EXPECT_EQ(u.message->from_user->id, 408258968);

  const Update group = load("update_supergroup_command_reply_in_topic.json");
  EXPECT_EQ(group.effective_chat_id(), -1001293752024);
  EXPECT_EQ(group.message->from_user->id, 5964236329);
  EXPECT_TRUE(starts_with_command(*group.message));
}

TEST(ParseUpdate, TellsTheKinds) {
  EXPECT_EQ(load("update_edited_message.json").kind, UpdateKind::edited_message);
  EXPECT_EQ(load("update_channel_post.json").kind, UpdateKind::channel_post);
  // No sender at all is fine for a channel post.
  const Update post = parse_update(
      nlohmann::json(testing::fixture_json("getUpdates_channel_post_command.json")["result"][0])
          .dump());
  EXPECT_EQ(post.kind, UpdateKind::channel_post);
  EXPECT_FALSE(post.message->from_user);
  for (const char* other : {"update_unknown_kind.json", "update_my_chat_member_kicked.json"}) {
    const Update u = load(other);
    EXPECT_EQ(u.kind, UpdateKind::other) << other;
    EXPECT_FALSE(u.effective_chat_id()) << other;
  }
  // A press on an inline-mode message: no message, so no chat.
  const Update press = load("update_callback_query.json");
  EXPECT_EQ(press.kind, UpdateKind::callback_query);
  ASSERT_TRUE(press.callback_query);
  EXPECT_EQ(press.callback_query->id, "4382bfdwdsb323b2d9");
  EXPECT_EQ(press.callback_query->data, "Data from button callback");
  EXPECT_EQ(press.callback_query->from_user->id, 1111111);
  EXPECT_FALSE(press.effective_chat_id());
  // One on a chat message answers to that chat; one without a string id is
  // not a press we could answer.
  const Update in_chat =
      parse_update(R"({"update_id":5,"callback_query":{"id":"77","data":"confirm:1",)"
                   R"("message":{"message_id":9,"chat":{"id":-100,"type":"group"},"date":0}}})");
  EXPECT_EQ(in_chat.effective_chat_id(), -100);
  EXPECT_EQ(parse_update(R"({"update_id":6,"callback_query":{"id":77}})").kind, UpdateKind::other);
  EXPECT_THROW(parse_update(R"({"message":{}})"), BadResponse);
  EXPECT_THROW(parse_update("[1,"), BadResponse);
}

TEST(ParseUpdateBatch, SkipsUnreadableItemsAndTellsTheOffsetPastThem) {
  // The real mixed answer (ids 900000001-5) with its second item's
  // update_id gone and its last item replaced by a number.
  auto result = testing::fixture_json("getUpdates_multiple_mixed.json")["result"];
  result[1].erase("update_id");
  result[4] = 42;
  const UpdateBatch batch = parse_update_batch(result.dump(), 900000001);
  ASSERT_EQ(batch.updates.size(), 3u);
  EXPECT_EQ(batch.updates[2].update_id, 900000004);
  ASSERT_EQ(batch.unreadable.size(), 2u);
  EXPECT_NE(batch.unreadable[0].find("item 2 of 5"), std::string::npos) << batch.unreadable[0];
  EXPECT_EQ(batch.next_offset, 900000006);
  // A first item with no id is placed by the request's offset, and only by it.
  EXPECT_EQ(parse_update_batch(R"([{"message":{}}])", 17).next_offset, 18);
  EXPECT_EQ(parse_update_batch(R"([{"message":{}}])", 0).next_offset, std::nullopt);
  EXPECT_EQ(parse_update_batch("[]", 17).next_offset, std::nullopt);
  EXPECT_THROW(parse_update_batch(R"({"update_id":1})", 0), BadResponse);
}

TEST(ParseUpdate, RawAndEscapedNonBmpTextAgree) {
  const Update raw = load("update_text_nonbmp_emoji_entities.json");
  const Update escaped = load("update_text_nonbmp_emoji_entities_ascii_escaped.json");
  EXPECT_EQ(raw.message->text, escaped.message->text);
  EXPECT_EQ(raw.message->text->substr(76), "😋😋");
  ASSERT_EQ(raw.message->entities.size(), 6u);
  EXPECT_EQ(raw.message->entities[5].offset, 78);
}

TEST(CommandHandler, MatchesTheLeadingCommandEntityOnly) {
  CommandHandler start("Start", [](const Update&, CallbackContext&) {});
  const std::optional<std::string> name = "bot";

  auto args = start.check(*load("update_command_with_args.json").message, name);
  ASSERT_TRUE(args);
  EXPECT_EQ(*args, std::vector<std::string>{"args"});
  args = start.check(*load("update_group_command_at_this_bot_mixed_case.json").message, name);
  ASSERT_TRUE(args);
  EXPECT_EQ(*args, std::vector<std::string>{"args"});
  EXPECT_FALSE(start.check(*load("update_group_command_at_other_bot.json").message, name));
  // Before the bot knows its own name, no "@name" command is taken.
  EXPECT_FALSE(
      start.check(*load("update_group_command_at_this_bot_mixed_case.json").message, std::nullopt));
  EXPECT_FALSE(start.check(*load("update_command_not_at_offset_zero.json").message, name));
  EXPECT_FALSE(start.check(*load("update_official_start_without_entities.json").message, name));
}

TEST(Filters, CombineWithAndAndNot) {
  const Filter echo = filters::text & ~filters::command;
  EXPECT_TRUE(echo(*load("update_private_text.json").message));
  EXPECT_TRUE(echo(*load("update_official_start_without_entities.json").message));
  EXPECT_FALSE(echo(*load("update_command_with_args.json").message));
  EXPECT_FALSE(echo(*load("update_group_command_at_other_bot.json").message));
  Message photo;
  EXPECT_FALSE(echo(photo));
}

}  // namespace
}  // namespace orbrix::telegram
