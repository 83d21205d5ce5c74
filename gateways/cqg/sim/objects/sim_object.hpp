#pragma once

// The base of every simulated vendor object: the member table of T (as
// automation::AutomationObject gives it), plus an entry in the call journal
// of the simulator that runs on this thread, while that journal records.

#include <memory>

#include "orbrix/automation/class_info.hpp"
#include "orbrix/cqgsim/call_journal.hpp"

namespace orbrix::cqgsim {

namespace detail {
// The journal of the simulator made on the calling thread (its apartment's
// thread; every call into its objects runs there), or null.
CallJournal* thread_journal() noexcept;
void bind_thread_journal(std::shared_ptr<CallJournal> journal);
}  // namespace detail

template <class T>
class SimObject : public automation::AutomationObject<T> {
 public:
  automation::Variant invoke(automation::DispId id, automation::InvokeKind kind,
                             automation::Args args) override {
    if (CallJournal* journal = detail::thread_journal(); journal && journal->recording()) {
      // The default member as the caller reached it: by calling the object.
      journal->record(
          T::class_info().type_name(),
          id == automation::kDispIdValue ? std::string("_Default") : T::class_info().name_of(id),
          kind, args);
    }
    return T::class_info().invoke(*this, id, kind, args);
  }

 protected:
  using automation::AutomationObject<T>::AutomationObject;
};

}  // namespace orbrix::cqgsim
