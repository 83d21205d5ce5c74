#pragma once

// The chat commands. Each runs on the dispatcher thread, checks its words,
// queues its request (with the parameters it names) on context.bot, and
// answers in the chat the command came from: the acknowledgement, or, when
// max_pending requests of the kind already wait, a refusal that says so.
// With confirmation on, the trading commands (/send_order, /cancel_order,
// /cancel_orders, /close_positions, /halt, /reduce, /resume) first ask with a Confirm / Cancel
// keyboard and queue only when confirmed in time. A failed reply raises the
// BotApi error (a request already queued stays queued).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/telegram/handler.hpp"
#include "orbrix/telegram/types.hpp"

namespace orbrix::telegram::commands {

namespace usage {
inline constexpr std::string_view stop = "/stop [no parameters]: Stop the engine";
inline constexpr std::string_view balance = "/balance [no parameters]: Fetch balance";
inline constexpr std::string_view positions =
    "/positions [no parameters]: Fetch positions of all gateways";
inline constexpr std::string_view cancel_orders =
    "/cancel_orders [no parameters]: cancel all active orders";
inline constexpr std::string_view cancel_order =
    "/cancel_order [parameters]: cancel an active order\n"
    "- order_id: str, the id of the order\n"
    "- gateway_name: str, the name of the gateway";
inline constexpr std::string_view send_order =
    "/send_order [parameters] send an order with string instruction:\n"
    "- order_string: str, security_code, quantity, direction(l/s), offset(o/c),\n"
    "                order_type(m/l/s), gateway_name, price(None),\n"
    "                stop_price(None)";
inline constexpr std::string_view close_positions =
    "/close_positions [parameters]:\n"
    "- gateway_name: str, the name of the gateway";
inline constexpr std::string_view orders =
    "/orders [parameters]: Fetch orders\n"
    "- filter:str (optional) if \"-a\", only return alive orders\n"
    "- n:int (optional) number of displayed records";
inline constexpr std::string_view deals =
    "/deals [parameters]: fetch done deals\n"
    "- n:int (optional) number of displayed records";
inline constexpr std::string_view echo = "Echo command";
}  // namespace usage

// The commands the bot serves, with their arguments and what they do, in
// menu order (setMyCommands and /help).
struct CommandInfo {
  const char* command;  // without '/'
  const char* arguments;
  const char* description;
};
extern const std::vector<CommandInfo> catalogue;

// The menu for setMyCommands.
std::vector<BotCommand> menu();

// The /help text: one line per command with its arguments, an example order
// string, and, when `confirm_seconds` is given, that trading commands wait
// for a confirmation.
std::string help_text(std::optional<std::int64_t> confirm_seconds);

// /help and /start: the command list.
void help(const Update& update, CallbackContext& context);
// A press on a Confirm / Cancel button (a callback query).
void confirmation(const Update& update, CallbackContext& context);
// Plain text: "[ECHO] " and the text.
void echo(const Update& update, CallbackContext& context);
// orbrix_status = "Terminated".
void stop(const Update& update, CallbackContext& context);
// get_balance.
void balance(const Update& update, CallbackContext& context);
// get_positions.
void positions(const Update& update, CallbackContext& context);
// [-a] [n]: active_orders, num_orders_displayed, then get_orders.
void orders(const Update& update, CallbackContext& context);
// [n]: num_deals_displayed, then get_deals.
void deals(const Update& update, CallbackContext& context);
// order_id gateway_name: cancel_order_id, gateway_name, then cancel_order.
void cancel_order(const Update& update, CallbackContext& context);
// cancel_orders.
void cancel_orders(const Update& update, CallbackContext& context);
// one order string of eight comma-separated pieces: order_string, then send_order.
void send_order(const Update& update, CallbackContext& context);
// [gateway_name]: close_positions_gateway_name, then close_positions.
void close_positions(const Update& update, CallbackContext& context);
// [cancel] [reason...]: halt_cancel_all, halt_reason, then halt_trading.
void halt(const Update& update, CallbackContext& context);
// [reason...]: reduce_reason, then reduce_only.
void reduce(const Update& update, CallbackContext& context);
// resume_trading.
void resume(const Update& update, CallbackContext& context);
// get_risk.
void risk(const Update& update, CallbackContext& context);

}  // namespace orbrix::telegram::commands
