// Scenario scripts: each file under scenarios/ is one sequence of engine
// calls, simulator steps and expectations (vendor calls from the simulator's
// journal, engine records, traced lines), run by this one driver over
// BrokerLink and the simulator on its manual clock. The format is described
// in scenarios/README.md.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "orbrix/automation/type_library.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"
#include "sim_fixture.hpp"

namespace orbrix::cqg {
namespace {

using Strings = std::vector<std::string>;

// One line of a script: its number and its words ("..." keeps spaces).
struct Step {
  int line = 0;
  Strings words;
  Strings block;  // the indented lines after "expect calls", up to "end"
};

Strings split_words(const std::string& text) {
  Strings out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
    } else if (text[i] == '"') {
      const auto end = text.find('"', i + 1);
      if (end == std::string::npos) {
        throw std::invalid_argument("a quotation mark is not closed");
      }
      out.push_back(text.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      const auto end = std::min(text.find(' ', i), text.size());
      out.push_back(text.substr(i, end - i));
      i = end;
    }
  }
  return out;
}

double number(const std::string& text) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument("not a number: " + text);
  }
  return v;
}

// The forms a step may take, as in scenarios/README.md: a literal word, a
// choice ("LONG|SHORT"), NUM (a number), SYM, WORD or TEXT (any word),
// QUOTES (one or more quote type and price pairs); "?" makes a word optional
// (only at the end).
using Form = std::vector<std::string_view>;
const std::vector<Form>& forms() {
  static const std::vector<Form> all{
      {"engine", "Logon", "WORD", "WORD"},
      {"engine", "Logoff"},
      {"engine", "subscribe_quote", "SYM"},
      {"engine", "unsubscribe_quote", "SYM"},
      {"engine", "subscribe_account"},
      {"engine", "place_order", "SYM", "LIMIT|MARKET|STOP", "LONG|SHORT", "NUM", "NUM?", "NUM?"},
      {"engine", "cancel_order"},
      {"engine", "set_timeout", "NUM"},
      {"sim", "advance", "NUM"},
      {"sim", "quotes", "SYM", "QUOTES"},
      {"sim", "answer_instruments_after", "NUM"},
      {"sim", "drop_gateway"},
      {"sim", "restore_gateway"},
      {"hook", "process_quote|process_orderbook|process_order|process_deal", "raises", "TEXT"},
      {"journal", "clear"},
      {"expect", "calls"},
      {"expect", "error", "TEXT"},
      {"expect", "trace", "TEXT"},
      {"expect", "no-trace", "TEXT"},
      {"expect", "quote", "SYM", "bid|ask|last", "NUM"},
      {"expect", "hooks", "process_quote|process_orderbook|process_order|process_deal", "NUM"},
      {"expect", "failures", "NUM"},
  };
  return all;
}

bool is_number(const std::string& text) {
  try {
    number(text);
    return true;
  } catch (const std::invalid_argument&) {
    return false;
  }
}

