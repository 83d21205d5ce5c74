#include "orbrix/automation/connection_point.hpp"

#include <fmt/format.h>

#include <utility>

#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/common/forced_unwind.hpp"

namespace orbrix::automation {

Cookie ConnectionPoint::advise(DispatchPtr sink) {
  MutexLock lock(mutex_);
  auto next = std::make_shared<Sinks>(*sinks_);
  const Cookie cookie = next_cookie_++;
  next->emplace_back(cookie, std::move(sink));
  sinks_ = std::move(next);
  return cookie;
}

void ConnectionPoint::unadvise(Cookie cookie) {
  std::shared_ptr<const Sinks> old;  // released outside the lock
  MutexLock lock(mutex_);
  auto next = std::make_shared<Sinks>(*sinks_);
  std::erase_if(*next, [cookie](const auto& s) { return s.first == cookie; });
  old = std::exchange(sinks_, std::move(next));
}

void ConnectionPoint::unadvise_all() {
  std::shared_ptr<const Sinks> old;
  MutexLock lock(mutex_);
  old = std::exchange(sinks_, std::make_shared<const Sinks>());
}

std::size_t ConnectionPoint::size() const {
  MutexLock lock(mutex_);
  return sinks_->size();
}

void ConnectionPoint::fire(DispId event, Args args) const {
  std::shared_ptr<const Sinks> sinks;
  {
    MutexLock lock(mutex_);
    sinks = sinks_;
  }
  for (const auto& [cookie, sink] : *sinks) {
    try {
      sink->invoke(event, InvokeKind::Method, args);
    } catch (const std::exception& e) {
      report_error(fmt::format("event {} to sink {}: {}", event, sink->type_name(), e.what()));
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      report_error(fmt::format("event {} to sink {}: unknown exception", event, sink->type_name()));
    }
  }
}

}  // namespace orbrix::automation
