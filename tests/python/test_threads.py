"""Threads and processes around a call: Ctrl-C and the GIL, with a long
order in the main thread of a child Python (long_call.py) while another of
its threads runs Python code and then sends SIGINT (the order lasts minutes
when left alone); and a process forked after a call on two threads."""
import json
import subprocess
import sys
from pathlib import Path

import pytest


@pytest.mark.parametrize("kind", ["order", "batch"])
def test_ctrl_c_cancels_a_long_order_while_other_threads_run(kind):
    # Were the GIL held during the call, the helper thread could neither run
    # nor send the signal until the call's natural end: the timeout fails it.
    p = subprocess.run([sys.executable, str(Path(__file__).with_name("long_call.py")), kind],
                       capture_output=True, text=True, timeout=100, check=False)
    assert p.returncode == 0, p.stderr
    got = json.loads(p.stdout)
    assert got["ended"] == "KeyboardInterrupt" and got["helper_loops"] > 0
    assert got["seconds_after_signal"] < 20  # a step takes milliseconds
    assert got["refs_back"] and got["answers_after"] == 10


FORK = """
import os, numpy as np, kcenter
X = np.random.default_rng(1).random((20000, 3))
parent = kcenter.order(X, 50, threads=2).rows
pid = os.fork()
if pid == 0:
    same = np.array_equal(kcenter.order(X, 50, threads=2).rows, parent)
    same = same and np.array_equal(kcenter.order_batch([X, X], 50, threads=2).rows[1], parent)
    os._exit(0 if same else 3)
print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
"""


def test_a_child_forked_after_threads_ran_still_answers():
    # GNU OpenMP's threads do not survive a fork: asked for two, the child
    # would wait for them forever.
    p = subprocess.run([sys.executable, "-c", FORK], capture_output=True, text=True, timeout=100, check=False)
    assert p.returncode == 0 and p.stdout.strip() == "0", p.stderr