bool is_quote_type(const std::string& text) {
  if (text.rfind("qt", 0) != 0) {
    return false;
  }
  // The type library the simulator stands in with, also before any host
  // made it load.
  static const bool registered = [] {
    automation::TypeLibraryRegistry::instance().register_library(cqgsim::type_library(),
                                                                 /*fallback=*/true);
    return true;
  }();
  (void)registered;
  try {
    (void)vendor_constant(text);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Whether `word` is what `token` of a form asks for; `what` is set to what
// it asks for, for the refusal.
bool word_fits(std::string_view token, const std::string& word, std::string& what) {
  if (token.ends_with('?')) {
    token.remove_suffix(1);
  }
  if (token == "NUM") {
    what = "a number";
    return is_number(word);
  }
  if (token == "SYM" || token == "WORD" || token == "TEXT") {
    return true;
  }
  if (token.find('|') != std::string_view::npos) {
    what = "one of " + std::string(token);
    std::size_t from = 0;
    for (;;) {
      const auto bar = token.find('|', from);
      if (token.substr(from, bar - from) == word) {
        return true;
      }
      if (bar == std::string_view::npos) {
        return false;
      }
      from = bar + 1;
    }
  }
  what = "'" + std::string(token) + "'";
  return token == word;
}

// Refuses a step that is not one of the forms, naming its line and the
// first word that does not fit.
void check_step(const std::string& where, const Step& step) {
  const Strings& w = step.words;
  const auto refuse = [&](const std::string& why) {
    throw std::invalid_argument(where + ":" + std::to_string(step.line) + ": " + why);
  };
  std::vector<const Form*> candidates;
  for (const Form& f : forms()) {
    if (f[0] == w[0]) {
      candidates.push_back(&f);
    }
  }
  if (candidates.empty()) {
    refuse("'" + w[0] + "' is not a step (engine, sim, hook, journal or expect)");
  }
  if (w.size() < 2) {
    refuse("'" + w[0] + "' needs more words");
  }
  const Form* form = nullptr;
  for (const Form* f : candidates) {
    std::string what;
    if (word_fits((*f)[1], w[1], what)) {
      form = f;
      break;
    }
  }
  if (form == nullptr) {
    refuse("'" + w[1] + "' is not a step of '" + w[0] + "'");
  }
  std::size_t i = 2;
  for (std::size_t t = 2; t < form->size(); ++t) {
    const std::string_view token = (*form)[t];
    if (token == "QUOTES") {
      if (i >= w.size()) {
        refuse("'" + w[0] + " " + w[1] + "' needs a quote type and a price");
      }
      for (; i < w.size(); i += 2) {
        if (!is_quote_type(w[i])) {
          refuse("'" + w[i] + "' is not a quote type (qtBid, qtAsk, ...)");
        }
        if (i + 1 >= w.size() || !is_number(w[i + 1])) {
          refuse("the quote type '" + w[i] + "' needs a price");
        }
      }
      continue;
    }
    if (i >= w.size()) {
      if (token.ends_with('?')) {
        break;
      }
      refuse("'" + w[0] + " " + w[1] + "' needs more words");
    }
    std::string what;
    if (!word_fits(token, w[i], what)) {
      refuse("'" + w[i] + "' is not " + what);
    }
    ++i;
  }
  if (i < w.size()) {
    refuse("'" + w[i] + "': '" + w[0] + " " + w[1] + "' takes no more words");
  }
}

std::vector<Step> read_script(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::vector<Step> steps;
  std::string text;
  for (int n = 1; std::getline(in, text); ++n) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos || text[first] == '#') {
      continue;
    }
    if (first > 0) {  // a line of the block that the step before opened
      if (steps.empty() || steps.back().words != Strings{"expect", "calls"}) {
        throw std::invalid_argument(path.filename().string() + ":" + std::to_string(n) +
                                    ": an indented line outside an 'expect calls' block");
      }
      steps.back().block.push_back(text.substr(first));
      continue;
    }
    if (text == "end") {
      continue;
    }
    Strings words;
    try {
      words = split_words(text);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(path.filename().string() + ":" + std::to_string(n) + ": " +
                                  e.what());
    }
    steps.push_back({n, std::move(words), {}});
    check_step(path.filename().string(), steps.back());
  }
  return steps;
}

