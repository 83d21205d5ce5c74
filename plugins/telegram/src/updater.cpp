#include "orbrix/telegram/updater.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "orbrix/telegram/customed_ext_bot.hpp"
#include "orbrix/telegram/errors.hpp"

namespace orbrix::telegram {

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
    MutexLock lock(mutex_);
    if (started_ || stopped_) {
      throw std::logic_error("Telegram polling was already started");
    }
    started_ = true;
    polling_ = true;
  }
  started_at_ = std::chrono::duration_cast<std::chrono::seconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  try {
    dispatcher_thread_ = std::thread(&Updater::dispatch_loop, this);
    poller_ = std::thread(&Updater::poll_loop, this);
  } catch (...) {
    stop();
    throw;
  }
}

bool Updater::running() const {
  MutexLock lock(mutex_);
  return polling_;
}

std::optional<std::int64_t> Updater::last_handled() const {
  MutexLock lock(mutex_);
  return last_handled_;
}

std::chrono::milliseconds Updater::abandon_after() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(options_.poll_timeout) +
         options_.poll_margin;
}

Updater::Next Updater::next_step(bool wait_for_dispatch) {
  MutexLock lock(mutex_);
  if (wait_for_dispatch) {
    // The next poll confirms the current batch, so it waits until the batch
    // has been handled.
    cv_.wait(lock, [this]() NO_THREAD_SAFETY_ANALYSIS {
      return stopping_ || fetch_requested_ || (queue_.empty() && !handler_running_);
    });
  }
  if (stopping_) {
    return Next::stop;
  }
  if (fetch_requested_) {
    return Next::fetch;
  }
  // Cancels come only under mutex_, so one issued before this point has been
  // seen through the flags above and may be cleared now.
  poll_cancel_.reset();
  return Next::call;
}

void Updater::serve_fetch() {
  std::int64_t offset = 0;
  {
    MutexLock lock(mutex_);
    if (!fetch_requested_) {
      return;
    }
    fetch_requested_ = false;
    poll_cancel_.reset();
    offset = confirmed_offset_;
  }
  std::vector<Update> result;
  std::exception_ptr error;
  try {
    result = bot_.get_updates(offset, std::chrono::seconds{0}, bot_.api().options().request_timeout,
                              &poll_cancel_, options_.allowed_updates)
                 .updates;
  } catch (...) {
    error = std::current_exception();
  }
  MutexLock lock(mutex_);
  fetch_result_ = std::move(result);
  fetch_error_ = error;
  fetch_done_ = true;
  cv_.notify_all();
}

std::optional<std::int64_t> Updater::stale_age(const Update& update) const {
  if (!startup_ || update.kind != UpdateKind::message || !update.message || !update.message->date) {
    return std::nullopt;
  }
  const std::int64_t age = started_at_ - *update.message->date;
  if (age <= options_.stale_after.count()) {
    return std::nullopt;
  }
  return age;
}

bool Updater::take_batch(std::int64_t offset, UpdateBatch batch) {
  std::vector<std::string> lines;
  std::vector<Update>& updates = batch.updates;
  const bool empty = updates.empty() && batch.unreadable.empty();
  // The server sends ids in ascending order; one offset confirms every lower
  // id, so handling in id order is what keeps confirmation honest.
  const auto by_id = [](const Update& a, const Update& b) { return a.update_id < b.update_id; };
  if (!std::is_sorted(updates.begin(), updates.end(), by_id)) {
    lines.push_back(
        "telegram: getUpdates answered with update ids out of order; "
        "handling them in id order");
    std::stable_sort(updates.begin(), updates.end(), by_id);
  }
  bool stale_seen = false;
  std::size_t repeats = 0;
  bool advanced = false;
  {
    MutexLock lock(mutex_);
    confirmed_offset_ = offset;
    const std::int64_t before = next_offset_;
    for (Update& update : updates) {
      if (update.update_id < next_offset_) {
        // Below the request's offset: confirmed before, and the server sent
        // it again. Otherwise the same id twice in this answer.
        if (update.update_id < offset) {
          ++repeats;
        } else {
          lines.push_back(
              fmt::format("telegram: update {} came twice in one getUpdates answer; handled once",
                          update.update_id));
        }
        continue;
      }
      next_offset_ = update.update_id + 1;
      if (const auto age = stale_age(update)) {
        stale_seen = true;
        lines.push_back(fmt::format(
            "telegram: skipped update {} from chat {}: sent {} s before start-up, more than "
            "{} s; confirmed without running it",
            update.update_id, update.message->chat.id, *age, options_.stale_after.count()));
        continue;
      }
      queue_.push_back(std::move(update));
    }
    if (batch.next_offset) {
      next_offset_ = std::max(next_offset_, *batch.next_offset);
    }
    advanced = next_offset_ > before;
    cv_.notify_all();
  }
  if (!stale_seen) {
    startup_ = false;
  }
  if (!batch.unreadable.empty() && batch.next_offset) {
    lines.push_back(fmt::format(
        "telegram: skipped {} unreadable item(s) of a getUpdates answer ({}); confirmed past {}",
        batch.unreadable.size(), fmt::join(batch.unreadable, "; "),
        batch.unreadable.size() == 1 ? "it" : "them"));
  }
  for (const std::string& line : lines) {
    log_(line);
  }
  if (empty || advanced) {
    return true;
  }
  if (!stall_reported_) {
    if (repeats > 0) {
      log_(
          fmt::format("telegram: getUpdates sent back {} update(s) confirmed before (the server "
                      "ignores offset); retrying with back-off",
                      repeats));
    } else {
      log_(
          fmt::format("telegram: getUpdates answered with an item that cannot be read nor "
                      "placed ({}); it stays on the server, retrying with back-off",
                      fmt::join(batch.unreadable, "; ")));
    }
    stall_reported_ = true;
  }
  return false;
}

