"""Ctrl-C ends a blocking call at once: an event's wait, a log-on that the
gateway does not answer; the link works on after."""

import signal

from conftest import run_script

INTERRUPT_AFTER = """
import os, signal, threading, time

def interrupt_after(seconds):
    def send():
        time.sleep(seconds)
        os.kill(os.getpid(), signal.SIGINT)
    threading.Thread(target=send, daemon=True).start()

def interrupted(call, *args):
    started = time.monotonic()
    interrupt_after(0.2)
    try:
        call(*args)
    except KeyboardInterrupt:
        return round(time.monotonic() - started, 1)
    return None
"""


def test_ctrl_c_ends_waits_and_leaves_the_link_usable():
    status, out, err = run_script("""
        import math

        with cqg.Simulator() as sim:
            sim.set_config(cqg.SimConfig(manual_clock=True))
            sim.set_gateway(never=True)
            host = cqg.ApiHost(use_simulator=True)
            link = host.Init(cqg.BrokerLink)
            gateway = Gateway()
            gateway.apiHost = host
            link.Init(gateway)
            link.set_timeout(math.inf)
            print("wait", interrupted(link.eventGatewayIsUp.wait, 1e10))
            print("logon", interrupted(link.Logon, "user", "secret"))
            sim.set_gateway(delay=0)
            link.set_timeout(5)
            link.Logon("user", "secret")
            print("connected", link.gateway_connected)
            host.Shutdown()
    """, timeout=30, prelude=INTERRUPT_AFTER)
    assert status == 0, err
    # Ended within a slice of the signal, not after a time-out.
    assert "wait 0.2" in out or "wait 0.3" in out, out
    assert "logon 0.2" in out or "logon 0.3" in out, out
    assert "connected True" in out


def test_ctrl_c_still_ends_the_script():
    status, _, err = run_script("""
        host = cqg.ApiHost(use_simulator=True)
        link = host.Init(cqg.BrokerLink)
        interrupt_after(0.2)
        link.eventGatewayIsDown.wait(1e10)
    """, timeout=30, prelude=INTERRUPT_AFTER)
    assert status in (1, -signal.SIGINT) and "KeyboardInterrupt" in err, err
