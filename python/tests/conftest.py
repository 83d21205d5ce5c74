"""Fixtures of the Python suite: a simulated CQGCEL on a manual clock and a
whole session over it (API host, BrokerLink, a recording gateway)."""

import os
import re
import subprocess
import sys
import textwrap
import threading

import pytest

import orbrix_cqg as cqg

ACCOUNT = 100001


def undated(symbol):
    """'EPZ26' is the dated form of 'EP'."""
    m = re.fullmatch(r"(.+?)[A-Z]\d\d", symbol)
    return m.group(1) if m else symbol


class RecordingGateway(cqg.BaseGateway):
    """A Python engine's gateway: futures of the short symbols it trades,
    and every hook call recorded with the thread it came on."""

    def __init__(self, symbols=("EP",)):
        super().__init__()
        self.securities = {s: cqg.Futures(code=s, security_name=s + " front month") for s in symbols}
        for security in self.securities.values():
            self.cqg_quotes[security] = None
            self.cqg_orderbooks[security] = None
        self.calls = []
        self.threads = set()
        self.changed = threading.Condition()

    def _record(self, kind, record):
        with self.changed:
            self.calls.append((kind, record))
            self.threads.add(threading.get_ident())
            self.changed.notify_all()

    def records(self, kind):
        with self.changed:
            return [r for k, r in self.calls if k == kind]

    def wait_for(self, kind, count=1, timeout=5.0):
        with self.changed:
            return self.changed.wait_for(lambda: len([1 for k, _ in self.calls if k == kind]) >= count,
                                         timeout)

    def get_eng_security_from_cqg_symbol(self, cqg_symbol):
        return self.securities.get(cqg_symbol) or self.securities.get(undated(cqg_symbol))

    def get_cqg_symbol_from_eng_security(self, security):
        for code, s in self.securities.items():
            if s == security:
                return code
        raise KeyError(f"no vendor symbol for {security!r}")

    def process_quote(self, quote):
        self._record("quote", quote)

    def process_orderbook(self, orderbook):
        self._record("book", orderbook)

    def process_order(self, update):
        self._record("order", update)

    def process_deal(self, deal):
        self._record("deal", deal)

    def process_connection(self, event):
        self._record("connection", event)

    def process_subscription_failure(self, failure):
        self._record("failure", failure)


@pytest.fixture
def sim():
    """A simulator of the test's own on a manual clock; log-on and account
    reloads are answered at once."""
    with cqg.Simulator() as s:
        s.set_config(cqg.SimConfig(manual_clock=True))
        s.set_gateway(delay=0)
        s.set_account_reload(delay=0)
        yield s


class Session:
    def __init__(self, gateway):
        self.host = cqg.ApiHost(use_simulator=True)
        self.gateway = gateway
        self.link = self.host.Init(cqg.BrokerLink)
        gateway.apiHost = self.host
        self.link.Init(gateway)
        self.link.set_timeout(5)
        self.link.set_account_reload_pause(0.001)

    def log_on_with_account(self):
        self.link.Logon("user", "secret")
        self.link.subscribe_account_and_positions(ACCOUNT)

    def close(self):
        self.host.Shutdown()


@pytest.fixture
def session(sim):
    s = Session(RecordingGateway())
    yield s
    s.close()


class EpEngine:
    """The part of a backtest engine its tests share: EP's quotes through a
    RecordingGateway, a timer each minute. Subclasses add on_timer."""

    def __init__(self):
        self._gateway = RecordingGateway(("EP",))

    def gateway(self):
        return self._gateway

    def interval(self):
        return 60.0

    def start(self, link):
        link.subscribe_quote("EP")


# A gateway for scripts run in a subprocess: EP futures, hooks that do nothing
# unless the script overrides them.
SCRIPT_GATEWAY = """
import orbrix_cqg as cqg

class Gateway(cqg.BaseGateway):
    def __init__(self):
        super().__init__()
        self.ep = cqg.Futures(code="EP", security_name="EP front month")
        self.cqg_quotes[self.ep] = None

    def get_eng_security_from_cqg_symbol(self, cqg_symbol):
        return self.ep if cqg_symbol.startswith("EP") else None

    def get_cqg_symbol_from_eng_security(self, security):
        return "EP"

    def process_quote(self, quote): pass
    def process_orderbook(self, orderbook): pass
    def process_order(self, update): pass
    def process_deal(self, deal): pass
"""


def start_script(code, *args, prelude=""):
    """Starts `code` (after SCRIPT_GATEWAY and `prelude`) in a new
    interpreter that finds the module as this one does; its output is
    piped."""
    source = SCRIPT_GATEWAY + prelude + textwrap.dedent(code)
    return subprocess.Popen([sys.executable, "-c", source, *map(str, args)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=dict(os.environ))


def run_script(code, *args, timeout=60, prelude=""):
    """Runs a script as start_script does and waits for it: (status, stdout,
    stderr)."""
    p = start_script(code, *args, prelude=prelude)
    out, err = p.communicate(timeout=timeout)
    return p.returncode, out, err
