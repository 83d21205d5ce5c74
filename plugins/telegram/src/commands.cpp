#include "orbrix/telegram/commands.hpp"

#include <algorithm>
#include <string>

#include "orbrix/telegram/customed_ext_bot.hpp"
#include "text.hpp"

namespace orbrix::telegram::commands {

namespace {

using Args = std::vector<std::string>;

void reply(const Update& update, CallbackContext& context, std::string_view text) {
  context.bot.send_message(update.message->chat.id, text);
}

// "[2024-03-05 14:07:09.004211] ", taken when the reply is composed.
std::string stamp(CallbackContext& context) {
  return "[" + to_text(context.bot.now()) + "] ";
}

// ['a', 'b']
std::string list_form(const Args& args) {
  std::string out = "[";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0)
      out += ", ";
    out += "'" + args[i] + "'";
  }
  return out + "]";
}

const char* truth(bool value) {
  return value ? "True" : "False";
}

}  // namespace

void echo(const Update& update, CallbackContext& context) {
  reply(update, context, "[ECHO] " + update.message->text.value_or(""));
}

void stop(const Update& update, CallbackContext& context) {
  context.bot.orbrix_status("Terminated");
  reply(update, context, stamp(context) + "Terminating Orbrix...");
}

void balance(const Update& update, CallbackContext& context) {
  context.bot.get_balance(true);
  reply(update, context, stamp(context) + "Fetching balance...");
}

void positions(const Update& update, CallbackContext& context) {
  context.bot.get_positions(true);
  reply(update, context, stamp(context) + "Fetching positions...");
}

void cancel_orders(const Update& update, CallbackContext& context) {
  context.bot.cancel_orders(true);
  reply(update, context, stamp(context) + "Canceling all active orders...");
}

void cancel_order(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  if (args.size() != 2) {
    reply(update, context, usage::cancel_order);
    return;
  }
  context.bot.cancel_order_id(args[0]);
  context.bot.gateway_name(args[1]);
  context.bot.cancel_order(true);
  reply(
      update, context,
      stamp(context) + "Canceling order: order_id=" + args[0] + ",gateway_name=" + args[1] + "...");
}

void send_order(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  if (args.size() != 1 || std::count(args[0].begin(), args[0].end(), ',') != 7) {
    reply(update, context, usage::send_order);
    return;
  }
  context.bot.order_string(args[0]);
  context.bot.send_order(true);
  reply(update, context, stamp(context) + "Send order (" + list_form(args) + ")...");
}

void close_positions(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  if (args.size() > 1) {
    reply(update, context, usage::close_positions);
    return;
  }
  if (args.size() == 1)
    context.bot.close_positions_gateway_name(args[0]);
  context.bot.close_positions(true);
  reply(update, context, stamp(context) + "Closing positions...");
}

void deals(const Update& update, CallbackContext& context) {
  const Args& args = context.args;
  if (args.size() >= 2) {
    reply(update, context, usage::deals);
    return;
  }
  if (args.size() == 1) {
    const auto count = text::parse_count(args[0]);
    if (!count) {
      reply(update, context, usage::deals);
      return;
    }
    context.bot.num_deals_displayed(*count);
  }
  context.bot.get_deals(true);
  reply(update, context,
        stamp(context) + "Fetching deals (num_deals_displayed=" +
            std::to_string(context.bot.num_deals_displayed()) + ")...");
}

void orders(const Update& update, CallbackContext& context) {
  static constexpr std::string_view filter = "-a";
  const Args& args = context.args;
  reply(update, context, stamp(context) + list_form(args) + "...");
  if (args.size() >= 3) {
    reply(update, context, usage::orders);
    return;
  }
  if (args.size() == 2) {
    if (args[0] != filter && args[1] != filter) {
      reply(update, context, usage::orders);
      return;
    }
    const std::string& candidate = args[0] != filter ? args[0] : args[1];
    if (candidate == filter)
      return;  // "-a -a": nothing to store, no answer
    const auto count = text::parse_count(candidate);
    if (!count) {
      reply(update, context, usage::orders);
      return;
    }
    context.bot.num_orders_displayed(*count);
    context.bot.active_orders(true);
  } else if (args.size() == 1) {
    if (args[0] == filter) {
      context.bot.active_orders(true);
    } else {
      const auto count = text::parse_count(args[0]);
      if (!count) {
        reply(update, context, usage::orders);
        return;
      }
      context.bot.num_orders_displayed(*count);
    }
  }
  context.bot.get_orders(true);
  reply(update, context,
        stamp(context) + "Fetching orders (active_orders=" + truth(context.bot.active_orders()) +
            ", num_orders_displayed=" + std::to_string(context.bot.num_orders_displayed()) +
            ")...");
}

}  // namespace orbrix::telegram::commands
