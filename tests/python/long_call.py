"""long_call.py order|batch: starts an order that would take minutes in the
main thread. Another Python thread, once the call is under way, counts its
own loops for a moment (it can only while the call has let the GIL go), then
sends SIGINT to the process. Prints one JSON line: how the call ended, the
seconds from the signal to its end, the helper's loops, whether the array's
reference count came back, and whether a call made afterwards answers."""
import json
import os
import signal
import sys
import threading
import time

import numpy as np

import kcenter

X = np.random.default_rng(7).random((20000, 256))  # one step takes milliseconds, every step minutes
under_way = threading.Event()
helper = {"loops": 0, "sent": None}


def interrupt():
    under_way.wait()
    time.sleep(0.5)
    end = time.perf_counter() + 0.2
    while time.perf_counter() < end:
        helper["loops"] += 1
    helper["sent"] = time.perf_counter()
    os.kill(os.getpid(), signal.SIGINT)


threading.Thread(target=interrupt, daemon=True).start()
refs = sys.getrefcount(X)
try:
    under_way.set()
    if sys.argv[1] == "order":
        kcenter.order(X)
    else:
        kcenter.order_batch([X, X[::-1]], None, threads=2)
    ended = "returned"
except KeyboardInterrupt:
    ended = "KeyboardInterrupt"
after = time.perf_counter() - helper["sent"] if helper["sent"] else None
print(json.dumps({"ended": ended, "seconds_after_signal": after, "helper_loops": helper["loops"],
                  "refs_back": sys.getrefcount(X) == refs, "answers_after": len(kcenter.order(X[:100], 10).rows)}))
