#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orbrix/telegram/control_state.hpp"

namespace orbrix::telegram {

// Where a request came from: the chat to tell when it cannot be carried out,
// and the command as the operator wrote it. No chat: the host raised it.
struct RequestOrigin {
  std::optional<std::int64_t> chat_id;
  std::string command;
};

// A request waiting for the engine, with the parameters it was acknowledged
// with.
struct PendingRequest {
  RequestKind kind = RequestKind::balance;
  RequestParameters parameters;
  RequestOrigin origin;
  std::uint64_t sequence = 0;  // arrival order across kinds
};

// The requests waiting for the engine, one queue per kind in arrival order,
// and the parameters in force (the values a command that does not name a
// parameter gets). Not thread-safe: CustomedExtBot guards it.
//
// A second command of a kind never overwrites the first: each request keeps
// its own parameters until the engine retires it.
class RequestQueues {
 public:
  static constexpr std::size_t default_limit = 32;

  // At most `limit` pending requests per kind. Throws std::invalid_argument
  // for 0.
  explicit RequestQueues(std::size_t limit = default_limit);

  std::size_t limit() const noexcept { return limit_; }
  std::size_t pending(RequestKind kind) const { return queue(kind).size(); }

  // Applies `given` (what the command names) to the parameters in force and
  // queues a request that carries the result, which is returned. When `kind`
  // already holds `limit` requests nothing changes and nullopt is returned.
  std::optional<RequestParameters> raise(RequestKind kind,
                                         const std::function<void(RequestParameters&)>& given,
                                         RequestOrigin origin);

  // The host's flag setter. true: when nothing of `kind` is pending, queues
  // a request with the parameters in force (a raised flag stays as it is).
  // false: retires the oldest pending request (nothing when none is).
  void set_raised(RequestKind kind, bool raised);

  // Retires the oldest request of `kind` and returns it; nullopt when none.
  std::optional<PendingRequest> take(RequestKind kind);

  // Retires every pending request; returned in arrival order.
  std::vector<PendingRequest> take_all();

  // The parameters the properties show for `kind`: the oldest pending
  // request's, or, with none pending, those in force.
  const RequestParameters& shown(RequestKind kind) const;

  // The parameters in force. Writing them changes what later commands get,
  // never a request already queued.
  RequestParameters& in_force() noexcept { return in_force_; }

 private:
  std::deque<PendingRequest>& queue(RequestKind kind) {
    return queues_[static_cast<std::size_t>(kind)];
  }
  const std::deque<PendingRequest>& queue(RequestKind kind) const {
    return queues_[static_cast<std::size_t>(kind)];
  }

  std::size_t limit_;
  std::uint64_t next_sequence_ = 0;
  RequestParameters in_force_;
  std::array<std::deque<PendingRequest>, request_kind_count> queues_;
};

}  // namespace orbrix::telegram
