// The updater's answer to failed Bot API calls: back-off with jitter,
// retry_after for 429, and the lines that say what happened.
#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "orbrix/telegram/customed_ext_bot.hpp"
#include "orbrix/telegram/errors.hpp"
#include "orbrix/telegram/updater.hpp"

namespace orbrix::telegram {

namespace {

double in_seconds(std::chrono::milliseconds d) {
  return static_cast<double>(d.count()) / 1000.0;
}

// The longest wait a 429 is granted; stop() ends any wait at once.
constexpr std::chrono::seconds max_retry_after{24 * 3600};

}  // namespace

void Updater::on_success() {
  if (failing_) {
    log_("telegram: polling resumed");
  }
  failing_ = false;
  failures_ = 0;
  conflict_reported_ = false;
  rate_limit_reported_ = false;
  stall_reported_ = false;
}

std::chrono::milliseconds Updater::next_backoff() {
  const auto initial = std::max<std::int64_t>(options_.backoff_initial.count(), 1);
  const auto cap = std::max<std::int64_t>(options_.backoff_max.count(), initial);
  std::int64_t step = initial;
  for (int i = 0; i < failures_ && step < cap; ++i) {
    step *= 2;
  }
  step = std::min(step, cap);
  ++failures_;
  std::uniform_int_distribution<std::int64_t> jitter(step / 2, step);
  return std::chrono::milliseconds{jitter(rng_)};
}

void Updater::pause(std::chrono::milliseconds delay) {
  MutexLock lock(mutex_);
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
    if (code == 429) {
      // The wait the server asks for, within reason; none (or 0) means the
      // usual back-off, so a 429 never makes a busy loop. Said once, then
      // retried quietly until a call succeeds.
      const std::int64_t asked = e.retry_after().value_or(0);
      const std::chrono::milliseconds delay =
          asked > 0 ? std::chrono::milliseconds{std::chrono::seconds{
                          std::min<std::int64_t>(asked, max_retry_after.count())}}
                    : next_backoff();
      if (!rate_limit_reported_) {
        log_(fmt::format("telegram: {}; retrying in {} s", e.what(), in_seconds(delay)));
        rate_limit_reported_ = true;
      }
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
  MutexLock lock(mutex_);
  return !stopping_;
}

}  // namespace orbrix::telegram
