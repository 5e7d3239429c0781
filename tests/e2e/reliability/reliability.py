"""The reliability scenarios. Each case starts from a fresh version-1
installation, runs the real updater through the fault proxy and checks what
the user and the file system see. Prints one line per case, then the
scenario's totals; the exit status is 0 only when every case passed.

reliability.py --work DIR --upstream PORT --scenario NAME [--full]
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import faultproxy  # noqa: E402
import harness  # noqa: E402
import scenarios  # noqa: E402

PROXY_PORT = 8771


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--upstream", type=int, required=True)
    parser.add_argument("--scenario", required=True, choices=sorted(scenarios.SCENARIOS))
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--only", help="run only the cases whose name contains this text")
    opts = parser.parse_args()

    proxy = faultproxy.FaultProxy(PROXY_PORT, opts.upstream).start()
    display = harness.Display()
    www_before = harness.digest(os.path.join(opts.work, "www"))
    report = harness.Report(opts.scenario)
    try:
        context = scenarios.Context(opts.work, proxy, display, report, opts.full, opts.only)
        scenarios.SCENARIOS[opts.scenario](context)
    finally:
        display.stop()
        proxy.stop()
    if harness.digest(os.path.join(opts.work, "www")) != www_before:
        report.add("server files unchanged", False, "the release on the server changed")
    return report.finish()


if __name__ == "__main__":
    sys.exit(main())
