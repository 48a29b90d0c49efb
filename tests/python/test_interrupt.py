"""Ctrl-C and the GIL: a long order runs in the main thread of a child
Python (long_call.py) while another of its threads runs Python code and then
sends SIGINT. The order lasts minutes when left alone."""
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
