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

}  // namespace

void bind_bot(py::module_& m) {
  py::enum_<telegram::RequestKind>(m, "RequestKind")
      .value("balance", telegram::RequestKind::balance)
      .value("positions", telegram::RequestKind::positions)
      .value("orders", telegram::RequestKind::orders)
      .value("deals", telegram::RequestKind::deals)
      .value("cancel_order", telegram::RequestKind::cancel_order)
      .value("cancel_orders", telegram::RequestKind::cancel_orders)
      .value("send_order", telegram::RequestKind::send_order)
      .value("close_positions", telegram::RequestKind::close_positions);

  py::class_<TelegramBot, std::shared_ptr<TelegramBot>> cls(m, "TelegramBot");
  cls.attr("description") = std::string(TelegramBot::description);
  cls.def(py::init(&make_bot), py::arg("token"), py::kw_only(),
          py::arg("api_url") = std::string(telegram::default_api_url),
          py::arg("chat_id") = py::none(),
          py::arg("allowed_chat_ids") = std::vector<std::int64_t>{},
          py::arg("max_pending") = telegram::RequestQueues::default_limit,
          py::arg("poll_timeout") = 30.0, py::arg("stale_after") = 300.0,
          py::arg("confirm_trades") = false, py::arg("confirm_seconds") = 60.0,
          py::arg("request_timeout") = 15.0, py::arg("start_polling") = true,
          py::arg("log") = py::none(),
          "Starts polling the Bot API at once; commands from chat_id and allowed_chat_ids "
          "raise requests the engine serves. log(line) receives the diagnostic lines.")
      .def("close", &TelegramBot::close, Release())
      .def("abandon_pending", &TelegramBot::abandon_pending, py::arg("reason"), Release())
      .def("send_message", py::overload_cast<std::string_view>(&TelegramBot::send_message),
           py::arg("msg"), Release())
      .def("send_message",
           py::overload_cast<std::string_view, std::int64_t>(&TelegramBot::send_message),
           py::arg("msg"), py::arg("chat_id"), Release())
      .def("pending", &TelegramBot::pending, py::arg("kind"), Release())
      .def_property_readonly("polling", &TelegramBot::polling)
      .def_property_readonly("default_chat_id", &TelegramBot::default_chat_id)
      .def("take_balance", &TelegramBot::take_balance, Release())
      .def("take_positions", &TelegramBot::take_positions, Release())
      .def(
          "take_orders",
          [](TelegramBot& b) -> py::object {
            std::optional<telegram::OrdersRequest> r;
            {
              py::gil_scoped_release released;
              r = b.take_orders();
            }
            if (!r) {
              return py::none();
            }
            return py::make_tuple(r->active_orders, r->num_orders_displayed);
          },
          "(active_orders, num_orders_displayed) of the oldest /orders request, or None.")
      .def("take_deals", &TelegramBot::take_deals, Release())
      .def(
          "take_cancel_order",
          [](TelegramBot& b) -> py::object {
            std::optional<telegram::CancelOrderRequest> r;
            {
              py::gil_scoped_release released;
              r = b.take_cancel_order();
            }
            if (!r) {
              return py::none();
            }
            return py::make_tuple(r->cancel_order_id, r->gateway_name);
          },
          "(cancel_order_id, gateway_name) of the oldest /cancel_order request, or None.")
      .def("take_cancel_orders", &TelegramBot::take_cancel_orders, Release())
      .def("take_send_order", &TelegramBot::take_send_order, Release())
      .def(
          "take_close_positions",
          [](TelegramBot& b) -> py::object {
            std::optional<telegram::ClosePositionsRequest> r;
            {
              py::gil_scoped_release released;
              r = b.take_close_positions();
            }
            if (!r) {
              return py::none();
            }
            return py::make_tuple(r->gateway_name);
          },
          "(gateway_name,) of the oldest /close_positions request (None: every gateway), or "
          "None.");

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
      });
  ORBRIX_TELEGRAM_CONTROL_FIELDS(ORBRIX_PY_BOT_PROPERTY)
#undef ORBRIX_PY_BOT_PROPERTY
}

}  // namespace orbrix::python
