#include "orbrix/telegram/updater.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "orbrix/telegram/customed_ext_bot.hpp"
#include "orbrix/telegram/errors.hpp"

namespace orbrix::telegram {

namespace {

double in_seconds(std::chrono::milliseconds d) {
  return static_cast<double>(d.count()) / 1000.0;
}

}  // namespace

Updater::Updater(CustomedExtBot& bot, PollingOptions options, LogSink log)
    : bot_(bot),
      options_(options),
      log_(log ? std::move(log) : LogSink(&write_line)),
      dispatcher_(bot, log_),
      rng_(std::random_device{}()) {}

Updater::~Updater() {
  stop();
}

void Updater::start_polling() {
  {
    MutexLock lock(mu_);
    if (started_ || stopped_)
      throw std::logic_error("Telegram polling was already started");
    started_ = true;
    polling_ = true;
  }
  try {
    dispatcher_thread_ = std::thread(&Updater::dispatch_loop, this);
    poller_ = std::thread(&Updater::poll_loop, this);
  } catch (...) {
    stop();
    throw;
  }
}

bool Updater::running() const {
  MutexLock lock(mu_);
  return polling_;
}

std::optional<std::int64_t> Updater::last_handled() const {
  MutexLock lock(mu_);
  return last_handled_;
}

std::chrono::milliseconds Updater::abandon_after() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(options_.poll_timeout) +
         options_.poll_margin;
}

Updater::Next Updater::next_step(bool wait_for_dispatch) {
  MutexLock lock(mu_);
  if (wait_for_dispatch) {
    // The next poll confirms the current batch, so it waits until the batch
    // has been handled.
    cv_.wait(lock, [this]() NO_THREAD_SAFETY_ANALYSIS {
      return stopping_ || fetch_requested_ || (queue_.empty() && !handler_running_);
    });
  }
  if (stopping_)
    return Next::stop;
  if (fetch_requested_)
    return Next::fetch;
  // Cancels come only under mu_, so one issued before this point has been
  // seen through the flags above and may be cleared now.
  poll_cancel_.reset();
  return Next::call;
}

void Updater::serve_fetch() {
  std::int64_t offset = 0;
  {
    MutexLock lock(mu_);
    if (!fetch_requested_)
      return;
    fetch_requested_ = false;
    poll_cancel_.reset();
    offset = confirmed_offset_;
  }
  std::vector<Update> result;
  std::exception_ptr error;
  try {
    result = bot_.get_updates(offset, std::chrono::seconds{0}, bot_.api().options().request_timeout,
                              &poll_cancel_);
  } catch (...) {
    error = std::current_exception();
  }
  MutexLock lock(mu_);
  fetch_result_ = std::move(result);
  fetch_error_ = error;
  fetch_done_ = true;
  cv_.notify_all();
}

bool Updater::identify() {
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
      const User me = bot_.get_me(&poll_cancel_);
      on_success();
      log_(fmt::format("telegram: polling as @{}", me.username.value_or("(no user name)")));
      return true;
    } catch (const Cancelled&) {
      continue;
    } catch (...) {
      if (!recover("getMe", std::current_exception()))
        return false;
    }
  }
}

void Updater::poll_loop() {
  if (identify()) {
    while (true) {
      const Next next = next_step(true);
      if (next == Next::stop)
        break;
      if (next == Next::fetch) {
        serve_fetch();
        continue;
      }
      std::int64_t offset = 0;
      {
        MutexLock lock(mu_);
        offset = next_offset_;
      }
      std::vector<Update> updates;
      try {
        updates = bot_.get_updates(offset, options_.poll_timeout, abandon_after(), &poll_cancel_);
      } catch (const Cancelled&) {
        continue;
      } catch (...) {
        if (!recover("getUpdates", std::current_exception()))
          break;
        continue;
      }
      on_success();
      MutexLock lock(mu_);
      confirmed_offset_ = offset;
      for (Update& update : updates) {
        // The server never repeats a confirmed update; should one come back,
        // it is not run again.
        if (update.update_id < next_offset_)
          continue;
        next_offset_ = update.update_id + 1;
        queue_.push_back(std::move(update));
      }
      cv_.notify_all();
    }
  }
  MutexLock lock(mu_);
  polling_ = false;
  cv_.notify_all();
}

void Updater::dispatch_loop() {
  {
    MutexLock lock(mu_);
    dispatcher_id_ = std::this_thread::get_id();
  }
  while (true) {
    Update update;
    {
      MutexLock lock(mu_);
      cv_.wait(lock,
               [this]() NO_THREAD_SAFETY_ANALYSIS { return dispatch_stop_ || !queue_.empty(); });
      // Updates still queued at stop stay unconfirmed on the server and come
      // back at the next start.
      if (dispatch_stop_)
        return;
      update = std::move(queue_.front());
      queue_.pop_front();
      handler_running_ = true;
    }
    dispatcher_.process_update(update);
    MutexLock lock(mu_);
    handler_running_ = false;
    last_handled_ = update.update_id;
    cv_.notify_all();
  }
}

void Updater::on_success() {
  if (failing_)
    log_("telegram: polling resumed");
  failing_ = false;
  failures_ = 0;
  conflict_reported_ = false;
}

