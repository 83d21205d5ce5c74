#pragma once

// Identity records of tradable instruments: one value type `Security` that
// carries its kind, and the kinds `Stock`, `Futures`, `Currency` and
// `Commodity`, which only fix the kind and their defaults (they add no state,
// so a `Stock` converted to `Security` keeps its kind). Records are immutable:
// the fields are private and have read-only accessors; a whole record may be
// replaced by assignment, a field never. (Assigning through a `Security&`
// replaces the whole value, kind included, as with any value type.)
//
// Equality has two rules:
//  - two records of the same kind (not base) are equal when all six fields
//    are equal; records of two different kinds are never equal;
//  - when either side is a base `Security`, in either order, they are equal
//    when code, security_name and exchange are equal; lot_size, expiry_date,
//    quote_currency and the kind play no part.
// A base record without an exchange compares and hashes its absent exchange
// as one more value ("none" equals "none" only). Throwing instead would make
// equality and hashing of a valid key fail inside std::unordered_map, on the
// gateway's worker thread; treating "none" as a value keeps both total,
// noexcept and consistent.
//
// The hash combines security_name, code and exchange, in that order, for
// every kind. It must not include more: a base record equals a kind record
// that differs from it in lot size, expiry or currency, and equal records
// must hash alike for a mixed-kind map to find them. Kind records differing
// only in the other fields share a hash and are told apart by equality.
// Neither equality nor hash allocates.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "orbrix/core/constants.hpp"
#include "orbrix/core/export.hpp"

namespace orbrix {

enum class SecurityKind : std::uint8_t { base, stock, futures, currency, commodity };

// The description text of each kind's record.
constexpr std::string_view description(SecurityKind kind) {
  switch (kind) {
    case SecurityKind::base:
      return "Base class for different asset types";
    case SecurityKind::stock:
      return "Cash equity";
    case SecurityKind::futures:
      return "Futures";
    case SecurityKind::currency:
      return "Foreign exchange";
    case SecurityKind::commodity:
      return "Commodity";
  }
  return {};
}

// Default lot size and exchange of each kind.
constexpr std::optional<std::int64_t> default_lot_size(SecurityKind kind) {
  switch (kind) {
    case SecurityKind::stock:
      return 1;
    case SecurityKind::futures:
    case SecurityKind::currency:
    case SecurityKind::commodity:
      return 1000;
    case SecurityKind::base:
      break;
  }
  return std::nullopt;
}

constexpr std::optional<Exchange> default_exchange(SecurityKind kind) {
  switch (kind) {
    case SecurityKind::stock:
      return Exchange::SEHK;
    case SecurityKind::futures:
      return Exchange::SMART;
    case SecurityKind::currency:
    case SecurityKind::commodity:
      return Exchange::IDEALPRO;
    case SecurityKind::base:
      break;
  }
  return std::nullopt;
}

// A text field that has no default: leaving it out of a designated
// initialiser does not compile.
struct RequiredText {
  template <class T>
  requires std::constructible_from<std::string, T> RequiredText(T&& text)
      : value(std::forward<T>(text)) {}  // NOLINT(google-explicit-constructor)
  std::string value;
};

// Named-field form of a record of kind K, with K's defaults:
//   Futures({.code = "EPZ23", .security_name = "E-mini S&P", .expiry_date = "2023-12"})
// A field may be set to std::nullopt explicitly to drop a kind's default.
template <SecurityKind K>
struct SecurityArgs {
  RequiredText code;
  RequiredText security_name;
  std::optional<std::int64_t> lot_size = default_lot_size(K);
  std::optional<Exchange> exchange = default_exchange(K);
  std::optional<std::string> expiry_date = std::nullopt;
  std::string quote_currency = {};
};

class ORBRIX_SECURITY_API Security {
 public:
  using Args = SecurityArgs<SecurityKind::base>;

  // Stores the six fields unchanged, by position. Never throws but for
  // allocation failure.
  Security(std::string code, std::string security_name,
           std::optional<std::int64_t> lot_size = std::nullopt,
           std::optional<Exchange> exchange = std::nullopt,
           std::optional<std::string> expiry_date = std::nullopt, std::string quote_currency = {});
  explicit Security(Args args);

  const std::string& code() const noexcept { return code_; }
  const std::string& security_name() const noexcept { return security_name_; }
  const std::optional<std::int64_t>& lot_size() const noexcept { return lot_size_; }
  const std::optional<Exchange>& exchange() const noexcept { return exchange_; }
  const std::optional<std::string>& expiry_date() const noexcept { return expiry_date_; }
  const std::string& quote_currency() const noexcept { return quote_currency_; }
  SecurityKind kind() const noexcept { return kind_; }

  // The equality rules above. Any thread; no allocation.
  bool equals(const Security& other) const noexcept;
  // The hash above. Any thread; no allocation.
  std::size_t hash() const noexcept;

  friend bool operator==(const Security& a, const Security& b) noexcept { return a.equals(b); }

 protected:
  Security(SecurityKind kind, std::string code, std::string security_name,
           std::optional<std::int64_t> lot_size, std::optional<Exchange> exchange,
           std::optional<std::string> expiry_date, std::string quote_currency);

 private:
  std::string code_;
  std::string security_name_;
  std::optional<std::int64_t> lot_size_;
  std::optional<Exchange> exchange_;
  std::optional<std::string> expiry_date_;
  std::string quote_currency_;
  SecurityKind kind_;
};

// A record of one kind. Constructing it is the only thing it adds to
// `Security`; see the aliases below.
template <SecurityKind K>
requires(K != SecurityKind::base) class SecurityOf final : public Security {
 public:
  using Args = SecurityArgs<K>;

  SecurityOf(std::string code, std::string security_name,
             std::optional<std::int64_t> lot_size = default_lot_size(K),
             std::optional<Exchange> exchange = default_exchange(K),
             std::optional<std::string> expiry_date = std::nullopt, std::string quote_currency = {})
      : Security(K, std::move(code), std::move(security_name), lot_size, exchange,
                 std::move(expiry_date), std::move(quote_currency)) {}
  explicit SecurityOf(Args args)
      : Security(K, std::move(args.code.value), std::move(args.security_name.value), args.lot_size,
                 args.exchange, std::move(args.expiry_date), std::move(args.quote_currency)) {}
};

using Stock = SecurityOf<SecurityKind::stock>;          // cash equity: lot 1, SEHK
using Futures = SecurityOf<SecurityKind::futures>;      // lot 1000, SMART, no default expiry
using Currency = SecurityOf<SecurityKind::currency>;    // foreign exchange: lot 1000, IDEALPRO
using Commodity = SecurityOf<SecurityKind::commodity>;  // lot 1000, IDEALPRO

// "Security", "Stock", "Futures", "Currency", "Commodity".
ORBRIX_SECURITY_API std::string to_text(SecurityKind kind);
// One line with the kind and every field, e.g.
// Stock(code="0700", security_name="Tencent", lot_size=1, exchange=SEHK,
// expiry_date=none, quote_currency="").
ORBRIX_SECURITY_API std::string to_text(const Security& security);

}  // namespace orbrix

template <>
struct std::hash<orbrix::Security> {
  std::size_t operator()(const orbrix::Security& s) const noexcept { return s.hash(); }
};

template <orbrix::SecurityKind K>
struct std::hash<orbrix::SecurityOf<K>> {
  std::size_t operator()(const orbrix::SecurityOf<K>& s) const noexcept { return s.hash(); }
};
