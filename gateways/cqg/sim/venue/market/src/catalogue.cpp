#include "venue/market/catalogue.hpp"

#include <cctype>
#include <stdexcept>

#include "contract_calendar.hpp"

namespace orbrix::cqgsim::venue {

namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

struct Standard {
  const char* symbol;
  const char* description;
  MarketKind kind;
  double tick_size;
  double tick_value;
  double price;  // a plausible level, in price units
  double volatility;
  Ticks spread;
  double margin;
  ContractCycle cycle;
};

const std::vector<unsigned> kQuarterly{3, 6, 9, 12};
const std::vector<unsigned> kMonthly{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

std::vector<Standard> standard_set() {
  using R = RollRule;
  using K = MarketKind;
  return {
      {"EP",
       "E-mini S&P 500",
       K::EquityIndex,
       0.25,
       12.50,
       6050.00,
       0.18,
       1,
       22000,
       {R::ThirdFriday, kQuarterly}},
      {"ENQ",
       "E-mini Nasdaq-100",
       K::EquityIndex,
       0.25,
       5.00,
       21500.00,
       0.24,
       2,
       32000,
       {R::ThirdFriday, kQuarterly}},
      {"DD",
       "E-mini Dow ($5)",
       K::EquityIndex,
       1.0,
       5.00,
       44000,
       0.16,
       1,
       15000,
       {R::ThirdFriday, kQuarterly}},
      {"TYA",
       "10-Year U.S. Treasury Note",
       K::Rates,
       1.0 / 64,
       15.625,
       111.5,
       0.06,
       1,
       2200,
       {R::EndOfPrecedingMonth, kQuarterly}},
      {"USA",
       "U.S. Treasury Bond",
       K::Rates,
       1.0 / 32,
       31.25,
       115.0,
       0.12,
       1,
       4400,
       {R::EndOfPrecedingMonth, kQuarterly}},
      {"EU6",
       "Euro FX",
       K::FX,
       0.00005,
       6.25,
       1.0800,
       0.07,
       1,
       2500,
       {R::MondayBeforeThirdWed, kQuarterly}},
      {"JY6",
       "Japanese Yen",
       K::FX,
       0.0000005,
       6.25,
       0.0068,
       0.10,
       2,
       3300,
       {R::MondayBeforeThirdWed, kQuarterly}},
      {"BP6",
       "British Pound",
       K::FX,
       0.0001,
       6.25,
       1.2700,
       0.08,
       1,
       2600,
       {R::MondayBeforeThirdWed, kQuarterly}},
      {"GCE",
       "Gold",
       K::Metals,
       0.10,
       10.00,
       2650.0,
       0.15,
       2,
       10500,
       {R::EndOfPrecedingMonth, {2, 4, 6, 8, 10, 12}}},
      {"SIE",
       "Silver",
       K::Metals,
       0.005,
       25.00,
       31.00,
       0.28,
       2,
       16500,
       {R::EndOfPrecedingMonth, {3, 5, 7, 9, 12}}},
      {"CLE",
       "Crude Oil (WTI)",
       K::Energy,
       0.01,
       10.00,
       72.00,
       0.35,
       1,
       6000,
       {R::CrudeOil, kMonthly}},
      {"NGE",
       "Natural Gas (Henry Hub)",
       K::Energy,
       0.001,
       10.00,
       3.200,
       0.60,
       2,
       4500,
       {R::NaturalGas, kMonthly}},
  };
}

}  // namespace

Catalogue Catalogue::standard(Timestamp as_of) {
  const auto day = std::chrono::floor<std::chrono::days>(as_of);
  std::vector<InstrumentSpec> contracts;
  std::vector<std::chrono::sys_days> last_days;
  for (const Standard& s : standard_set()) {
    const FrontContract front = front_contract(s.cycle, day);
    InstrumentSpec contract;
    contract.symbol = s.symbol;
    contract.full_name = std::string("F.US.") + s.symbol + front.code;
    contract.description = s.description;
    contract.kind = s.kind;
    contract.tick_size = s.tick_size;
    contract.tick_value = s.tick_value;
    contract.currency = "USD";
    contract.initial_price = to_ticks(s.price, s.tick_size);
    contract.annual_volatility = s.volatility;
    contract.spread_ticks = s.spread;
    contract.maintenance_margin = s.margin;
    contracts.push_back(std::move(contract));
    last_days.push_back(front.last_day);
  }
  return Catalogue(std::move(contracts), std::move(last_days));
}

std::optional<InstrumentSpec> Catalogue::standard_contract(std::string_view text) {
  std::string name = upper(text);
  constexpr std::string_view kPrefix = "F.US.";
  if (name.starts_with(kPrefix)) {
    name.erase(0, kPrefix.size());
  }
  const auto dated = [](std::string_view n, std::string_view symbol) {
    // The symbol, a month code and a two-digit year: "EPH27".
    constexpr std::string_view kMonthCodes = "FGHJKMNQUVXZ";
    return n.size() == symbol.size() + 3 && n.starts_with(symbol) &&
           kMonthCodes.find(n[symbol.size()]) != std::string_view::npos &&
           std::isdigit(static_cast<unsigned char>(n[symbol.size() + 1])) &&
           std::isdigit(static_cast<unsigned char>(n[symbol.size() + 2]));
  };
  const Catalogue any_day = standard(Timestamp{});
  for (const InstrumentSpec& contract : any_day.contracts()) {
    if (name == contract.symbol || dated(name, contract.symbol)) {
      return contract;
    }
  }
  return std::nullopt;
}

Catalogue::Catalogue(std::vector<InstrumentSpec> contracts,
                     std::vector<std::chrono::sys_days> last_days)
    : specs_(std::move(contracts)), last_days_(std::move(last_days)) {
  if (!last_days_.empty() && last_days_.size() != specs_.size()) {
    throw std::invalid_argument("Catalogue: one last day per instrument, or none");
  }
  for (InstrumentId id = 0; id < specs_.size(); ++id) {
    const InstrumentSpec& s = specs_[id];
    if (s.symbol.empty() || s.full_name.empty()) {
      throw std::invalid_argument("Catalogue: instrument " + std::to_string(id) +
                                  " needs a symbol and a full name");
    }
    if (!(s.tick_size > 0) || s.spread_ticks < 1) {
      throw std::invalid_argument("Catalogue: " + s.symbol +
                                  " needs a positive tick size and a spread of at least a tick");
    }
    const std::string full = upper(s.full_name);
    const auto dot = full.rfind('.');
    const std::string dated = dot == std::string::npos ? full : full.substr(dot + 1);
    for (const std::string& name : {upper(s.symbol), dated, full}) {
      const auto [it, inserted] = names_.emplace(name, id);
      if (!inserted && it->second != id) {
        throw std::invalid_argument("Catalogue: the name " + name + " is used by two instruments");
      }
    }
  }
}

std::optional<InstrumentId> Catalogue::resolve(std::string_view text) const {
  const auto it = names_.find(upper(text));
  if (it == names_.end()) {
    return std::nullopt;
  }
  return it->second;
}

const InstrumentSpec& Catalogue::contract(InstrumentId id) const {
  if (id >= specs_.size()) {
    throw std::out_of_range("Catalogue: no instrument " + std::to_string(id));
  }
  return specs_[id];
}

std::optional<std::chrono::sys_days> Catalogue::last_day(InstrumentId id) const {
  contract(id);
  if (last_days_.empty()) {
    return std::nullopt;
  }
  return last_days_[id];
}

}  // namespace orbrix::cqgsim::venue
