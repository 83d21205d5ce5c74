#include "orbrix/telegram/commands.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <string>

#include "orbrix/telegram/customed_ext_bot.hpp"
#include "text.hpp"

namespace orbrix::telegram::commands {

const std::vector<CommandInfo> catalogue = {
    {"stop", "", "Stop the engine"},
    {"balance", "", "Fetch the balance"},
    {"positions", "", "Fetch the positions of all gateways"},
    {"orders", "[-a] [n]", "Fetch orders (-a: only active ones; n: how many)"},
    {"deals", "[n]", "Fetch done deals (n: how many)"},
    {"cancel_order", "order_id gateway_name", "Cancel an active order"},
    {"cancel_orders", "", "Cancel all active orders"},
    {"send_order", "code,quantity,direction(l/s),offset(o/c),type(m/l/s),gateway,price,stop_price",
     "Send an order (price and stop_price may be None)"},
    {"close_positions", "[gateway_name]", "Close the open positions"},
    {"halt", "[cancel] [reason]", "Stop taking new orders (cancel: also cancel working ones)"},
    {"reduce", "[reason]", "Take only orders that reduce a position"},
    {"resume", "", "Take orders again"},
    {"risk", "", "Show the risk limits, their usage and the trading state"},
    {"help", "", "Show the commands"},
};

namespace {

constexpr std::string_view example_order = "/send_order EP,1,l,o,m,CQG,None,None";

using Args = std::vector<std::string>;

std::int64_t chat_of(const Update& update) {
  return update.effective_chat_id().value_or(0);
}

void reply(const Update& update, CallbackContext& context, std::string_view text) {
  context.bot.send_message(chat_of(update), text);
}

// "[2024-03-05 14:07:09.004211] ", taken when the reply is composed.
std::string stamp(const CustomedExtBot& bot) {
  return "[" + to_text(bot.now()) + "] ";
}

// ['a', 'b']
std::string list_form(const Args& args) {
  std::string out = "[";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) {
      out += ", ";
    }
    out += "'" + args[i] + "'";
  }
  return out + "]";
}

const char* truth(bool value) {
  return value ? "True" : "False";
}

// "60 s", "0.5 s".
std::string seconds_text(std::chrono::milliseconds d) {
  return fmt::format("{:g} s", static_cast<double>(d.count()) / 1000.0);
}

// Queues a request of `kind` with what the command names (`given`), or,
// when too many of the kind already wait, says so in `chat`. The request
// remembers the command as written, for a notice should it never be served.
std::optional<RequestParameters> queue(CustomedExtBot& bot, std::int64_t chat, RequestKind kind,
                                       const Args& args,
                                       const std::function<void(RequestParameters&)>& given = {}) {
  std::string command = std::string("/") + command_of(kind);
  for (const std::string& a : args) {
    command += " " + a;
  }
  auto parameters = bot.raise(kind, given, RequestOrigin{chat, std::move(command)});
  if (!parameters) {
    bot.send_message(chat, stamp(bot) + fmt::format("Not queued: {} /{} requests are already "
                                                    "waiting for the engine, the most it keeps. "
                                                    "Send it again once they are answered.",
                                                    bot.max_pending(), command_of(kind)));
  }
  return parameters;
}

// A trading command's request: queued at once, or, with confirmation on,
// once the operator confirms `what` within the time limit.
void trade(const Update& update, CallbackContext& context, const std::string& what,
           Confirmations::Action action) {
  const std::int64_t chat = chat_of(update);
  Confirmations& book = context.bot.confirmations();
  if (!book.enabled()) {
    action(context.bot, chat);
    return;
  }
  const std::string token = book.ask(chat, what, std::move(action));
  const InlineKeyboard keyboard{{
      {"Confirm", std::string(Confirmations::confirm_prefix) + token},
      {"Cancel", std::string(Confirmations::cancel_prefix) + token},
  }};
  context.bot.send_message(
      chat, stamp(context.bot) + "Confirm within " + seconds_text(book.timeout()) + ": " + what,
      &keyboard);
}

}  // namespace

std::vector<BotCommand> menu() {
  std::vector<BotCommand> out;
  for (const CommandInfo& c : catalogue) {
    std::string description = c.description;
    if (*c.arguments != '\0') {
      description += std::string(": ") + c.arguments;
    }
    out.push_back({c.command, std::move(description)});
  }
  return out;
}

std::string help_text(std::optional<std::int64_t> confirm_seconds) {
  std::string text = "Orbrix commands:";
  for (const CommandInfo& c : catalogue) {
    text += std::string("\n/") + c.command;
    if (*c.arguments != '\0') {
      text += std::string(" ") + c.arguments;
    }
    text += std::string(" - ") + c.description;
    if (std::string_view(c.command) == "send_order") {
      text += std::string(", e.g. ") + std::string(example_order);
    }
  }
  if (confirm_seconds) {
    text += fmt::format(
        "\nTrading commands (/send_order, /cancel_order, /cancel_orders, /close_positions, "
        "/halt, /reduce, /resume) are carried out only when confirmed within {} s.",
        *confirm_seconds);
  }
  return text;
}