void Updater::poll_loop() {
  if (prepare()) {
    while (true) {
      const Next next = next_step(true);
      if (next == Next::stop) {
        break;
      }
      if (next == Next::fetch) {
        serve_fetch();
        continue;
      }
      std::int64_t offset = 0;
      {
        MutexLock lock(mutex_);
        offset = next_offset_;
      }
      UpdateBatch batch;
      try {
        batch = bot_.get_updates(offset, options_.poll_timeout, abandon_after(), &poll_cancel_,
                                 options_.allowed_updates);
      } catch (const Cancelled&) {
        continue;
      } catch (...) {
        if (!recover("getUpdates", std::current_exception())) {
          break;
        }
        continue;
      }
      if (take_batch(offset, std::move(batch))) {
        on_success();
      } else {
        // An answer that brings nothing new would otherwise be fetched again
        // at once, for ever.
        failing_ = true;
        pause(next_backoff());
      }
    }
  }
  MutexLock lock(mutex_);
  polling_ = false;
  cv_.notify_all();
}

void Updater::dispatch_loop() {
  {
    MutexLock lock(mutex_);
    dispatcher_id_ = std::this_thread::get_id();
  }
  while (true) {
    Update update;
    {
      MutexLock lock(mutex_);
      cv_.wait(lock,
               [this]() NO_THREAD_SAFETY_ANALYSIS { return dispatch_stop_ || !queue_.empty(); });
      // Updates still queued at stop stay unconfirmed on the server and come
      // back at the next start.
      if (dispatch_stop_) {
        return;
      }
      update = std::move(queue_.front());
      queue_.pop_front();
      handler_running_ = true;
    }
    dispatcher_.process_update(update);
    MutexLock lock(mutex_);
    handler_running_ = false;
    last_handled_ = update.update_id;
    cv_.notify_all();
  }
}

std::vector<Update> Updater::fetch_pending() {
  MutexLock serial(fetch_mutex_);
  std::int64_t offset = 0;
  {
    MutexLock lock(mutex_);
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
        if (fetch_error_) {
          std::rethrow_exception(std::exchange(fetch_error_, nullptr));
        }
        return std::move(fetch_result_);
      }
      fetch_requested_ = false;
      if (polling_) {
        throw NetworkError("Telegram getUpdates: the poller did not answer in time");
      }
    }
    offset = confirmed_offset_;
  }
  // Nothing else polls: call directly.
  return bot_
      .get_updates(offset, std::chrono::seconds{0}, bot_.api().options().request_timeout, nullptr,
                   options_.allowed_updates)
      .updates;
}

void Updater::stop() {
  {
    MutexLock lock(mutex_);
    if (stopped_) {
      return;
    }
    if (started_ && std::this_thread::get_id() == dispatcher_id_) {
      throw std::logic_error("Telegram polling cannot be stopped from a handler");
    }
    stopped_ = true;
    stopping_ = true;
    poll_cancel_.cancel();
    cv_.notify_all();
    if (!started_) {
      return;
    }
  }
  if (poller_.joinable()) {
    poller_.join();
  }

  bool handler_stuck = false;
  {
    MutexLock lock(mutex_);
    dispatch_stop_ = true;
    cv_.notify_all();
    handler_stuck = !cv_.wait_for(lock, options_.close_timeout,
                                  [this]() NO_THREAD_SAFETY_ANALYSIS { return !handler_running_; });
  }
  if (handler_stuck) {
    log_("telegram: a handler is still running at close; abandoning its reply");
    bot_.cancel_replies();
  }
  if (dispatcher_thread_.joinable()) {
    dispatcher_thread_.join();
  }
  bot_.resume_replies();

  // Everything below the first update still queued (or, with none queued,
  // below the next poll's offset) has been handled or skipped.
  std::int64_t offset = 0;
  {
    MutexLock lock(mutex_);
    offset = queue_.empty() ? next_offset_ : queue_.front().update_id;
  }
  if (offset <= 0) {
    return;
  }
  try {
    bot_.get_updates(offset, std::chrono::seconds{0}, options_.close_timeout, nullptr,
                     options_.allowed_updates);
    MutexLock lock(mutex_);
    confirmed_offset_ = offset;
  } catch (const std::exception& e) {
    log_(bot_.redact(
        fmt::format("telegram: could not confirm the handled updates at close: {}", e.what())));
  }
}

}  // namespace orbrix::telegram
