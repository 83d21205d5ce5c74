#include "orbrix/cqgsim/call_journal.hpp"

#include "objects/sim_object.hpp"

namespace orbrix::cqgsim {

namespace {
thread_local std::shared_ptr<CallJournal> bound_journal;
}  // namespace

void CallJournal::clear() {
  MutexLock lock(mutex_);
  calls_.clear();
}

std::vector<VendorCall> CallJournal::calls() const {
  MutexLock lock(mutex_);
  return calls_;
}

void CallJournal::record(std::string_view object, std::string member, automation::InvokeKind kind,
                         automation::Args args) {
  VendorCall call{std::string(object), std::move(member), kind, {}, std::this_thread::get_id()};
  call.args.reserve(args.size());
  for (const automation::Variant& a : args) {
    call.args.push_back(a.kind() == automation::VariantKind::Object ? "<object>" : a.to_text());
  }
  MutexLock lock(mutex_);
  calls_.push_back(std::move(call));
}

namespace detail {

CallJournal* thread_journal() noexcept {
  return bound_journal.get();
}

void bind_thread_journal(std::shared_ptr<CallJournal> journal) {
  bound_journal = std::move(journal);
}

}  // namespace detail
}  // namespace orbrix::cqgsim
