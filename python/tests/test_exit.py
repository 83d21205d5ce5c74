"""Ending an engine script: with a host still running and a hook in the
middle of a call that gives the GIL up (a sleep, a write), the exit is
clean and what the hook wrote is kept."""

from conftest import start_script

HOOK_MID_FLIGHT = """
import sys, time

mode, path = sys.argv[1], sys.argv[2]
if mode == "no-shutdown-at-exit":
    cqg._set_shutdown_at_exit(False)

class Engine(Gateway):
    def process_quote(self, quote):
        with open(path, "a") as f:
            f.write("quote\\n")
        for _ in range(50):  # gives the GIL up and takes it back, again and again
            time.sleep(0.002)

gateway = Engine()
host = cqg.ApiHost(use_simulator=True)
link = host.Init(cqg.BrokerLink)
gateway.apiHost = host
link.Init(gateway)
link.Logon("user", "secret")
link.subscribe_quote("EP")
while not open(path).read().count("quote") >= 2:
    time.sleep(0.01)
if mode == "raise":
    raise RuntimeError("the engine's own error at the end")
"""


def exits(mode, tmp_path, runs):
    paths = [tmp_path / f"{mode}-{i}.txt" for i in range(runs)]
    for p in paths:
        p.write_text("")
    procs = [start_script(HOOK_MID_FLIGHT, mode, p) for p in paths]
    results = [(p.wait(timeout=60), p.stderr.read()) for p in procs]
    for p in procs:
        p.stdout.close()
        p.stderr.close()
    return results, paths


def test_exits_with_a_hook_mid_flight_are_clean(tmp_path):
    results, paths = exits("normal", tmp_path, 14)
    raised, raised_paths = exits("raise", tmp_path, 6)
    for (status, err), path in zip(results, paths):
        assert status == 0, err
        assert path.read_text().count("quote") >= 2
    for (status, err), path in zip(raised, raised_paths):
        assert status == 1 and "the engine's own error at the end" in err, err
        assert "FATAL" not in err


def test_a_hook_caught_by_finalization_ends_its_thread_cleanly(tmp_path):
    # Without the shutdown at exit the worker's hook meets the finalizing
    # interpreter: its thread is unwound (or the call dropped), never an abort.
    results, _ = exits("no-shutdown-at-exit", tmp_path, 6)
    for status, err in results:
        assert status == 0, err