void help(const Update& update, CallbackContext& context) {
  const Confirmations& book = context.bot.confirmations();
  std::optional<std::int64_t> confirm_seconds;
  if (book.enabled()) {
    confirm_seconds = std::chrono::ceil<std::chrono::seconds>(book.timeout()).count();
  }
  reply(update, context, help_text(confirm_seconds));
}

void confirmation(const Update& update, CallbackContext& context) {
  const CallbackQuery& query = *update.callback_query;
  const std::int64_t chat = chat_of(update);
  Confirmations& book = context.bot.confirmations();
  Confirmations::Decision d = book.decide(query.data.value_or(""), chat);
  std::string_view note;
  switch (d.outcome) {
    case Confirmations::Outcome::confirmed:
      d.action(context.bot, chat);
      note = "Confirmed";
      break;
    case Confirmations::Outcome::cancelled:
      reply(update, context, stamp(context.bot) + "Not carried out (cancelled): " + d.what);
      note = "Cancelled";
      break;
    case Confirmations::Outcome::expired:
      reply(update, context,
            stamp(context.bot) + "Not carried out (not confirmed within " +
                seconds_text(book.timeout()) + "): " + d.what);
      note = "Expired";
      break;
    case Confirmations::Outcome::other_chat:
      note = "Only the chat that sent the command can confirm it";
      break;
    case Confirmations::Outcome::unknown:
      note = "This request no longer waits for a confirmation";
      break;
  }
  // Last, so that a failure here cannot stop what was decided.
  context.bot.answer_callback_query(query.id, note);
}

void echo(const Update& update, CallbackContext& context) {
  reply(update, context, "[ECHO] " + update.message->text.value_or(""));
}

void stop(const Update& update, CallbackContext& context) {
  context.bot.orbrix_status("Terminated");
  reply(update, context, stamp(context.bot) + "Terminating Orbrix...");
}

void balance(const Update& update, CallbackContext& context) {
  if (queue(context.bot, chat_of(update), RequestKind::balance, context.args)) {
    reply(update, context, stamp(context.bot) + "Fetching balance...");
  }
}

void positions(const Update& update, CallbackContext& context) {
  if (queue(context.bot, chat_of(update), RequestKind::positions, context.args)) {
    reply(update, context, stamp(context.bot) + "Fetching positions...");
  }
}

void cancel_orders(const Update& update, CallbackContext& context) {
  static const std::string what = "Canceling all active orders";
  trade(update, context, what, [args = context.args](CustomedExtBot& bot, std::int64_t chat) {
    if (queue(bot, chat, RequestKind::cancel_orders, args)) {
      bot.send_message(chat, stamp(bot) + what + "...");
    }
  });
}

void cancel_order(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  if (args.size() != 2) {
    reply(update, context, usage::cancel_order);
    return;
  }
  const std::string what = "Canceling order: order_id=" + args[0] + ",gateway_name=" + args[1];
  trade(update, context, what, [args, what](CustomedExtBot& bot, std::int64_t chat) {
    const auto given = [&](RequestParameters& p) {
      p.cancel_order_id = args[0];
      p.gateway_name = args[1];
    };
    if (queue(bot, chat, RequestKind::cancel_order, args, given)) {
      bot.send_message(chat, stamp(bot) + what + "...");
    }
  });
}

void send_order(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  if (args.size() != 1 || std::count(args[0].begin(), args[0].end(), ',') != 7) {
    reply(update, context, usage::send_order);
    return;
  }
  const std::string what = "Send order (" + list_form(args) + ")";
  trade(update, context, what, [args, what](CustomedExtBot& bot, std::int64_t chat) {
    const auto given = [&](RequestParameters& p) { p.order_string = args[0]; };
    if (queue(bot, chat, RequestKind::send_order, args, given)) {
      bot.send_message(chat, stamp(bot) + what + "...");
    }
  });
}

void close_positions(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  if (args.size() > 1) {
    reply(update, context, usage::close_positions);
    return;
  }
  const std::string what =
      args.empty() ? "Closing positions" : "Closing positions (gateway_name=" + args[0] + ")";
  trade(update, context, what, [args](CustomedExtBot& bot, std::int64_t chat) {
    // Without a gateway the one in force stays.
    const auto given = [&](RequestParameters& p) {
      if (args.size() == 1) {
        p.close_positions_gateway_name = args[0];
      }
    };
    if (queue(bot, chat, RequestKind::close_positions, args, given)) {
      bot.send_message(chat, stamp(bot) + "Closing positions...");
    }
  });
}

