#pragma once

// How the simulated CQGCEL misbehaves, or answers late: one plan, read as a
// whole snapshot when a request needs it.

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orbrix::cqgsim {

// The longest delay an answer may be given on the simulator's clock (use
// never() for none at all), and the longest Shutdown may be held on the wall
// clock. SimControls refuses a plan beyond them, naming the delay.
inline constexpr std::chrono::milliseconds kMaxAnswerDelay{std::chrono::hours(24 * 366)};
inline constexpr std::chrono::milliseconds kMaxShutdownDelay{std::chrono::hours(1)};

// How the simulator answers Startup().
struct StartupBehaviour {
  enum class Answer {
    Started,    // OnCELStarted
    DataError,  // OnDataError(error object or none, description)
    Silent,     // nothing at all
  };
  Answer answer = Answer::Started;
  // Delay between Startup() and the answer, on the simulator's clock.
  std::chrono::milliseconds delay{0};
  std::int64_t error_code = 0;
  std::string error_description;
  // False: OnDataError carries none instead of an error object.
  bool with_error_object = true;

  static StartupBehaviour started(std::chrono::milliseconds delay = {}) {
    StartupBehaviour b;
    b.delay = delay;
    return b;
  }
  static StartupBehaviour data_error(std::int64_t code, std::string description,
                                     std::chrono::milliseconds delay = {}) {
    StartupBehaviour b;
    b.answer = Answer::DataError;
    b.error_code = code;
    b.error_description = std::move(description);
    b.delay = delay;
    return b;
  }
  static StartupBehaviour silent() {
    StartupBehaviour b;
    b.answer = Answer::Silent;
    return b;
  }
};

// How the simulator answers GWLogon and GWLogoff: the status report after
// `delay` on the simulator's clock, or never.
struct GatewayBehaviour {
  enum class Answer { Report, Never };
  Answer answer = Answer::Report;
  std::chrono::milliseconds delay{100};

  static GatewayBehaviour after(std::chrono::milliseconds delay) {
    GatewayBehaviour b;
    b.delay = delay;
    return b;
  }
  static GatewayBehaviour never() {
    GatewayBehaviour b;
    b.answer = Answer::Never;
    return b;
  }
};

// How the simulator answers a request that ends in a "...Resolved" event
// (an instrument, ticks, timed bars) or an account reload: the answer after
// `delay` on the simulator's clock (0: posted at once), an error object
// instead, an empty result (no bars), or nothing at all.
struct AnswerBehaviour {
  enum class Answer { Answer, Error, Empty, Never };
  Answer answer = Answer::Answer;
  std::chrono::milliseconds delay{0};
  std::int64_t error_code = 0;
  std::string error_description;

  static AnswerBehaviour after(std::chrono::milliseconds delay) {
    AnswerBehaviour b;
    b.delay = delay;
    return b;
  }
  static AnswerBehaviour error(std::int64_t code, std::string description,
                               std::chrono::milliseconds delay = {}) {
    AnswerBehaviour b;
    b.answer = Answer::Error;
    b.error_code = code;
    b.error_description = std::move(description);
    b.delay = delay;
    return b;
  }
  static AnswerBehaviour empty(std::chrono::milliseconds delay = {}) {
    AnswerBehaviour b;
    b.answer = Answer::Empty;
    b.delay = delay;
    return b;
  }
  static AnswerBehaviour never() {
    AnswerBehaviour b;
    b.answer = Answer::Never;
    return b;
  }
};

// How the simulator announces an order placed (OnOrderChanged with
// ctAdded): after `delay` on the simulator's clock, the order's own events
// meanwhile (worked, filled, cancelled) held and told after it in their
// order; or the announcement never, the order's later events told as they
// come. The venue works the order as ever either way, and position events
// are told as they come.
struct AnnouncementBehaviour {
  enum class Answer { Announce, Never };
  Answer answer = Answer::Announce;
  std::chrono::milliseconds delay{0};

  static AnnouncementBehaviour after(std::chrono::milliseconds delay) {
    AnnouncementBehaviour b;
    b.delay = delay;
    return b;
  }
  static AnnouncementBehaviour never() {
    AnnouncementBehaviour b;
    b.answer = Answer::Never;
    return b;
  }
};

// Every answer the simulator can delay, refuse or leave out, and the values
// it can get wrong.
struct FaultPlan {
  StartupBehaviour startup;
  GatewayBehaviour gateway;
  AnswerBehaviour instrument_resolution;
  AnswerBehaviour account_reload = AnswerBehaviour::after(std::chrono::milliseconds(100));
  AnswerBehaviour ticks_resolution;
  AnswerBehaviour bars_resolution;
  AnnouncementBehaviour order_placement;
  // How long Shutdown() takes on the wall clock: the simulator's thread is
  // held that long before the simulator shuts down, so nothing else it
  // would do (events, the manual clock) happens meanwhile.
  std::chrono::milliseconds shutdown_delay{0};
  // Positions in these instruments (each named by its short symbol, dated
  // symbol or full name, ignoring letter case) report a Side that is no
  // order side (osdUndefined).
  std::vector<std::string> invalid_position_sides;
};

}  // namespace orbrix::cqgsim