std::chrono::milliseconds Updater::next_backoff() {
  const auto initial = std::max<std::int64_t>(options_.backoff_initial.count(), 1);
  const auto cap = std::max<std::int64_t>(options_.backoff_max.count(), initial);
  std::int64_t step = initial;
  for (int i = 0; i < failures_ && step < cap; ++i)
    step *= 2;
  step = std::min(step, cap);
  ++failures_;
  std::uniform_int_distribution<std::int64_t> jitter(step / 2, step);
  return std::chrono::milliseconds{jitter(rng_)};
}

void Updater::pause(std::chrono::milliseconds delay) {
  MutexLock lock(mu_);
  cv_.wait_for(lock, delay,
               [this]() NO_THREAD_SAFETY_ANALYSIS { return stopping_ || fetch_requested_; });
}

bool Updater::recover(const char* method, std::exception_ptr error) {
  failing_ = true;
  try {
    std::rethrow_exception(error);
  } catch (const ApiError& e) {
    const int code = e.error_code();
    if (code == 401 || code == 404) {
      log_(
          fmt::format("telegram: {}; the server does not accept this bot token, polling "
                      "stopped (check TELEGRAM_TOKEN and TELEGRAM_API_URL)",
                      e.what()));
      return false;
    }
    if (code == 429 && e.retry_after()) {
      const std::chrono::milliseconds delay = std::chrono::seconds{std::max(*e.retry_after(), 0)};
      log_(fmt::format("telegram: {}; retrying in {} s", e.what(), in_seconds(delay)));
      pause(delay);
    } else if (code == 409) {
      // Typical right after a restart, while the previous poller's request
      // is still open: said once, then retried quietly until it clears.
      const auto delay = next_backoff();
      if (!conflict_reported_) {
        log_(
            fmt::format("telegram: {}; another poller or a webhook is using this bot, "
                        "retrying until it stops",
                        e.what()));
        conflict_reported_ = true;
      }
      pause(delay);
    } else {
      const auto delay = next_backoff();
      log_(fmt::format("telegram: {}; retrying in {:.1f} s", e.what(), in_seconds(delay)));
      pause(delay);
    }
  } catch (const std::exception& e) {
    const auto delay = next_backoff();
    log_(bot_.redact(
        fmt::format("telegram: {}; retrying in {:.1f} s", e.what(), in_seconds(delay))));
    pause(delay);
  } catch (...) {
    const auto delay = next_backoff();
    log_(fmt::format("telegram: {} failed with an unknown error; retrying in {:.1f} s", method,
                     in_seconds(delay)));
    pause(delay);
  }
  MutexLock lock(mu_);
  return !stopping_;
}

std::vector<Update> Updater::fetch_pending() {
  MutexLock serial(fetch_mu_);
  std::int64_t offset = 0;
  {
    MutexLock lock(mu_);
    if (polling_ && !stopping_) {
      fetch_requested_ = true;
      fetch_done_ = false;
      poll_cancel_.cancel();
      cv_.notify_all();
      const auto limit = bot_.api().options().request_timeout * 2 + abandon_after();
      cv_.wait_for(lock, limit,
                   [this]() NO_THREAD_SAFETY_ANALYSIS { return fetch_done_ || !polling_; });
      if (fetch_done_) {
        fetch_done_ = false;
        if (fetch_error_)
          std::rethrow_exception(std::exchange(fetch_error_, nullptr));
        return std::move(fetch_result_);
      }
      fetch_requested_ = false;
      if (polling_)
        throw NetworkError("Telegram getUpdates: the poller did not answer in time");
    }
    offset = confirmed_offset_;
  }
  // Nothing else polls: call directly.
  return bot_.get_updates(offset, std::chrono::seconds{0}, bot_.api().options().request_timeout);
}

void Updater::stop() {
  {
    MutexLock lock(mu_);
    if (stopped_)
      return;
    if (started_ && std::this_thread::get_id() == dispatcher_id_) {
      throw std::logic_error("Telegram polling cannot be stopped from a handler");
    }
    stopped_ = true;
    stopping_ = true;
    poll_cancel_.cancel();
    cv_.notify_all();
    if (!started_)
      return;
  }
  if (poller_.joinable())
    poller_.join();

  bool handler_stuck = false;
  {
    MutexLock lock(mu_);
    dispatch_stop_ = true;
    cv_.notify_all();
    handler_stuck = !cv_.wait_for(lock, options_.close_timeout,
                                  [this]() NO_THREAD_SAFETY_ANALYSIS { return !handler_running_; });
  }
  if (handler_stuck) {
    log_("telegram: a handler is still running at close; abandoning its reply");
    bot_.cancel_replies();
  }
  if (dispatcher_thread_.joinable())
    dispatcher_thread_.join();
  bot_.resume_replies();

  std::optional<std::int64_t> last;
  {
    MutexLock lock(mu_);
    last = last_handled_;
  }
  if (!last)
    return;
  try {
    bot_.get_updates(*last + 1, std::chrono::seconds{0}, options_.close_timeout);
    MutexLock lock(mu_);
    confirmed_offset_ = *last + 1;
  } catch (const std::exception& e) {
    log_(bot_.redact(
        fmt::format("telegram: could not confirm the handled updates at close: {}", e.what())));
  }
}

}  // namespace orbrix::telegram
