#!/usr/bin/python3
"""The page's figures in headless Chromium, printed (not a timed test).

1. What the page costs to load: the bytes transferred for it, and the time from the navigation to
   the moment its window takes input.
2. A real-time update of 4 KiB at 31250 baud on the in-page simulated link, in each mode, beside
   the link's limit and the virtual-time durations of the same case (from the WebAssembly build's
   benchmark under Node, whose table is given with --virtual-table).
3. What a hidden tab does: the same update through the page's Web MIDI backend (the module in the
   test's own WebAssembly, answering by message events as a real module's interface does), in each
   mode, with the event loop's timers from a worker (the page's way) and from the page itself, the
   tab visible and hidden behind another one, in a browser whose hidden tabs are throttled as
   people's are.

  page_bench.py --virtual-table FILE [--quick]     --quick leaves the hidden tab's runs out
Environment as for tests/web/page_test.py (KFW_WEB_SITE, KFW_WEB_TEST_MODULE, KFW_WEB_STAND_IN).
"""

import argparse
import gzip
import os
import re
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from page_harness import (IMAGE_NAME, UPDATE, Page, images_folder)  # noqa: E402

CASE = "4 KiB, 31250 baud"
STAND_IN_PORT = "UM-ONE MIDI 1"
SIMULATED = "Simulated QX-412"

# When the page was hidden and shown again, from the document's start.
RECORD_VISIBILITY = """
window.kfwVisibility = [];
document.addEventListener("visibilitychange", () =>
  window.kfwVisibility.push([document.visibilityState, performance.now()]));
"""


def virtual_figures(path):
    """(limit, normal, fast) seconds of the 4 KiB case from the benchmark's table."""
    with open(path) as table:
        for line in table:
            if line.startswith(CASE):
                numbers = [float(n) for n in re.findall(r"\d+\.\d+", line[len(CASE):])]
                # limit | normal ratio model n/m | fast ratio | speed-up
                return numbers[0], numbers[1], numbers[5]
    raise SystemExit(f"{path} has no line for {CASE}")


def box_text(page):
    shown = page.wait_box(300)
    page.answer("OK")
    return shown[2]


def update_seconds(page, port, hide=False):
    """One whole update from Connect; the update procedure's own time, in seconds."""
    page.connect(port)
    if box_text(page) != "Connection established!":
        raise SystemExit("the module did not connect")
    page.pick(os.path.join(images_folder(), "update-4k.kfw"))
    page.wait(lambda: page.text(IMAGE_NAME) == "update-4k.kfw" and page.enabled(UPDATE), 10,
              "the image")
    other = None
    page.click(UPDATE)
    if hide:
        other = page.driver.execute_cdp_cmd("Target.createTarget", {"url": "about:blank"})
        page.driver.execute_cdp_cmd("Target.activateTarget", {"targetId": other["targetId"]})
    shown = page.wait_box(300)
    if other:
        page.driver.execute_cdp_cmd("Target.closeTarget", {"targetId": other["targetId"]})
    page.answer("OK")
    text = shown[2]
    if text != "Firmware was successfully updated.":
        raise SystemExit(f"the update failed: {text}")
    return int(page.script("return document.documentElement.dataset.lastProcedureMilliseconds")) / 1e3


def hidden_seconds(page):
    """How long the page was hidden in all."""
    events = page.script("return window.kfwVisibility")
    hidden, since = 0.0, None
    for state, at in events:
        if state == "hidden":
            since = at
        elif since is not None:
            hidden += (at - since) / 1e3
            since = None
    return hidden


def load_figures(runs=3):
    site = os.path.join(os.environ["KFW_WEB_SITE"], "index.html")
    size = os.path.getsize(site)
    with open(site, "rb") as page_file:
        compressed = len(gzip.compress(page_file.read(), 9))
    transferred, interactive = [], []
    for _ in range(runs):
        with Page("?simulator") as page:
            page.wait(lambda: page.state() == "ready", 30, "the page to be ready")
            transferred.append(page.script(
                "return performance.getEntriesByType('navigation')[0].transferSize"))
            interactive.append(page.script(
                "return performance.getEntriesByName('kfw-interactive')[0].startTime"))
    print("Loading the page (served from http://localhost, uncompressed; a host that compresses "
          "sends the gzip figure):")
    print(f"  index.html: {size} bytes, {compressed} compressed (gzip -9); transferred "
          f"{statistics.median(transferred):.0f} bytes (headers included)")
    print(f"  time to interactive (navigation to the window taking input, {runs} loads): "
          f"median {statistics.median(interactive):.0f} ms, "
          f"{min(interactive):.0f} to {max(interactive):.0f} ms")


def real_time_figures(limit, normal_virtual, fast_virtual):
    print(f"\nA real-time update of {CASE} on the in-page simulated link (the update procedure, "
          "Connect to the final reset):")
    print(f"  {'mode':6} | {'real (s)':>8} | {'virtual (s)':>11} {'ratio':>6} | {'limit (s)':>9} "
          f"{'ratio':>6}")
    for fast, virtual in ((False, normal_virtual), (True, fast_virtual)):
        with Page("?simulator" + ("&fast" if fast else "")) as page:
            seconds = update_seconds(page, SIMULATED)
        mode = "fast" if fast else "normal"
        verdict = ""
        if fast:
            verdict = " (within 1.10 x the limit)" if seconds <= 1.10 * limit else \
                      " (NOT within 1.10 x the limit)"
        print(f"  {mode:6} | {seconds:8.2f} | {virtual:11.2f} {seconds / virtual:6.2f} | "
              f"{limit:9.2f} {seconds / limit:6.2f}{verdict}")


def hidden_tab_figures():
    print(f"\nWhat a hidden tab does: {CASE} through the page's Web MIDI backend, the module "
          "answering by message events; the tab hidden behind another from the click on Update "
          "(hidden timers throttled as in a browser people use):")
    print(f"  {'mode':6} {'timers':7} | {'visible (s)':>11} | {'hidden (s)':>10} "
          f"{'of it hidden':>12} | {'slower':>6}")
    for fast in (False, True):
        for source in ("worker", "window"):
            seconds = {}
            hidden = 0.0
            for hide in (False, True):
                query = "?fast" if fast else ""
                with Page(query, stand_in={}, timer_source=source, throttled=True,
                          extra_script=RECORD_VISIBILITY) as page:
                    seconds[hide] = update_seconds(page, STAND_IN_PORT, hide)
                    if hide:
                        hidden = hidden_seconds(page)
            mode = "fast" if fast else "normal"
            label = "worker" if source == "worker" else "page's"
            print(f"  {mode:6} {label:7} | {seconds[False]:11.2f} | {seconds[True]:10.2f} "
                  f"{hidden:11.1f}s | {seconds[True] / seconds[False]:5.2f}x")
    print("  timers: worker = the event loop's timers from a worker (what the page does); page's "
          "= the page's own setTimeout (the fallback where no worker can start).")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--virtual-table", required=True,
                        help="the WebAssembly benchmark's output (kfw_update_bench.js --virtual)")
    parser.add_argument("--quick", action="store_true", help="leave the hidden tab's runs out")
    arguments = parser.parse_args()
    limit, normal_virtual, fast_virtual = virtual_figures(arguments.virtual_table)
    started = time.monotonic()
    load_figures()
    real_time_figures(limit, normal_virtual, fast_virtual)
    if not arguments.quick:
        hidden_tab_figures()
    print(f"\n(page benchmark: {time.monotonic() - started:.0f} s)")


if __name__ == "__main__":
    main()
