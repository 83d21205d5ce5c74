// Trading commands with confirmation on: a Confirm / Cancel keyboard first,
// and a request only for a Confirm from the same chat within the limit.

#include <atomic>

#include "bot_test_support.hpp"
#include "orbrix/telegram/commands.hpp"

namespace orbrix::telegram::testing {
namespace {

constexpr std::int64_t other_chat = 777;

class ConfirmTest : public BotTest {
 protected:
  void SetUp() override {
    start([this](BotOptions& o) {
      o.confirm.enabled = true;
      o.confirm.clock = [this] { return origin_ + std::chrono::seconds{elapsed_.load()}; };
      o.allowed_chat_ids = {other_chat};
    });
  }
  void advance(std::chrono::seconds d) { elapsed_ += d.count(); }
  // Trading requests waiting for the engine.
  std::size_t pending() const {
    std::size_t n = 0;
    for (RequestKind k : {RequestKind::send_order, RequestKind::cancel_order,
                          RequestKind::cancel_orders, RequestKind::close_positions}) {
      n += bot->pending(k);
    }
    return n;
  }

  // Sends a trading command and returns the question it is answered with.
  SentMessage ask(const std::string& command) {
    auto answer = exchange(command);
    EXPECT_EQ(answer.size(), 1u);
    return answer.empty() ? SentMessage{} : answer.front();
  }
  // The callback data of the question's button `label`.
  static std::string button(const SentMessage& question, const std::string& label) {
    for (const auto& row :
         question.reply_markup.value("inline_keyboard", nlohmann::json::array())) {
      for (const auto& b : row) {
        if (b.value("text", "") == label) {
          return b.value("callback_data", "");
        }
      }
    }
    ADD_FAILURE() << "no button " << label << " under " << question.text;
    return {};
  }
  // Presses `label` under `question` from `chat`; returns what the press was
  // answered with (answerCallbackQuery's text) and any chat message it sent.
  std::pair<std::string, std::vector<std::string>> press(const SentMessage& question,
                                                         const std::string& label,
                                                         std::int64_t chat = operator_chat) {
    const std::size_t answered = api.calls("answerCallbackQuery").size();
    const std::size_t mark = api.sent().size();
    const auto id = api.push_press(chat, question.message_id, button(question, label));
    EXPECT_TRUE(api.wait_for_calls("answerCallbackQuery", answered + 1)) << label;
    const auto call = api.calls("answerCallbackQuery").back();
    EXPECT_EQ(call.params.value("callback_query_id", ""), id) << "answered another press";
    std::vector<std::string> messages;
    for (std::size_t i = mark; i < api.sent().size(); ++i) {
      messages.push_back(api.sent()[i].text);
    }
    return {call.params.value("text", ""), messages};
  }
  const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
  std::atomic<std::int64_t> elapsed_{0};
};

TEST_F(ConfirmTest, TradingCommandsWaitForConfirmAndRunOnce) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/send_order EP,1,l,o,m,CQG,None,None", "Send order (['EP,1,l,o,m,CQG,None,None'])"},
      {"/cancel_order 42 CQG", "Canceling order: order_id=42,gateway_name=CQG"},
      {"/cancel_orders", "Canceling all active orders"},
      {"/close_positions GW1", "Closing positions (gateway_name=GW1)"},
  };
  const std::vector<std::string> acks = {"Send order (['EP,1,l,o,m,CQG,None,None'])...",
                                         "Canceling order: order_id=42,gateway_name=CQG...",
                                         "Canceling all active orders...", "Closing positions..."};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [command, what] = cases[i];
    const SentMessage question = ask(command);
    EXPECT_EQ(question.text, std::string(stamp) + "Confirm within 60 s: " + what);
    EXPECT_EQ(question.reply_markup["inline_keyboard"].size(), 1u);
    EXPECT_EQ(question.reply_markup["inline_keyboard"][0].size(), 2u);
    EXPECT_EQ(pending(), i) << "raised before the confirmation: " << command;

    const auto [note, messages] = press(question, "Confirm");
    EXPECT_EQ(note, "Confirmed");
    EXPECT_EQ(messages, (std::vector<std::string>{std::string(stamp) + acks[i]}));
    EXPECT_EQ(pending(), i + 1);
    // A second press decides nothing.
    EXPECT_EQ(press(question, "Confirm").first, "This request no longer waits for a confirmation");
  }
  EXPECT_EQ(bot->take_send_order(), "EP,1,l,o,m,CQG,None,None");
  EXPECT_EQ(bot->take_cancel_order()->cancel_order_id, "42");
  EXPECT_TRUE(bot->take_cancel_orders());
  EXPECT_EQ(bot->take_close_positions()->gateway_name, "GW1");
  EXPECT_FALSE(bot->take_send_order());

  // Queries are not asked about.
  EXPECT_EQ(reply("/balance"), std::string(stamp) + "Fetching balance...");
  EXPECT_NE(reply("/help").find("only when confirmed within 60 s"), std::string::npos);
}

