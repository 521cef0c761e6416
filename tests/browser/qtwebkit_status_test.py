#!/usr/bin/python3
"""Orvanta.status() (orvanta.js) in QtWebKit, a browser that loads NPAPI plug-ins, under the X
display the caller provides (xvfb-run): with the plug-in (a page of an allowed origin, then a
page of a refused one after its first token call) and without it. The plug-in folder and
token are qtwebkit_test.py's; the page is the Chromium status test's.

  qtwebkit_status_test.py --plugin SO --probe SO --standin SO --companion-dir DIR --softhsm PREFIX
                          --pagelib DIR
"""
import argparse
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading

import qtwebkit_test as harness

HERE = os.path.dirname(os.path.abspath(__file__))
STATUS_PAGE = os.path.join(HERE, "..", "nativemessaging", "status-page", "status.html")


def browse(urls):
    """The child: each page in turn, printing what it found as one RESULT line."""
    from PyQt5.QtCore import QTimer, QUrl
    from PyQt5.QtWebKit import QWebSettings
    from PyQt5.QtWebKitWidgets import QWebView
    from PyQt5.QtWidgets import QApplication

    app = QApplication(sys.argv)
    QWebSettings.globalSettings().setAttribute(QWebSettings.PluginsEnabled, True)
    QWebSettings.globalSettings().setAttribute(QWebSettings.JavascriptEnabled, True)
    view = QWebView()
    view.resize(320, 120)
    view.show()
    state = {"ticks": 0, "next": 0}

    def poll():
        state["ticks"] += 1
        text = view.page().mainFrame().evaluateJavaScript(
            "window.orvantaStatus ? JSON.stringify(window.orvantaStatus) : ''")
        if not text and state["ticks"] < 300:
            return
        print("RESULT " + (text or json.dumps({"timeout": True})), flush=True)
        if state["next"] == len(urls):
            timer.stop()
            view.setUrl(QUrl("about:blank"))
            QTimer.singleShot(300, lambda: app.exit(0))
            return
        state["ticks"] = 0
        view.setUrl(QUrl(urls[state["next"]]))
        state["next"] += 1

    view.setUrl(QUrl(urls[0]))
    state["next"] = 1
    timer = QTimer()
    timer.timeout.connect(poll)
    timer.start(100)
    code = app.exec_()
    view.close()
    sys.exit(code)


def serve(folder):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=folder, **kw)

        def do_POST(self):  # the page's report; read from the page itself
            self.rfile.read(int(self.headers.get("Content-Length", "0")))
            self.send_response(204)
            self.end_headers()

        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def run_pages(env, urls):
    child = subprocess.run([sys.executable, os.path.abspath(__file__), "--child"] + urls, env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=180)
    results = [json.loads(line[len("RESULT "):]) for line in child.stdout.splitlines() if line.startswith("RESULT ")]
    if len(results) != len(urls):
        print(child.stdout[-3000:])
    return results


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "--child":
        browse(sys.argv[2:])
        return 0
    parser = argparse.ArgumentParser()
    for name in ("--plugin", "--probe", "--standin", "--companion-dir", "--softhsm", "--pagelib"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        print("no X display: run under xvfb-run -a")
        return 1
    failures = []

    def check(ok, text):
        print(("ok    " if ok else "FAIL  ") + text, flush=True)
        if not ok:
            failures.append(text)

    with tempfile.TemporaryDirectory(prefix="orvanta-browser-status-") as tmp:
        env = harness.prepare(args, tmp)
        # Plug-ins of this user's own folders stay out of the run.
        env["HOME"] = tmp
        env.pop("MOZ_PLUGIN_PATH", None)
        pages = os.path.join(tmp, "pages")
        os.makedirs(pages)
        os.symlink(os.path.abspath(STATUS_PAGE), os.path.join(pages, "status.html"))
        os.symlink(os.path.join(args.pagelib, "orvanta.js"), os.path.join(pages, "orvanta.js"))
        server = serve(pages)
        port = server.server_address[1]
        allowed = "http://127.0.0.1:%d" % port
        refused = "http://localhost:%d" % port
        with open(env["ORVANTA_ALLOWED_ORIGINS"], "w") as f:
            f.write("allow %s\ndeny %s\n" % (allowed, refused))
        try:
            with_plugin = run_pages(env, [allowed + "/status.html?name=ready",
                                          refused + "/status.html?name=refused&call=1"])
            without = dict(env, QTWEBKIT_PLUGIN_PATH=os.path.join(tmp, "no-plugins"))
            os.makedirs(without["QTWEBKIT_PLUGIN_PATH"])
            without_plugin = run_pages(without, [allowed + "/status.html?name=none"])
        finally:
            server.shutdown()

    print("with the plug-in: " + json.dumps(with_plugin, sort_keys=True))
    print("without it: " + json.dumps(without_plugin, sort_keys=True))
    check(len(with_plugin) == 2 and len(without_plugin) == 1, "every page reported")
    if len(with_plugin) == 2:
        ready, refusal = with_plugin
        check((ready.get("code"), ready.get("via")) == ("ready", "npapi"), "an allowed page finds the plug-in ready")
        check(ready.get("versions") == {"plugin": "1.1"} and ready.get("checked") == ["plug-in", "version"],
              "... judged by its presence and version only")
        message = "The page origin %s is not allowed to use the token" % refused
        check(refusal.get("call") == "rejected: " + message, "a refused page's token call rejects with the reason")
        check((refusal.get("code"), refusal.get("detail")) == ("origin-refused", message),
              "... and its status is origin-refused")
    if len(without_plugin) == 1:
        none = without_plugin[0]
        check(none.get("code") == "not-installed" and none.get("via") is None, "without the plug-in: not installed")
        check(none.get("install", {}).get("browser") == "plugin-browser" and
              "orvanta plug-in" in none.get("message", ""), "... with the plug-in's install advice")
        if none.get("code") != "not-installed" and os.path.exists("/usr/lib/mozilla/plugins/nporvanta.so"):
            print("note: an installed orvanta package puts the plug-in where every NPAPI browser finds it")
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