class Scenario : public testing::BrokerLinkOverSimulator,
                 public ::testing::WithParamInterface<std::filesystem::path> {
 protected:
  void run_step(const Step& s) {
    const Strings& w = s.words;
    const auto arg = [&](std::size_t i) -> const std::string& {
      if (i >= w.size()) {
        throw std::invalid_argument("'" + w[0] + "' needs more words");
      }
      return w[i];
    };
    const bool expects_error = w[0] == "expect" && arg(1) == "error";
    if (!pending_error_.empty() && !expects_error) {
      ADD_FAILURE() << "line " << error_line_ << " raised: " << pending_error_;
      pending_error_.clear();
    }
    if (w[0] == "engine") {
      try {
        engine(w);
      } catch (const std::exception& e) {
        pending_error_ = e.what();
        error_line_ = s.line;
      }
      drain();
    } else if (w[0] == "sim") {
      sim_step(w);
      drain();
    } else if (w[0] == "hook") {
      // hook KIND raises TEXT: the engine's hook raises from now on.
      gateway.set_hook_error(hook_kind(w[1]), w.at(3));
    } else if (w[0] == "journal" && arg(1) == "clear") {
      journal().clear();
    } else if (w[0] == "expect") {
      expect(s);
    } else {
      throw std::invalid_argument("unknown step '" + w[0] + "'");
    }
  }

  void engine(const Strings& w) {
    const std::string& op = w.at(1);
    if (op == "Logon") {
      link->Logon(w.at(2), w.at(3));
    } else if (op == "Logoff") {
      link->Logoff();
    } else if (op == "subscribe_quote") {
      // Mapped for the engine once the vendor knows the symbol.
      link->subscribe_quote(w.at(2));
      drain();  // the answer's first event is read before the journal pauses
      cqgsim::CallJournal::Pause pause(journal());
      if (const auto instrument = link->get_instrument_from_cqg_symbol(w.at(2))) {
        const std::string full = instrument.get("FullName").as_string();
        const Futures security(
            {.code = std::string(symbol_of_full_name(full)), .security_name = full});
        gateway.add_symbol(security.code(), security);
        gateway.cqg_quotes().add_key(security);
        gateway.cqg_orderbooks().add_key(security);
        securities_.insert_or_assign(w.at(2), security);
      }
    } else if (op == "unsubscribe_quote") {
      link->unsubscribe_quote(w.at(2));
    } else if (op == "subscribe_account") {
      // The vendor lists its accounts once a subscription level is set, so
      // the first is known only after a first (refused) subscription.
      try {
        link->subscribe_account_and_positions(-1);
      } catch (const std::invalid_argument&) {
      }
      link->subscribe_account_and_positions(first_account_id());
    } else if (op == "set_timeout") {
      link->set_timeout(std::chrono::milliseconds(static_cast<long>(number(w.at(2)))));
    } else if (op == "place_order") {
      // place_order SYMBOL LIMIT|MARKET|STOP LONG|SHORT QTY [PRICE [STOP]]
      const OrderType type = w.at(3) == "LIMIT"    ? OrderType::LIMIT
                             : w.at(3) == "MARKET" ? OrderType::MARKET
                                                   : OrderType::STOP;
      const Direction side = w.at(4) == "LONG" ? Direction::LONG : Direction::SHORT;
      last_order_ = link->place_order(Order(security(w.at(2)), type, side, number(w.at(5)),
                                            w.size() > 6 ? number(w[6]) : 0,
                                            w.size() > 7 ? number(w[7]) : 0));
    } else if (op == "cancel_order") {
      link->cancel_order(last_order_);
    } else {
      throw std::invalid_argument("unknown engine call '" + op + "'");
    }
  }

  void sim_step(const Strings& w) {
    const std::string& what = w.at(1);
    if (what == "advance") {
      sim.driver().advance(std::chrono::milliseconds(static_cast<long>(number(w.at(2)))));
    } else if (what == "quotes") {
      // sim quotes SYMBOL TYPE PRICE [TYPE PRICE ...]
      std::vector<cqgsim::QuoteSpec> quotes;
      for (std::size_t i = 3; i + 1 < w.size(); i += 2) {
        quotes.push_back({w[i], number(w[i + 1]), 1, true});
      }
      sim.driver().fire_quotes(w.at(2), std::move(quotes));
    } else if (what == "answer_instruments_after") {
      sim.controls().set_instrument_resolution(cqgsim::AnswerBehaviour::after(
          std::chrono::milliseconds(static_cast<long>(number(w.at(2))))));
    } else if (what == "drop_gateway") {
      sim.driver().drop_gateway();
    } else if (what == "restore_gateway") {
      sim.driver().restore_gateway();
    } else {
      throw std::invalid_argument("unknown simulator step '" + what + "'");
    }
  }

  void expect(const Step& s) {
    const Strings& w = s.words;
    const std::string& what = w.at(1);
    if (what == "calls") {
      EXPECT_EQ(calls(/*with_args=*/true), s.block) << "vendor calls at line " << s.line;
      journal().clear();
    } else if (what == "error") {
      EXPECT_NE(pending_error_.find(w.at(2)), std::string::npos)
          << "line " << s.line << ": the engine call raised '" << pending_error_ << "'";
      pending_error_.clear();
    } else if (what == "trace") {
      EXPECT_NE(out.text().find(w.at(2)), std::string::npos)
          << "line " << s.line << ": no traced line with '" << w.at(2) << "'";
    } else if (what == "no-trace") {
      EXPECT_EQ(out.text().find(w.at(2)), std::string::npos)
          << "line " << s.line << ": traced '" << w.at(2) << "'";
    } else if (what == "quote") {
      // expect quote SYMBOL bid|ask|last PRICE
      const auto q = gateway.cqg_quotes().get(security(w.at(2)));
      ASSERT_TRUE(q) << "line " << s.line << ": no quote of " << w.at(2);
      const double got = w.at(3) == "bid"   ? q->bid_price()
                         : w.at(3) == "ask" ? q->ask_price()
                                            : q->last_price();
      EXPECT_EQ(got, number(w.at(4))) << "line " << s.line;
    } else if (what == "hooks") {
      // expect hooks KIND COUNT: process_quote, process_order, process_deal
      const auto all = gateway.calls();
      const auto kind = hook_kind(w.at(2));
      const auto n =
          std::count_if(all.begin(), all.end(), [&](const auto& c) { return c.kind == kind; });
      EXPECT_EQ(n, static_cast<long>(number(w.at(3)))) << "line " << s.line << ": " << w.at(2);
    } else if (what == "failures") {
      EXPECT_EQ(gateway.failures().size(), static_cast<std::size_t>(number(w.at(2))))
          << "line " << s.line;
    } else {
      throw std::invalid_argument("unknown expectation '" + what + "'");
    }
  }

  static orbrix::testing::HookKind hook_kind(const std::string& name) {
    using orbrix::testing::HookKind;
    for (const HookKind k :
         {HookKind::quote, HookKind::orderbook, HookKind::order, HookKind::deal}) {
      if (orbrix::testing::to_text(k) == name) {
        return k;
      }
    }
    throw std::invalid_argument("no engine hook is named " + name);
  }

  const Security& security(const std::string& symbol) {
    const auto it = securities_.find(symbol);
    if (it == securities_.end()) {
      throw std::invalid_argument(symbol + " was not subscribed by the script");
    }
    return it->second;
  }

  std::map<std::string, Security> securities_;
  std::string last_order_;
  std::string pending_error_;
  int error_line_ = 0;
};

