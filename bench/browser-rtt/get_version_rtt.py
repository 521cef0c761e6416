#!/usr/bin/python3
"""One "get_version" call page -> orvanta -> page, timed in one run in every way a page reaches
orvanta: the NPAPI plug-in in QtWebKit, and the extension with orvanta-host in headless
Chromium and in headless Firefox ESR (the packaged .xpi), all against the same kind of token
(tools/demo's). Prints, for each, the mean time per call over about two seconds of
back-to-back calls, the first call on its own, and the time from starting the browser to the
page's first answer; then the ratios of the means. Called by bench/browser-rtt/get-version-rtt."""
import argparse
import http.server
import json
import os
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import demo  # noqa: E402

BROWSERS = (
    ("qtwebkit", "NPAPI plug-in in QtWebKit"),
    ("chromium", "extension + orvanta-host in Chromium"),
    ("firefox", "extension + orvanta-host in Firefox ESR"),
)


def measure(options, kind):
    folder = tempfile.mkdtemp(prefix="orvanta-rtt-")
    result = {}
    done = threading.Event()
    first_answer = []
    page_dir = os.path.join(demo.TOP, "tools", "demo-page")

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=page_dir, **kw)

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            if self.path == "/first":
                first_answer.append(time.monotonic())
            else:
                result.update(json.loads(body))
                done.set()
            self.send_response(204)
            self.end_headers()

        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    browser = None
    try:
        origin = "http://127.0.0.1:%d" % server.server_address[1]
        token = demo.Token(folder, options.build, None, demo.DEMO_PIN, False)
        options.screenshot = os.path.join(folder, "rtt.png")
        options.stay = False
        options.person = False
        options.limit = 60
        url = origin + "/rtt.html"
        run = {"qtwebkit": demo.run_qtwebkit, "chromium": demo.run_chromium, "firefox": demo.run_firefox}[kind]
        browser = run(options, folder, token, url, origin)
        if not done.wait(120):
            result["error"] = "no answer from the page within 120 s"
        if first_answer:
            result["startToFirst"] = first_answer[0] - browser.started
        return result
    finally:
        demo.stop_browser(browser)
        server.shutdown()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    options = parser.parse_args()
    options.build = os.path.abspath(options.build)
    means = {}
    for kind, name in BROWSERS:
        r = measure(options, kind)
        if r.get("error"):
            print("%s: %s" % (name, r["error"]))
            return 1
        mean_us = r["total"] * 1000.0 / r["calls"]
        means[kind] = mean_us
        print("%-42s %10.2f us per call (%d calls in %.0f ms); first call %.1f ms; browser start to first answer"
              " %.2f s; version %s"
              % (name + ":", mean_us, r["calls"], r["total"], r["first"], r["startToFirst"], r["version"]),
              flush=True)
    print("ratio Firefox / Chromium (per call): %.2f" % (means["firefox"] / means["chromium"]))
    print("ratio native messaging / NPAPI: Chromium %.1f, Firefox %.1f"
          % (means["chromium"] / means["qtwebkit"], means["firefox"] / means["qtwebkit"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
