#pragma once

#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"

namespace orbrix::cqgsim {

// CQGCEL.APIConfiguration: the vendor's start-up settings, readable back.
// Booleans accept only booleans and numbers only integers, as the vendor's
// typed properties do.
class ApiConfiguration final : public SimObject<ApiConfiguration> {
 public:
  static const automation::ClassInfo& class_info();

  bool CollectionsThrowException = true;
  bool NewInstrumentChangeMode = false;
  std::int64_t ReadyStatusCheck = 1;
  std::int64_t TimeZoneCode = 0;  // set to the library's tzCentral at construction
  bool IncludeOrderTransactions = false;
  bool UseOrderSide = false;

  ApiConfiguration();
};

// A vendor error object: Code and Description, read-only.
class CqgError final : public SimObject<CqgError> {
 public:
  CqgError(std::int64_t code, std::string description)
      : SimObject<CqgError>(FreeThreaded{}), code_(code), description_(std::move(description)) {}
  static const automation::ClassInfo& class_info();

 private:
  std::int64_t code_;
  std::string description_;
};

}  // namespace orbrix::cqgsim
