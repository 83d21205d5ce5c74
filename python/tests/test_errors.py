"""C++ errors as Python's, and Python errors raised in hooks."""

import pytest

import orbrix_cqg as cqg

from conftest import Session


def test_invalid_values_type_errors_and_missing_keys(session):
    link, gw = session.link, session.gateway
    with pytest.raises(ValueError, match="1Min"):
        link.subscribe_bar("EP", 20, "5Sec")
    with pytest.raises(KeyError):
        gw.cqg_quotes[cqg.Futures(code="NQ", security_name="n")]
    with pytest.raises(TypeError):
        session.host.cqgCEL.put("APIConfiguration", [1, 2])
    with pytest.raises(TypeError):
        link.place_order("EP")


def test_an_engine_hook_error_comes_back_as_its_own_kind(session):
    session.log_on_with_account()
    unknown = cqg.Futures(code="NQ", security_name="n")
    # get_cqg_symbol_from_eng_security raises KeyError for it.
    with pytest.raises(KeyError, match="no vendor symbol"):
        session.link.place_order(cqg.Order(unknown, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))


def test_time_outs_and_misuse_are_runtime_errors(sim, session):
    sim.set_gateway(never=True)
    session.link.set_timeout(0.05)
    with pytest.raises(RuntimeError, match="GW connection timeout!"):
        session.link.Logon("user", "secret")
    with pytest.raises(RuntimeError):
        session.host.Init(cqg.BrokerLink)  # a host starts once
    with pytest.raises(TypeError):
        cqg.ApiHost().Init(object)


def test_operations_after_shutdown_raise_disconnected(session):
    session.host.Shutdown()
    with pytest.raises(cqg.DisconnectedError) as raised:
        session.link.Logon("user", "secret")
    assert isinstance(raised.value, ConnectionError)


def test_a_raising_hook_ends_its_handler_and_the_pump_goes_on(sim, session, capfd):
    gw = session.gateway
    failures = []
    original = gw.process_quote

    def flaky(quote):
        if not failures:
            failures.append(quote)
            raise ValueError("engine failed on a quote")
        original(quote)

    gw.process_quote = flaky
    session.link.subscribe_quote("EP")
    sim.advance(5)
    assert failures and gw.records("quote")
    out = capfd.readouterr().out
    assert "engine failed on a quote" in out and "Exception in BrokerLink" in out


def test_a_hook_the_engine_did_not_write_is_traced(sim, capfd):
    ep = cqg.Futures(code="EP", security_name="EP front month")

    class Partial(cqg.BaseGateway):
        def get_eng_security_from_cqg_symbol(self, cqg_symbol):
            return ep

        def get_cqg_symbol_from_eng_security(self, security):
            return "EP"

    session = Session(Partial())
    try:
        session.gateway.cqg_quotes[ep] = None
        session.link.subscribe_quote("EP")
        sim.advance(2)
        assert session.gateway.cqg_quotes[ep] is not None  # stored before the hook
    finally:
        session.close()
    assert "the gateway does not implement process_quote" in capfd.readouterr().out
