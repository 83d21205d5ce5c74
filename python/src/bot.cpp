// The Telegram control bot for Python engines: TelegramBot with its control
// properties (orbrix_status, get_balance, order_string, ...), the take_*
// calls that read and retire a request in one step, send_message and close.
// Calls that talk to the server or join the bot's threads release the GIL;
// a Python log callable is called from the bot's threads with the GIL taken.

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "bindings.hpp"
#include "orbrix/telegram/telegram_bot.hpp"
#include "seconds.hpp"
#include "without_gil.hpp"

namespace orbrix::python {

namespace {

using telegram::TelegramBot;
using Release = py::call_guard<py::gil_scoped_release>;

std::shared_ptr<TelegramBot> make_bot(
    std::string token, std::string api_url, std::optional<std::int64_t> chat_id,
    std::vector<std::int64_t> allowed_chat_ids, std::size_t max_pending, double poll_timeout,
    double stale_after, bool confirm_trades, double confirm_seconds, double request_timeout,
    bool start_polling, std::optional<std::function<void(std::string)>> log) {
  telegram::BotOptions o;
  o.api.api_url = std::move(api_url);
  o.api.request_timeout = timeout_millis(request_timeout, "request_timeout");
  o.polling.poll_timeout = std::chrono::seconds(static_cast<std::int64_t>(poll_timeout));
  o.polling.stale_after = std::chrono::seconds(static_cast<std::int64_t>(stale_after));
  o.default_chat_id = chat_id;
  o.allowed_chat_ids = std::move(allowed_chat_ids);
  o.max_pending = max_pending;
  o.confirm.enabled = confirm_trades;
  o.confirm.timeout = timeout_millis(confirm_seconds, "confirm_seconds");
  o.start_polling = start_polling;
  if (log) {
    o.log = [fn = std::move(*log)](std::string_view line) { fn(std::string(line)); };
  }
  std::shared_ptr<TelegramBot> bot;
  {
    py::gil_scoped_release released;
    bot = std::make_shared<TelegramBot>(std::move(token), std::move(o));
  }
  return released_without_gil(std::move(bot));
}

// What a control property's docstring says, by its role and request kind.
std::string control_doc(std::string_view role, std::string_view kind) {
  const std::string command = "/" + std::string(kind);
  if (role == "status") {
    return "'Running', or 'Terminated' once /stop asked the engine to stop (the engine may set "
           "it too). Any thread; never blocks for long.";
  }
  if (role == "flag") {
    return "True while a " + command +
           " request is pending. Setting False retires the oldest one (the flag stays raised "
           "while more wait); setting True queues one with the parameters in force. Any "
           "thread; never blocks for long.";
  }
  return "A parameter of " + command +
         " requests: the oldest pending request's value, or with none pending the value in "
         "force. Setting it sets the value in force, which later commands that do not name it "
         "get; a request already queued keeps its own. Any thread; never blocks for long.";
}

}  // namespace

void bind_bot(py::module_& m) {
  py::enum_<telegram::RequestKind>(m, "RequestKind",
                                   "The kinds of request a chat command queues for the engine "
                                   "(each named after its command), for TelegramBot.pending.")
      .value("balance", telegram::RequestKind::balance)
      .value("positions", telegram::RequestKind::positions)
      .value("orders", telegram::RequestKind::orders)
      .value("deals", telegram::RequestKind::deals)
      .value("cancel_order", telegram::RequestKind::cancel_order)
      .value("cancel_orders", telegram::RequestKind::cancel_orders)
      .value("send_order", telegram::RequestKind::send_order)
      .value("close_positions", telegram::RequestKind::close_positions)
      .value("halt", telegram::RequestKind::halt)
      .value("reduce", telegram::RequestKind::reduce)
      .value("resume", telegram::RequestKind::resume)
      .value("risk", telegram::RequestKind::risk);

  py::class_<TelegramBot, std::shared_ptr<TelegramBot>> cls(
      m, "TelegramBot",
      R"doc(The Telegram control bot: chat commands become requests the engine serves.

It polls the Bot API on threads of its own from construction until close,
and turns the commands of the allowed chats (/balance, /positions,
/orders, /deals, /cancel_order, /cancel_orders, /send_order,
/close_positions, /stop) into requests. The engine, on its own thread,
polls them and serves each: read a flag property (get_balance, ...) and
its parameters, or call a take_... method, which reads the oldest request
of its kind and retires it in one step; carry it out; answer with
send_message. Requests of a kind queue in arrival order (at most
max_pending). orbrix_status == 'Terminated' asks the engine to stop; what
it leaves unserved it hands to abandon_pending.

Every property and take_... call is safe from any thread and never blocks
for long; the calls that talk to the server release the GIL.)doc");
  cls.attr("description") = std::string(TelegramBot::description);
  cls.def(
         py::init(&make_bot), py::arg("token"), py::kw_only(),
         py::arg("api_url") = std::string(telegram::default_api_url),
         py::arg("chat_id") = py::none(), py::arg("allowed_chat_ids") = std::vector<std::int64_t>{},
         py::arg("max_pending") = telegram::RequestQueues::default_limit,
         py::arg("poll_timeout") = 30.0, py::arg("stale_after") = 300.0,
         py::arg("confirm_trades") = false, py::arg("confirm_seconds") = 60.0,
         py::arg("request_timeout") = 15.0, py::arg("start_polling") = true,
         py::arg("log") = py::none(),
         R"doc(Makes the bot and starts polling at once (unless start_polling is False); returns at once.

token: the bot's token, '<digits>:<secret>'. api_url: the Bot API's base
URL. chat_id: the chat send_message writes to by default; it and
allowed_chat_ids may command the bot, every other chat is refused.
max_pending: requests of one kind that may wait for the engine (at least
1); a command beyond is refused with a reply. poll_timeout: seconds of the
server's long poll (whole seconds). stale_after: seconds; commands sent
longer than this before the bot started are not acted on. confirm_trades:
trading commands wait for a Confirm button, accepted for confirm_seconds
seconds. request_timeout: seconds one call to the server may take.
start_polling False makes a bot that only sends. log(line), when given,
receives the diagnostic lines (instead of standard output), on the bot's
threads with the GIL taken.

Raises ValueError for a token not of that form, an unusable api_url, a
max_pending of 0, or a time-out that is NaN or negative (math.inf: no
limit); RuntimeError when a thread cannot start.)doc")
      .def("close", &TelegramBot::close, Release(),
           "Stops polling and confirms the handled updates to the server, then answers each "
           "request still pending as abandon_pending does. Host thread; blocks (GIL released) "
           "at most about twice the request time-out, plus the notices; calling it again does "
           "nothing. Raises RuntimeError from the bot's own threads (a log callable).")
      .def("abandon_pending", &TelegramBot::abandon_pending, py::arg("reason"), Release(),
           "Retires every pending request and tells the chat each came from that it was not "
           "carried out and why, one message per request in arrival order; returns how many "
           "it retired. Host thread; blocks (GIL released) for the messages, each up to the "
           "request time-out.")
      .def("send_message", py::overload_cast<std::string_view>(&TelegramBot::send_message),
           py::arg("msg"), Release(),
           "Sends msg to the default chat (split when longer than one message may be). A "
           "message the server refuses with 429 is sent again after the wait it names (twice at "
           "most, 10 s of waiting in all). Any thread; blocks (GIL released) up to the request "
           "time-out per message plus those waits. Raises ValueError, with nothing sent, for an "
           "empty or blank msg or when there is no default chat; RuntimeError for the server's "
           "errors.")
      .def("send_message",
           py::overload_cast<std::string_view, std::int64_t>(&TelegramBot::send_message),
           py::arg("msg"), py::arg("chat_id"), Release(),
           "Sends msg to chat_id; otherwise as the one-argument form.")
      .def("pending", &TelegramBot::pending, py::arg("kind"), Release(),
           "How many requests of `kind` wait for the engine. Any thread.")
      .def_property_readonly("polling", &TelegramBot::polling,
                             "False once closed, or after the server refused the token.")
      .def_property_readonly("default_chat_id", &TelegramBot::default_chat_id,
                             "The chat send_message writes to by default, or None.")
      .def("take_balance", &TelegramBot::take_balance, Release(),
           "Retires the oldest /balance request; returns whether there was one. Any thread.")
      .def("take_positions", &TelegramBot::take_positions, Release(),
           "Retires the oldest /positions request; returns whether there was one. Any thread.")
      .def(
          "take_orders",
          [](TelegramBot& b) -> std::optional<std::tuple<bool, std::int64_t>> {
            std::optional<telegram::OrdersRequest> r;
            {
              py::gil_scoped_release released;
              r = b.take_orders();
            }
            if (!r) {
              return std::nullopt;
            }
            return std::make_tuple(r->active_orders, r->num_orders_displayed);
          },
          "Retires the oldest /orders request and returns its (active_orders, "
          "num_orders_displayed), or None when none is pending. Any thread.")
      .def("take_deals", &TelegramBot::take_deals, Release(),
           "Retires the oldest /deals request and returns its num_deals_displayed, or None when "
           "none is pending. Any thread.")
      .def(
          "take_cancel_order",
          [](TelegramBot& b)
              -> std::optional<std::tuple<std::optional<std::string>, std::optional<std::string>>> {
            std::optional<telegram::CancelOrderRequest> r;
            {
              py::gil_scoped_release released;
              r = b.take_cancel_order();
            }
            if (!r) {
              return std::nullopt;
            }
            return std::make_tuple(r->cancel_order_id, r->gateway_name);
          },
          "Retires the oldest /cancel_order request and returns its (cancel_order_id, "
          "gateway_name), or None when none is pending. Any thread.")
      .def("take_cancel_orders", &TelegramBot::take_cancel_orders, Release(),
           "Retires the oldest /cancel_orders request; returns whether there was one. Any "
           "thread.")
      .def("take_send_order", &TelegramBot::take_send_order, Release(),
           "Retires the oldest /send_order request and returns its order_string, or None when "
           "none is pending. Any thread.")
      .def(
          "take_close_positions",
          [](TelegramBot& b) -> std::optional<std::tuple<std::optional<std::string>>> {
            std::optional<telegram::ClosePositionsRequest> r;
            {
              py::gil_scoped_release released;
              r = b.take_close_positions();
            }
            if (!r) {
              return std::nullopt;
            }
            return std::make_tuple(r->gateway_name);
          },
          "Retires the oldest /close_positions request and returns (gateway_name,), None "
          "meaning every gateway; None when none is pending. Any thread.")
      .def(
          "take_halt",
          [](TelegramBot& b) -> std::optional<std::tuple<bool, std::string>> {
            std::optional<telegram::HaltRequest> r;
            {
              py::gil_scoped_release released;
              r = b.take_halt();
            }
            if (!r) {
              return std::nullopt;
            }
            return std::make_tuple(r->cancel_all, r->reason);
          },
          "Retires the oldest /halt request and returns (cancel_all, reason), or None when none "
          "is pending. Any thread.")
      .def("take_reduce", &TelegramBot::take_reduce, Release(),
           "Retires the oldest /reduce request and returns its reason, or None when none is "
           "pending. Any thread.")
      .def("take_resume", &TelegramBot::take_resume, Release(),
           "Retires the oldest /resume request; returns whether there was one. Any thread.")
      .def("take_risk", &TelegramBot::take_risk, Release(),
           "Retires the oldest /risk request; returns whether there was one. Any thread.");

#define ORBRIX_PY_BOT_PROPERTY(role, type, name, initial, kind) \
  cls.def_property(                                             \
      #name,                                                    \
      [](const TelegramBot& b) {                                \
        py::gil_scoped_release released;                        \
        return b.name();                                        \
      },                                                        \
      [](TelegramBot& b, type value) {                          \
        py::gil_scoped_release released;                        \
        b.name(std::move(value));                               \
      },                                                        \
      control_doc(#role, #kind).c_str());
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_PY_BOT_PROPERTY)
#undef ORBRIX_PY_BOT_PROPERTY
}

}  // namespace orbrix::python