TEST_F(ConfirmTest, HaltReduceAndResumeWaitForConfirmButRiskDoesNot) {
  const SentMessage halt = ask("/halt cancel runaway");
  EXPECT_EQ(halt.text, std::string(stamp) +
                           "Confirm within 60 s: Halting trading and cancelling working orders "
                           "(runaway)");
  EXPECT_FALSE(bot->halt_trading());
  EXPECT_EQ(press(halt, "Confirm").first, "Confirmed");
  const auto request = bot->take_halt();
  ASSERT_TRUE(request);
  EXPECT_TRUE(request->cancel_all);
  EXPECT_EQ(request->reason, "runaway");

  const SentMessage reduce = ask("/reduce");
  EXPECT_EQ(press(reduce, "Cancel").first, "Cancelled");
  EXPECT_FALSE(bot->reduce_only());
  const SentMessage resume = ask("/resume");
  advance(std::chrono::seconds(61));
  EXPECT_EQ(press(resume, "Confirm").first, "Expired");
  EXPECT_FALSE(bot->resume_trading());

  EXPECT_EQ(reply("/risk"), std::string(stamp) + "Fetching risk limits...");
  EXPECT_TRUE(bot->take_risk());
  EXPECT_NE(reply("/help").find("/halt, /reduce, /resume) are carried out only when confirmed"),
            std::string::npos);
}

TEST_F(ConfirmTest, CancelledExpiredAndForeignPressesRaiseNothing) {
  const SentMessage order = ask("/send_order EP,1,l,o,m,CQG,None,None");
  auto [note, messages] = press(order, "Cancel");
  EXPECT_EQ(note, "Cancelled");
  EXPECT_EQ(messages,
            (std::vector<std::string>{
                std::string(stamp) +
                "Not carried out (cancelled): Send order (['EP,1,l,o,m,CQG,None,None'])"}));
  EXPECT_EQ(press(order, "Confirm").first, "This request no longer waits for a confirmation");
  EXPECT_FALSE(bot->send_order());

  const SentMessage all = ask("/cancel_orders");
  advance(61s);
  std::tie(note, messages) = press(all, "Confirm");
  EXPECT_EQ(note, "Expired");
  EXPECT_EQ(
      messages,
      (std::vector<std::string>{std::string(stamp) +
                                "Not carried out (not confirmed within 60 s): Canceling all active "
                                "orders"}));
  EXPECT_FALSE(bot->cancel_orders());

  // Another chat's press neither decides nor spends the question.
  const SentMessage close = ask("/close_positions");
  std::tie(note, messages) = press(close, "Confirm", other_chat);
  EXPECT_EQ(note, "Only the chat that sent the command can confirm it");
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(bot->close_positions());
  advance(59s);
  EXPECT_EQ(press(close, "Confirm").first, "Confirmed");
  EXPECT_TRUE(bot->close_positions());

  // A press on a keyboard that is not ours (or from an earlier run).
  const std::size_t answered = api.calls("answerCallbackQuery").size();
  api.push_press(operator_chat, 1, "confirm:0-1");
  ASSERT_TRUE(api.wait_for_calls("answerCallbackQuery", answered + 1));
  EXPECT_EQ(api.calls("answerCallbackQuery").back().params.value("text", ""),
            "This request no longer waits for a confirmation");
}

TEST_F(ConfirmTest, PollingAsksForButtonPressesOnlyWhenConfirming) {
  const auto kinds = [&] { return api.calls("getUpdates").back().params["allowed_updates"]; };
  ASSERT_TRUE(api.wait_for_calls("getUpdates", 1));
  EXPECT_EQ(kinds(), nlohmann::json({"message", "callback_query"}));
  bot->close();
  start();
  const std::size_t polls = api.calls("getUpdates").size();
  ASSERT_TRUE(api.wait_for_calls("getUpdates", polls + 1));
  EXPECT_EQ(kinds(), nlohmann::json({"message"}));
  // Without confirmation, trading commands run at once.
  EXPECT_EQ(reply("/cancel_orders"), std::string(stamp) + "Canceling all active orders...");
  EXPECT_EQ(reply("/help"), commands::help_text(std::nullopt));
}

}  // namespace
}  // namespace orbrix::telegram::testing