void deals(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  if (args.size() >= 2) {
    reply(update, context, usage::deals);
    return;
  }
  std::optional<std::int64_t> count;
  if (args.size() == 1) {
    count = text::parse_count(args[0]);
    if (!count) {
      reply(update, context, usage::deals);
      return;
    }
  }
  const auto given = [&](RequestParameters& p) {
    if (count) {
      p.num_deals_displayed = *count;
    }
  };
  // The acknowledgement shows the count this request carries: the one given,
  // or the one in force.
  if (auto p = queue(context.bot, chat_of(update), RequestKind::deals, args, given)) {
    reply(update, context,
          stamp(context.bot) + "Fetching deals (num_deals_displayed=" +
              std::to_string(p->num_deals_displayed) + ")...");
  }
}

void orders(const Update& update, CallbackContext& context) {
  static constexpr std::string_view filter = "-a";
  const Args& args = context.args;
  reply(update, context, stamp(context.bot) + list_form(args) + "...");
  if (args.size() >= 3) {
    reply(update, context, usage::orders);
    return;
  }
  bool active = false;
  std::optional<std::int64_t> count;
  if (args.size() == 2) {
    if (args[0] != filter && args[1] != filter) {
      reply(update, context, usage::orders);
      return;
    }
    const std::string& candidate = args[0] != filter ? args[0] : args[1];
    if (candidate == filter) {
      return;  // "-a -a": nothing to store, no answer
    }
    count = text::parse_count(candidate);
    if (!count) {
      reply(update, context, usage::orders);
      return;
    }
    active = true;
  } else if (args.size() == 1) {
    if (args[0] == filter) {
      active = true;
    } else {
      count = text::parse_count(args[0]);
      if (!count) {
        reply(update, context, usage::orders);
        return;
      }
    }
  }
  // The filter, once on, stays on for later requests until the host clears it.
  const auto given = [&](RequestParameters& p) {
    if (active) {
      p.active_orders = true;
    }
    if (count) {
      p.num_orders_displayed = *count;
    }
  };
  if (auto p = queue(context.bot, chat_of(update), RequestKind::orders, args, given)) {
    reply(update, context,
          stamp(context.bot) + "Fetching orders (active_orders=" + truth(p->active_orders) +
              ", num_orders_displayed=" + std::to_string(p->num_orders_displayed) + ")...");
  }
}

namespace {

// The words after the command as one reason; `fallback` when there are none.
std::string reason_of(Args::const_iterator first, Args::const_iterator last,
                      std::string_view fallback) {
  std::string out;
  for (auto it = first; it != last; ++it) {
    out += (out.empty() ? "" : " ") + *it;
  }
  return out.empty() ? std::string(fallback) : out;
}

}  // namespace

void halt(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  const bool cancel_all = !args.empty() && args[0] == "cancel";
  const std::string reason =
      reason_of(args.begin() + (cancel_all ? 1 : 0), args.end(), "operator (chat)");
  const std::string what = cancel_all
                               ? "Halting trading and cancelling working orders (" + reason + ")"
                               : "Halting trading (" + reason + ")";
  trade(update, context, what,
        [args, what, cancel_all, reason](CustomedExtBot& bot, std::int64_t chat) {
          const auto given = [&](RequestParameters& p) {
            p.halt_cancel_all = cancel_all;
            p.halt_reason = reason;
          };
          if (queue(bot, chat, RequestKind::halt, args, given)) {
            bot.send_message(chat, stamp(bot) + what + "...");
          }
        });
}

void reduce(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  const std::string reason = reason_of(args.begin(), args.end(), "operator (chat)");
  const std::string what = "Reducing only (" + reason + ")";
  trade(update, context, what, [args, what, reason](CustomedExtBot& bot, std::int64_t chat) {
    const auto given = [&](RequestParameters& p) { p.reduce_reason = reason; };
    if (queue(bot, chat, RequestKind::reduce, args, given)) {
      bot.send_message(chat, stamp(bot) + what + "...");
    }
  });
}

void resume(const Update& update, CallbackContext& context) {
  static const std::string what = "Resuming trading";
  trade(update, context, what, [args = context.args](CustomedExtBot& bot, std::int64_t chat) {
    if (queue(bot, chat, RequestKind::resume, args)) {
      bot.send_message(chat, stamp(bot) + what + "...");
    }
  });
}

void risk(const Update& update, CallbackContext& context) {
  if (queue(context.bot, chat_of(update), RequestKind::risk, context.args)) {
    reply(update, context, stamp(context.bot) + "Fetching risk limits...");
  }
}

}  // namespace orbrix::telegram::commands
