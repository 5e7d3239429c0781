"""The reliability scenarios. Each case starts from a fresh version-1
installation, runs the real updater through the fault proxy and checks what
the user and the file system see. Prints one line per case, then the
scenario's totals; the exit status is 0 only when every case passed.

reliability.py --work DIR --upstream PORT --scenario NAME [--full]
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import faultproxy  # noqa: E402
import harness  # noqa: E402
import scenarios  # noqa: E402

PROXY_PORT = 8771


def open_proxy(upstream, patience=600):
    """The proxy takes the updater's compiled-in port; another test (of
    another build tree) that holds it is waited for."""
    deadline = time.monotonic() + patience
    while True:
        try:
            return faultproxy.FaultProxy(PROXY_PORT, upstream).start()
        except OSError:
            if time.monotonic() > deadline:
                raise
            print("port %d is busy, waiting" % PROXY_PORT, flush=True)
            time.sleep(5)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--upstream", type=int, required=True)
    parser.add_argument("--scenario", required=True, choices=sorted(scenarios.SCENARIOS))
    parser.add_argument("--build", required=True)
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--only", help="run only the cases whose names contain one of these comma-separated texts")
    opts = parser.parse_args()

    proxy = open_proxy(opts.upstream)
    display = harness.Display()
    www_before = harness.digest(os.path.join(opts.work, "www"))
    report = harness.Report(opts.scenario)
    try:
        context = scenarios.Context(opts.work, proxy, display, report, opts.full, opts.only)
        context.build = opts.build
        scenarios.SCENARIOS[opts.scenario](context)
    except Exception as error:  # a harness fault is a failed run, with its cause
        report.add("harness", False, "%s: %s" % (type(error).__name__, error))
        raise
    finally:
        display.stop()
        proxy.stop()
    if harness.digest(os.path.join(opts.work, "www")) != www_before:
        report.add("server files unchanged", False, "the release on the server changed")
    return report.finish()


if __name__ == "__main__":
    sys.exit(main())