TEST_P(Scenario, Runs) {
  for (const Step& step : read_script(GetParam())) {
    SCOPED_TRACE(GetParam().filename().string() + ":" + std::to_string(step.line));
    run_step(step);
  }
  if (!pending_error_.empty()) {
    ADD_FAILURE() << "line " << error_line_ << " raised: " << pending_error_;
  }
}

// The refusal of a script whose one step is `step`, or "" when it is taken.
std::string refusal_of(const std::string& step) {
  const auto path =
      std::filesystem::temp_directory_path() /
      ("orbrix-scenario-" +
       std::to_string(::testing::UnitTest::GetInstance()->current_test_info()->line()) +
       ".scenario");
  {
    std::ofstream out(path);
    out << "# one step\n" << step << "\n";
  }
  std::string why;
  try {
    (void)read_script(path);
  } catch (const std::invalid_argument& e) {
    why = e.what();
  }
  std::filesystem::remove(path);
  return why;
}

TEST(ScenarioScripts, AWordTheListDoesNotHoldIsRefusedNamingItsLineAndWord) {
  // Misspelled choices once fell through to another order type or side.
  EXPECT_NE(refusal_of("engine place_order EP MARKET BUY 1").find(":2: 'BUY' is not one of"),
            std::string::npos);
  EXPECT_NE(refusal_of("engine place_order EP LIMT LONG 1 6000").find(":2: 'LIMT'"),
            std::string::npos);
  EXPECT_NE(refusal_of("expect quote EP bids 6000").find("'bids'"), std::string::npos);
  EXPECT_NE(refusal_of("expect hooks process_deals 1").find("'process_deals'"), std::string::npos);
  EXPECT_NE(refusal_of("sim quotes EP qtBidd 6000").find("'qtBidd' is not a quote type"),
            std::string::npos);
  EXPECT_NE(refusal_of("sim quotes EP qtBid").find("needs a price"), std::string::npos);
  EXPECT_NE(refusal_of("engine Logof").find("'Logof' is not a step of 'engine'"),
            std::string::npos);
  EXPECT_NE(refusal_of("expct trace x").find("'expct' is not a step"), std::string::npos);
  EXPECT_NE(refusal_of("engine Logoff now").find("'now'"), std::string::npos);
  EXPECT_NE(refusal_of("sim advance soon").find("'soon' is not a number"), std::string::npos);
  EXPECT_NE(refusal_of("journal forget").find("'forget'"), std::string::npos);
  // Words the list holds are taken.
  EXPECT_EQ(refusal_of("engine place_order EP STOP SHORT 1 0 5990.5"), "");
  EXPECT_EQ(refusal_of("sim quotes EP qtBid 6000.25 qtAsk 6000.5"), "");
  EXPECT_EQ(refusal_of("hook process_order raises \"KeyError: 7\""), "");
}

std::vector<std::filesystem::path> scenario_files() {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(ORBRIX_SCENARIO_DIR)) {
    if (e.path().extension() == ".scenario") {
      files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

INSTANTIATE_TEST_SUITE_P(Scripts, Scenario, ::testing::ValuesIn(scenario_files()),
                         [](const auto& info) {
                           std::string name = info.param.stem().string();
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace orbrix::cqg
