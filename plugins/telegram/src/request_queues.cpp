#include "orbrix/telegram/request_queues.hpp"

#include <algorithm>
#include <stdexcept>

namespace orbrix::telegram {

const char* command_of(RequestKind kind) {
  switch (kind) {
    case RequestKind::balance:
      return "balance";
    case RequestKind::positions:
      return "positions";
    case RequestKind::orders:
      return "orders";
    case RequestKind::deals:
      return "deals";
    case RequestKind::cancel_order:
      return "cancel_order";
    case RequestKind::cancel_orders:
      return "cancel_orders";
    case RequestKind::send_order:
      return "send_order";
    case RequestKind::close_positions:
      return "close_positions";
    case RequestKind::halt:
      return "halt";
    case RequestKind::reduce:
      return "reduce";
    case RequestKind::resume:
      return "resume";
    case RequestKind::risk:
      return "risk";
  }
  return "unknown";
}

RequestQueues::RequestQueues(std::size_t limit) : limit_(limit) {
  if (limit == 0) {
    throw std::invalid_argument("the pending request limit must be at least 1");
  }
}

std::optional<RequestParameters> RequestQueues::raise(
    RequestKind kind, const std::function<void(RequestParameters&)>& given, RequestOrigin origin) {
  std::deque<PendingRequest>& q = queue(kind);
  if (q.size() >= limit_) {
    return std::nullopt;
  }
  if (given) {
    given(in_force_);
  }
  q.push_back(PendingRequest{kind, in_force_, std::move(origin), next_sequence_++});
  return in_force_;
}

void RequestQueues::set_raised(RequestKind kind, bool raised) {
  std::deque<PendingRequest>& q = queue(kind);
  if (!raised) {
    if (!q.empty()) {
      q.pop_front();
    }
  } else if (q.empty()) {
    q.push_back(PendingRequest{kind, in_force_, RequestOrigin{}, next_sequence_++});
  }
}

std::optional<PendingRequest> RequestQueues::take(RequestKind kind) {
  std::deque<PendingRequest>& q = queue(kind);
  if (q.empty()) {
    return std::nullopt;
  }
  PendingRequest request = std::move(q.front());
  q.pop_front();
  return request;
}

std::vector<PendingRequest> RequestQueues::take_all() {
  std::vector<PendingRequest> all;
  for (auto& q : queues_) {
    std::move(q.begin(), q.end(), std::back_inserter(all));
    q.clear();
  }
  std::sort(all.begin(), all.end(), [](const PendingRequest& a, const PendingRequest& b) {
    return a.sequence < b.sequence;
  });
  return all;
}

const RequestParameters& RequestQueues::shown(RequestKind kind) const {
  const std::deque<PendingRequest>& q = queue(kind);
  return q.empty() ? in_force_ : q.front().parameters;
}

}  // namespace orbrix::telegram
