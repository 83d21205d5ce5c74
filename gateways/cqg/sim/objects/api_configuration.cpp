#include "api_configuration.hpp"

#include "orbrix/cqgsim/vendor_objects.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

template <auto Member>
void add_bool(automation::ClassInfo& c, const char* name) {
  c.add_property(
      name,
      [](Dispatch& s, Args) -> Variant { return automation::self_as<ApiConfiguration>(s).*Member; },
      [](Dispatch& s, Args, const Variant& v) {
        automation::self_as<ApiConfiguration>(s).*Member = v.as_bool();
      });
}

template <auto Member>
void add_int(automation::ClassInfo& c, const char* name) {
  c.add_property(
      name,
      [](Dispatch& s, Args) -> Variant { return automation::self_as<ApiConfiguration>(s).*Member; },
      [](Dispatch& s, Args, const Variant& v) {
        automation::self_as<ApiConfiguration>(s).*Member = v.as_int();
      });
}

}  // namespace

ApiConfiguration::ApiConfiguration() : TimeZoneCode(type_library()->constant("tzCentral")) {}

const automation::ClassInfo& ApiConfiguration::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("APIConfiguration");
    add_bool<&ApiConfiguration::CollectionsThrowException>(c, "CollectionsThrowException");
    add_bool<&ApiConfiguration::NewInstrumentChangeMode>(c, "NewInstrumentChangeMode");
    add_int<&ApiConfiguration::ReadyStatusCheck>(c, "ReadyStatusCheck");
    add_int<&ApiConfiguration::TimeZoneCode>(c, "TimeZoneCode");
    add_bool<&ApiConfiguration::IncludeOrderTransactions>(c, "IncludeOrderTransactions");
    add_bool<&ApiConfiguration::UseOrderSide>(c, "UseOrderSide");
    return c;
  }();
  return info;
}

const automation::ClassInfo& CqgError::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGError");
    c.add_property("Code", [](Dispatch& s, Args) -> Variant {
      return automation::self_as<CqgError>(s).code_;
    });
    c.add_property("Description", [](Dispatch& s, Args) -> Variant {
      return automation::self_as<CqgError>(s).description_;
    });
    return c;
  }();
  return info;
}

}  // namespace orbrix::cqgsim
