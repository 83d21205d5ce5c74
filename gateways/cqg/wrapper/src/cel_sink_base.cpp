#include "orbrix/cqg/cel_sink_base.hpp"

#include <fmt/format.h>

#include <cxxabi.h>

#include <array>
#include <cstdlib>
#include <limits>
#include <memory>
#include <typeinfo>
#include <vector>

#include "orbrix/automation/class_info.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/vendor_ids.hpp"

namespace orbrix::cqg {
namespace {

constexpr std::uint16_t kNoEvent = std::numeric_limits<std::uint16_t>::max();

// The vendor's event ids mapped to catalogue entries, built once from the
// type library: a flat table indexed by id, so delivering an event costs an
// array read and no string work.
struct DispatchTable {
  std::vector<std::uint16_t> event_of_id;
  std::array<automation::DispId, kCelEventCount> id_of_event{};

  DispatchTable() {
    const auto& events = vendor_type_library().event_interface(kCqgEventInterface);
    for (std::size_t i = 0; i < kCelEventCount; ++i) {
      const auto* e = events.find(kCelEvents[i].name);
      if (!e) {
        id_of_event[i] = -1;
        continue;
      }
      if (e->id < 0 || e->id > 0xFFFF) {
        throw std::runtime_error(
            fmt::format("vendor event {} has an unusable id {}", e->name, e->id));
      }
      const auto id = static_cast<std::size_t>(e->id);
      if (event_of_id.size() <= id) {
        event_of_id.resize(id + 1, kNoEvent);
      }
      event_of_id[id] = static_cast<std::uint16_t>(i);
      id_of_event[i] = e->id;
    }
  }
};

const DispatchTable& dispatch_table() {
  static const DispatchTable table;
  return table;
}

}  // namespace

CELSinkBase::CELSinkBase() {
  (void)dispatch_table();
}

std::string_view CELSinkBase::type_name() const noexcept {
  // The dynamic type is known only once construction is over, so the name
  // is worked out on first use: the demangled class name without its
  // namespaces ("orbrix::demo::DemoSink" gives "DemoSink").
  std::call_once(type_name_once_, [this]() noexcept {
    try {
      const char* mangled = typeid(*this).name();
      int status = 0;
      std::unique_ptr<char, void (*)(void*)> demangled(
          abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
      std::string_view name = (status == 0 && demangled) ? demangled.get() : mangled;
      // Namespaces end at the last "::" before any template arguments.
      const auto head = name.substr(0, name.find('<'));
      if (const auto colon = head.rfind("::"); colon != std::string_view::npos) {
        name.remove_prefix(colon + 2);
      }
      type_name_ = std::string(name);
    } catch (...) {
      type_name_.clear();
    }
  });
  return type_name_.empty() ? std::string_view("CELSinkBase") : std::string_view(type_name_);
}

std::string CELSinkBase::name_of(automation::DispId id) const {
  const auto& table = dispatch_table().event_of_id;
  if (id >= 0 && static_cast<std::size_t>(id) < table.size() &&
      table[static_cast<std::size_t>(id)] != kNoEvent) {
    return std::string(kCelEvents[table[static_cast<std::size_t>(id)]].name);
  }
  return Dispatch::name_of(id);
}

CELSinkBase::~CELSinkBase() = default;

automation::DispId CELSinkBase::get_id_of_name(std::string_view name) {
  for (std::size_t i = 0; i < kCelEventCount; ++i) {
    if (automation::equal_folded(kCelEvents[i].name, name)) {
      const auto id = dispatch_table().id_of_event[i];
      if (id >= 0) {
        return id;
      }
      break;
    }
  }
  throw automation::UnknownNameError(fmt::format("{} has no event named '{}'", type_name(), name));
}

void CELSinkBase::dispatch_event(CelEvent event, automation::Args a) {
  switch (event) {
#define CEL_EVENT0(name) \
  case CelEvent::name:   \
    name();              \
    break;
#define CEL_EVENT1(name, ...) \
  case CelEvent::name:        \
    name(a[0]);               \
    break;
#define CEL_EVENT2(name, ...) \
  case CelEvent::name:        \
    name(a[0], a[1]);         \
    break;
#define CEL_EVENT3(name, ...) \
  case CelEvent::name:        \
    name(a[0], a[1], a[2]);   \
    break;
#define CEL_EVENT4(name, ...)     \
  case CelEvent::name:            \
    name(a[0], a[1], a[2], a[3]); \
    break;
#define CEL_EVENT5(name, ...)           \
  case CelEvent::name:                  \
    name(a[0], a[1], a[2], a[3], a[4]); \
    break;
#include "orbrix/cqg/cel_events.def"
#undef CEL_EVENT0
#undef CEL_EVENT1
#undef CEL_EVENT2
#undef CEL_EVENT3
#undef CEL_EVENT4
#undef CEL_EVENT5
    case CelEvent::kCount:
      break;
  }
}

Variant CELSinkBase::invoke(automation::DispId id, automation::InvokeKind, automation::Args args) {
  const auto& table = dispatch_table().event_of_id;
  if (id < 0 || static_cast<std::size_t>(id) >= table.size() ||
      table[static_cast<std::size_t>(id)] == kNoEvent) {
    return {};  // an event this catalogue does not know: received and dropped
  }
  const auto event = static_cast<CelEvent>(table[static_cast<std::size_t>(id)]);
  const auto& info = kCelEvents[static_cast<std::size_t>(event)];
  // Handlers catch nothing; their errors end here, on the worker, and never
  // reach the thread boundary.
  run_guarded(event, [&] {
    if (args.size() != static_cast<std::size_t>(info.params)) {
      throw std::invalid_argument(
          fmt::format("takes {} arguments, {} were delivered", info.params, args.size()));
    }
    dispatch_event(event, args);
  });
  return {};
}

void CELSinkBase::trace_handler_error(CelEvent event, std::string_view what) const {
  Trace(fmt::format("Exception in {}.{}: {}", type_name(), cel_event_name(event), what));
}

}  // namespace orbrix::cqg
