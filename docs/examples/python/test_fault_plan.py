"""Fault plans in an engine's tests: the simulator refuses, delays or drops
what the test asks it to, on a manual clock, so a test of the engine's
reaction is quick and never flaky. Run with: python3 -m pytest test_fault_plan.py"""
import threading

import orbrix_cqg as cqg
import pytest

EP = cqg.Futures(code="EP", security_name="E-mini S&P 500")


class Gateway(cqg.BaseGateway):
    def __init__(self) -> None:
        super().__init__()
        self.cqg_quotes[EP] = None
        self.updates: list[cqg.OrderUpdate] = []
        self.failures: list[cqg.SubscriptionFailure] = []
        self.lock = threading.Lock()

    def get_eng_security_from_cqg_symbol(self, symbol: str) -> cqg.Futures | None:
        return EP if symbol.rsplit(".", 1)[-1].startswith("EP") else None

    def get_cqg_symbol_from_eng_security(self, security: cqg.Security) -> str:
        return "EP"

    def process_quote(self, quote: cqg.Quote) -> None: pass
    def process_orderbook(self, orderbook: cqg.OrderBook) -> None: pass
    def process_deal(self, deal: cqg.Deal) -> None: pass

    def process_order(self, update: cqg.OrderUpdate) -> None:
        with self.lock:  # hooks run on the API host's worker
            self.updates.append(update)

    def process_subscription_failure(self, failure: cqg.SubscriptionFailure) -> None:
        with self.lock:
            self.failures.append(failure)


@pytest.fixture
def sim():
    with cqg.Simulator() as s:
        s.set_config(cqg.SimConfig(manual_clock=True))  # time moves only by advance()
        s.set_gateway(delay=0)                           # log-on answered at once
        s.set_account_reload(delay=0)
        yield s


@pytest.fixture
def session(sim):
    host, gateway = cqg.ApiHost(use_simulator=True), Gateway()
    gateway.apiHost = host
    link = host.Init(cqg.BrokerLink)
    link.Init(gateway)
    link.set_timeout(5)
    link.set_account_reload_pause(0.001)
    link.Logon("user", "secret")
    link.subscribe_account_and_positions(100001)
    yield link, gateway
    host.Shutdown()


def test_a_rejected_order_reaches_the_engine_as_failed(sim, session):
    link, gateway = session
    link.subscribe_quote("EP")
    sim.reject_next_order("risk check failed")
    order_id = link.place_order(cqg.Order(EP, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))
    sim.advance(1.0)
    with gateway.lock:
        last = [u for u in gateway.updates if u.order_id == order_id][-1]
    assert last.status == cqg.OrderStatus.FAILED


def test_an_unresolved_symbol_is_told_to_the_engine(sim, session):
    link, gateway = session
    sim.set_instrument_resolution(error=(1, "no such contract"))
    link.subscribe_quote("EP")
    with gateway.lock:
        assert [(f.symbol, f.error) for f in gateway.failures] == [("EP", "no such contract (code 1)")]
