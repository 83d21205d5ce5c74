// The updater's start: the webhook removed, stale commands skipped, the
// command menu registered.
#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "orbrix/telegram/customed_ext_bot.hpp"
#include "orbrix/telegram/errors.hpp"
#include "orbrix/telegram/updater.hpp"

namespace orbrix::telegram {

bool Updater::prepare() {
  bool identified = false;
  bool unhooked = false;
  while (true) {
    switch (next_step(false)) {
      case Next::stop:
        return false;
      case Next::fetch:
        serve_fetch();
        continue;
      case Next::call:
        break;
    }
    try {
      if (!identified) {
        const User me = bot_.get_me(&poll_cancel_);
        identified = true;
        on_success();
        log_(fmt::format("telegram: polling as @{}", me.username.value_or("(no user name)")));
      }
      if (!unhooked) {
        // A webhook left on the token makes every getUpdates a 409.
        bot_.delete_webhook(&poll_cancel_);
        unhooked = true;
        on_success();
      }
      register_commands();
      return true;
    } catch (const Cancelled&) {
      continue;
    } catch (...) {
      if (!recover(identified ? "deleteWebhook" : "getMe", std::current_exception())) {
        return false;
      }
    }
  }
}

void Updater::register_commands() {
  if (commands_.empty()) {
    return;
  }
  try {
    bot_.set_my_commands(commands_, &poll_cancel_);
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception& e) {
    // The menu only helps the operator type; the commands work without it.
    log_(bot_.redact(fmt::format(
        "telegram: the command menu was not registered ({}); the commands work all the same",
        e.what())));
  }
}

}  // namespace orbrix::telegram
