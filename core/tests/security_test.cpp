#include "orbrix/core/security.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <unordered_map>

#include <gtest/gtest.h>

// Sanitizers bring their own operator new; the allocation count is taken
// only in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORBRIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORBRIX_SANITIZED 1
#endif
#endif

namespace orbrix {
namespace {

// Counts allocations made by this process, so the tests can see that
// comparing and hashing records allocates nothing.
std::atomic<long> g_allocations{0};

}  // namespace
}  // namespace orbrix

#if !defined(ORBRIX_SANITIZED)
void* operator new(std::size_t size) {
  orbrix::g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
// g++ flags free() of a pointer from operator new once the replacement is
// inlined, although this operator new gets it from malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#endif

namespace orbrix {
namespace {

// Fields are read-only: no assignment through an accessor, no public member.
template <class T>
concept CodeAssignable = requires(T s) {
  s.code() = std::string();
};
template <class T>
concept CodeMemberVisible = requires(T s) {
  s.code_;
};
static_assert(!CodeAssignable<Security> && !CodeAssignable<Stock>);
static_assert(!CodeMemberVisible<Security> && !CodeMemberVisible<Futures>);
// Code and name are required in the named form.
static_assert(!std::is_constructible_v<Stock::Args, std::string>);
static_assert(std::is_copy_assignable_v<Security>);  // a whole record may be replaced

TEST(SecurityTest, EachKindAppliesItsDefaults) {
  const Security base("X", "Base");
  EXPECT_EQ(base.kind(), SecurityKind::base);
  EXPECT_EQ(base.lot_size(), std::nullopt);
  EXPECT_EQ(base.exchange(), std::nullopt);
  EXPECT_EQ(base.expiry_date(), std::nullopt);
  EXPECT_EQ(base.quote_currency(), "");

  struct Expected {
    Security record;
    SecurityKind kind;
    std::int64_t lot_size;
    Exchange exchange;
  };
  for (const auto& e :
       {Expected{Stock("0700", "Tencent"), SecurityKind::stock, 1, Exchange::SEHK},
        Expected{Futures("ES", "E-mini"), SecurityKind::futures, 1000, Exchange::SMART},
        Expected{Currency("EUR.USD", "Euro"), SecurityKind::currency, 1000, Exchange::IDEALPRO},
        Expected{Commodity("XAUUSD", "Gold"), SecurityKind::commodity, 1000, Exchange::IDEALPRO}}) {
    SCOPED_TRACE(to_text(e.record));
    EXPECT_EQ(e.record.kind(), e.kind);
    EXPECT_EQ(e.record.lot_size(), e.lot_size);
    EXPECT_EQ(e.record.exchange(), e.exchange);
    EXPECT_EQ(e.record.expiry_date(), std::nullopt);
    EXPECT_EQ(e.record.quote_currency(), "");
  }
  EXPECT_EQ(description(SecurityKind::base), "Base class for different asset types");
  EXPECT_EQ(description(SecurityKind::stock), "Cash equity");
  EXPECT_EQ(description(SecurityKind::currency), "Foreign exchange");
}

TEST(SecurityTest, NamedAndPositionalFormsBuildTheSameRecord) {
  const Futures named({.code = "EPZ23",
                       .security_name = "E-mini S&P",
                       .lot_size = 50,
                       .expiry_date = "2023-12",
                       .quote_currency = "USD"});
  const Futures positional("EPZ23", "E-mini S&P", 50, Exchange::SMART, "2023-12", "USD");
  EXPECT_EQ(named, positional);
  EXPECT_EQ(named.exchange(), Exchange::SMART);  // the default of the field not named

  // A default can be dropped explicitly.
  const Stock no_lot({.code = "5", .security_name = "HSBC", .lot_size = std::nullopt});
  EXPECT_EQ(no_lot.lot_size(), std::nullopt);
  EXPECT_EQ(no_lot.exchange(), Exchange::SEHK);

  const Security base({.code = "C", .security_name = "N", .exchange = Exchange::SEHK});
  EXPECT_EQ(base.kind(), SecurityKind::base);
  EXPECT_EQ(base.lot_size(), std::nullopt);
}

TEST(SecurityTest, KindRecordsAreEqualOnlyWhenAllSixFieldsAndTheKindMatch) {
  const Stock a("0700", "Tencent", 100, Exchange::SEHK, std::nullopt, "HKD");
  const Stock same("0700", "Tencent", 100, Exchange::SEHK, std::nullopt, "HKD");
  EXPECT_EQ(a, same);
  EXPECT_EQ(std::hash<Stock>{}(a), std::hash<Stock>{}(same));

  EXPECT_NE(a, Stock("0701", "Tencent", 100, Exchange::SEHK, std::nullopt, "HKD"));
  EXPECT_NE(a, Stock("0700", "Tencent Hld", 100, Exchange::SEHK, std::nullopt, "HKD"));
  EXPECT_NE(a, Stock("0700", "Tencent", 200, Exchange::SEHK, std::nullopt, "HKD"));
  EXPECT_NE(a, Stock("0700", "Tencent", std::nullopt, Exchange::SEHK, std::nullopt, "HKD"));
  EXPECT_NE(a, Stock("0700", "Tencent", 100, Exchange::SMART, std::nullopt, "HKD"));
  EXPECT_NE(a, Stock("0700", "Tencent", 100, std::nullopt, std::nullopt, "HKD"));
  EXPECT_NE(a, Stock("0700", "Tencent", 100, Exchange::SEHK, "2024-01", "HKD"));
  EXPECT_NE(a, Stock("0700", "Tencent", 100, Exchange::SEHK, std::nullopt, "USD"));

  // Same six fields, different kinds.
  const Stock stock("ES", "E-mini", 1000, Exchange::SMART, "2023-12", "USD");
  const Futures futures("ES", "E-mini", 1000, Exchange::SMART, "2023-12", "USD");
  EXPECT_NE(stock, futures);
  EXPECT_NE(futures, stock);
  EXPECT_NE(Currency("X", "N"), Commodity("X", "N"));
}

TEST(SecurityTest, BaseRuleComparesCodeNameAndExchangeInEitherOrder) {
  const Security base("ES", "E-mini", 1, Exchange::SMART, std::nullopt, "");
  const Security other_lot("ES", "E-mini", 5, Exchange::SMART, "2023-12", "USD");
  EXPECT_EQ(base, other_lot);
  EXPECT_EQ(std::hash<Security>{}(base), std::hash<Security>{}(other_lot));

  const Futures futures("ES", "E-mini", 1000, Exchange::SMART, "2023-12", "USD");
  EXPECT_EQ(base, futures);
  EXPECT_EQ(futures, base);
  EXPECT_EQ(std::hash<Security>{}(base), std::hash<Futures>{}(futures));

  EXPECT_NE(base, Futures("ES", "E-mini", 1000, Exchange::IDEALPRO));
  EXPECT_NE(Futures("ES", "E-mini", 1000, Exchange::IDEALPRO), base);
  EXPECT_NE(base, Security("EP", "E-mini", 1, Exchange::SMART));
  EXPECT_NE(base, Security("ES", "Emini", 1, Exchange::SMART));
}

TEST(SecurityTest, BaseWithoutExchangeTreatsNoneAsAValue) {
  const Security none_a("X", "N");
  const Security none_b("X", "N", 7);
  EXPECT_EQ(none_a, none_b);
  EXPECT_EQ(none_a.hash(), none_b.hash());
  EXPECT_NE(none_a, Security("X", "N", std::nullopt, Exchange::SMART));
  EXPECT_NE(Security("X", "N", std::nullopt, Exchange::SMART), none_a);
  EXPECT_EQ(none_a, Stock("X", "N", 1, std::nullopt));
  EXPECT_NE(none_a, Stock("X", "N"));  // a Stock's default exchange is SEHK
}

TEST(SecurityTest, MixedKindMapFindsEqualKeys) {
  std::unordered_map<Security, int> map;
  map.emplace(Stock("ES", "E-mini", 1000, Exchange::SMART), 1);
  map.emplace(Futures("ES", "E-mini", 1000, Exchange::SMART), 2);
  map.emplace(Security("0700", "Tencent", std::nullopt, Exchange::SEHK), 3);
  ASSERT_EQ(map.size(), 3u);  // a Stock and a Futures with equal fields are two keys

  EXPECT_EQ(map.at(Stock("ES", "E-mini", 1000, Exchange::SMART)), 1);
  EXPECT_EQ(map.at(Futures("ES", "E-mini", 1000, Exchange::SMART)), 2);
  EXPECT_EQ(map.count(Futures("ES", "E-mini", 5, Exchange::SMART)), 0u);

  // A kind record finds the base key it equals, and the other way round.
  EXPECT_EQ(map.at(Stock("0700", "Tencent", 100)), 3);
  map.emplace(Stock("0700", "Tencent"), 4);
  EXPECT_EQ(map.size(), 3u);

  std::unordered_map<Security, int> by_base;
  by_base.emplace(Security("C", "N", std::nullopt, Exchange::IDEALPRO), 9);
  EXPECT_EQ(by_base.at(Currency("C", "N")), 9);
  EXPECT_EQ(by_base.at(Commodity("C", "N", 1)), 9);
}

TEST(SecurityTest, ComparingAndHashingDoNotAllocate) {
#if defined(ORBRIX_SANITIZED)
  GTEST_SKIP() << "allocations are counted in builds without sanitizers";
#endif
  // Long texts, so any temporary text would need the heap.
  const std::string code(64, 'c');
  const std::string name(64, 'n');
  const Futures a(code, name, 1000, Exchange::SMART, std::string(40, 'e'), std::string(40, 'q'));
  const Futures b(code, name, 1000, Exchange::SMART, std::string(40, 'e'), std::string(40, 'q'));
  const Security base(code, name, std::nullopt, Exchange::SMART);

  const long before = g_allocations.load();
  const bool equal = a == b && base == a && a == base;
  const std::size_t hashes = std::hash<Security>{}(a) ^ std::hash<Security>{}(base);
  EXPECT_EQ(g_allocations.load(), before);
  EXPECT_TRUE(equal);
  // The counter does see allocations made inside the library.
  EXPECT_FALSE(to_text(a).empty());
  EXPECT_GT(g_allocations.load(), before);
  EXPECT_EQ(hashes, 0u);  // a and base are equal, so they hash alike
}

TEST(SecurityTest, TextFormNamesTheKindAndEveryField) {
  EXPECT_EQ(to_text(Stock("0700", "Tencent")),
            "Stock(code=\"0700\", security_name=\"Tencent\", lot_size=1, exchange=SEHK, "
            "expiry_date=none, quote_currency=\"\")");
  EXPECT_EQ(to_text(Security("ES", "E-mini", std::nullopt, std::nullopt, "2023-12", "USD")),
            "Security(code=\"ES\", security_name=\"E-mini\", lot_size=none, exchange=none, "
            "expiry_date=\"2023-12\", quote_currency=\"USD\")");
}

}  // namespace
}  // namespace orbrix
