#!/usr/bin/python3
"""One "get_version" call page -> orvanta -> page, timed in one run in both ways a page
reaches orvanta: the NPAPI plug-in in QtWebKit and the extension with orvanta-host in
headless Chromium, both against the same kind of token (tools/demo's). Prints the mean time
per call over about two seconds of back-to-back calls, the first call on its own, and the
ratio of the two means. Called by bench/browser-rtt/get-version-rtt."""
import argparse
import http.server
import json
import os
import shutil
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import demo  # noqa: E402


def measure(options, chromium):
    folder = tempfile.mkdtemp(prefix="orvanta-rtt-")
    result = {}
    done = threading.Event()
    page_dir = os.path.join(demo.TOP, "tools", "demo-page")

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=page_dir, **kw)

        def do_POST(self):
            result.update(json.loads(self.rfile.read(int(self.headers.get("Content-Length", "0")))))
            self.send_response(204)
            self.end_headers()
            done.set()

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
        options.limit = 60
        if chromium:
            browser = demo.run_chromium(options, folder, token, origin + "/rtt.html", origin)
        else:
            browser = demo.run_qtwebkit(options, folder, token, origin + "/rtt.html")
        if not done.wait(90):
            result["error"] = "no answer from the page within 90 s"
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
    for name, chromium in (("NPAPI plug-in in QtWebKit", False),
                           ("extension + orvanta-host in Chromium", True)):
        r = measure(options, chromium)
        if r.get("error"):
            print("%s: %s" % (name, r["error"]))
            return 1
        mean_us = r["total"] * 1000.0 / r["calls"]
        means[chromium] = mean_us
        print("%-38s %10.2f us per call (%d calls in %.0f ms); first call %.1f ms; version %s"
              % (name + ":", mean_us, r["calls"], r["total"], r["first"], r["version"]), flush=True)
    print("ratio native messaging / NPAPI: %.1f" % (means[True] / means[False]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
