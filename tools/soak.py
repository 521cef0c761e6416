#!/usr/bin/python3
"""Soak run of the NPAPI plug-in in QtWebKit against a fresh SoftHSM token (tools/demo's):
many page loads and reloads (each an instance created and destroyed, the token module loaded
and released), then many "olvSign" calls in one page, every signature verified with Botan.
Measures the browser process's resident memory after the first loads and after the run, and
the same for the same number of loads of the page without the plug-in, in a second browser:
what the browser grows by on its own. The stand-in token module logs every call, so the
run also shows each instance's C_Initialize matched by a C_Finalize.
Exit status 0 only when every load answered, every signature verified, every load of the
module was released and the memory grew no more than the bound past what the browser alone
grows by. Called by tools/soak, which builds what is needed first."""
import argparse
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo  # noqa: E402


def settled_rss_kib():
    """Resident memory once the browser has let go of what it can: its memory caches and
    script garbage (clearMemoryCaches collects both) and the C library's free lists, so two
    readings differ by what is really still held, not by when the collector last ran."""
    import ctypes
    from PyQt5.QtWebKit import QWebSettings
    QWebSettings.clearMemoryCaches()
    ctypes.CDLL("libc.so.6").malloc_trim(0)
    return status_kib("VmRSS")


def status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return -1


def child(base, loads, baseline_after, signs, limit, bare):
    """The browser process: drives the page, prints one JSON line per finding."""
    from PyQt5.QtCore import QTimer, QUrl
    from PyQt5.QtWebKitWidgets import QWebPage
    import time

    class Page(QWebPage):
        def javaScriptAlert(self, frame, message):
            print(json.dumps({"alert": message}), flush=True)

    app, view = demo.webkit_window(Page, 400, 300)
    state = {"load": 0, "phase": "loads", "since": time.monotonic(), "failures": 0}

    def emit(**kw):
        print(json.dumps(kw), flush=True)

    def next_load():
        state["load"] += 1
        state["since"] = time.monotonic()
        frame = view.page().mainFrame()
        frame.evaluateJavaScript("window.soakResult = undefined")
        # Odd loads reload the page, even ones load it afresh: both end the old instance.
        if state["load"] % 2 == 0 and state["load"] > 1:
            view.reload()
        else:
            view.setUrl(QUrl(base + "/soak.html?load&n=%d%s" % (state["load"], "&bare" if bare else "")))

    def poll():
        now = time.monotonic()
        if now - state["since"] > limit:
            emit(error="no answer from the page within %d s (%s, load %d)" % (limit, state["phase"], state["load"]))
            app.exit(1)
            return
        if state["phase"] == "leave":
            if view.url().toString() == "about:blank" and now - state["since"] > 1.0:
                emit(left=True, rssKiB=settled_rss_kib(), threads=status_kib("Threads"))
                app.exit(0)
            return
        raw = view.page().mainFrame().evaluateJavaScript("window.soakResult")
        if not isinstance(raw, str):
            return
        result = json.loads(raw)
        if state["phase"] == "loads":
            if result.get("error") or result.get("present") is not True:
                state["failures"] += 1
                emit(loadFailure=state["load"], result=result)
            if state["load"] == 1:
                emit(firstLoad=True, threads=status_kib("Threads"))
            if state["load"] == baseline_after:
                emit(baseline=True, loads=state["load"], rssKiB=settled_rss_kib())
            if state["load"] < loads:
                next_load()
            else:
                emit(loadsDone=True, loads=state["load"], failures=state["failures"], rssKiB=settled_rss_kib())
                state["phase"] = "leave" if bare else "sign"
                state["since"] = time.monotonic()
                view.page().mainFrame().evaluateJavaScript("window.soakResult = undefined")
                view.setUrl(QUrl("about:blank" if bare else base + "/soak.html?sign=%d" % signs))
        elif state["phase"] == "sign":
            emit(signed=result, rssKiB=settled_rss_kib())
            state["phase"] = "leave"
            state["since"] = time.monotonic()
            view.setUrl(QUrl("about:blank"))

    timer = QTimer()
    timer.timeout.connect(poll)
    timer.start(10)
    next_load()
    sys.exit(app.exec_())


def verify_all(verifier, public_key, hashes, signatures):
    bad = []
    for i, (h, s) in enumerate(zip(hashes, signatures)):
        if not isinstance(s, str) or subprocess.run([verifier, public_key, h, s], stdout=subprocess.DEVNULL,
                                                    stderr=subprocess.DEVNULL).returncode != 0:
            bad.append(i)
    return bad


def run_browser(options, build, bare):
    """One browser run; returns its exit status, its JSON lines and the stand-in's call log."""
    folder = tempfile.mkdtemp(prefix="orvanta-soak-")
    page_dir = os.path.join(demo.TOP, "tools", "demo-page")

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=page_dir, **kw)

        def end_headers(self):
            # Every load asks again, so every load is a new page with a new instance.
            self.send_header("Cache-Control", "no-store")
            super().end_headers()

        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    browser = None
    lines = []
    calls = []
    code = None
    try:
        token = demo.Token(folder, build, None, demo.DEMO_PIN, False)
        log = os.path.join(folder, "standin.log")
        # The stand-in logs each call to the file but keeps none in memory, which would
        # otherwise grow with every call and be counted against the plug-in.
        base = "http://127.0.0.1:%d" % server.server_address[1]
        _, env = demo.qtwebkit_env(build, folder, token, base, ORVANTA_STANDIN_LOG=log,
                                   ORVANTA_STANDIN_NO_RECORD="1")
        browser = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--child", base, str(options.loads),
                                    str(options.baseline_after), str(options.signs), "120", "1" if bare else "0"],
                                   env=env, stdout=subprocess.PIPE, text=True, start_new_session=True)
        for line in browser.stdout:
            line = line.strip()
            if line.startswith("{"):
                try:
                    lines.append(json.loads(line))
                    continue
                except ValueError:
                    pass
            print("browser: " + line, flush=True)
        code = browser.wait()
        if os.path.exists(log):
            with open(log) as f:
                calls = [l.split()[1] for l in f if l.startswith("%d " % browser.pid)]
    finally:
        demo.stop_browser(browser)
        server.shutdown()
        shutil.rmtree(folder, ignore_errors=True)
    return code, lines, calls


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6]), sys.argv[7] == "1")
        return 0
    parser = argparse.ArgumentParser(prog="tools/soak")
    parser.add_argument("--build", required=True)
    parser.add_argument("--loads", type=int, default=200, help="page loads and reloads (200)")
    parser.add_argument("--signs", type=int, default=1000, help='"olvSign" calls in one page (1000)')
    parser.add_argument("--baseline-after", type=int, default=20,
                        help="loads after which the resident memory is taken as the baseline (20)")
    parser.add_argument("--max-growth-mib", type=float, default=8.0,
                        help="how far the resident memory may grow past the baseline beyond what the "
                             "browser grows by without the plug-in (8 MiB)")
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    if options.loads < options.baseline_after or options.baseline_after < 1 or options.signs < 1:
        parser.error("need --loads >= --baseline-after >= 1 and --signs >= 1")

    print("soak: QtWebKit with nporvanta.so, %d loads, %d olvSign calls in one page"
          % (options.loads, options.signs), flush=True)
    code, lines, calls = run_browser(options, build, False)
    print("soak: the same %d loads without the plug-in, in a second browser" % options.loads, flush=True)
    bare_code, bare_lines, _ = run_browser(options, build, True)

    def find(source, key):
        return next((l for l in source if key in l), None)

    ok = True

    def check(good, text):
        nonlocal ok
        ok = ok and good
        print("  %s %s" % ("ok  " if good else "FAIL", text), flush=True)

    for l in lines + bare_lines:
        if "error" in l or "loadFailure" in l or "alert" in l:
            print("  page: %s" % json.dumps(l), flush=True)
    check(code == 0 and bare_code == 0, "both browsers ran to the end (exit status %s, %s)" % (code, bare_code))
    base_line, loads, signed, left = (find(lines, k) for k in ("baseline", "loadsDone", "signed", "left"))
    bare_base, bare_left = find(bare_lines, "baseline"), find(bare_lines, "left")
    if loads:
        check(loads["loads"] == options.loads and loads["failures"] == 0,
              "%d page loads and reloads, %d without the token answering" % (loads["loads"], loads["failures"]))
    inits, finals = calls.count("C_Initialize"), calls.count("C_Finalize")
    check(inits >= options.loads + 1 and inits == finals,
          "the token module initialised %d times and finalised %d times (each instance loads and releases it)"
          % (inits, finals))
    print("       olvSign reached the module as %d C_Sign calls" % calls.count("C_Sign"), flush=True)
    if signed:
        s = signed["signed"]
        sigs = s.get("signatures") or []
        check(s.get("login") is True and not s.get("error"),
              "logged in and signed in one page (%s)" % (s.get("error") or "login %s" % s.get("login")))
        bad = verify_all(os.path.join(build, "testbin", "gost_verify"), s.get("publicKey", ""),
                         s.get("hashes") or [], sigs) if sigs else ["none"]
        check(len(sigs) == options.signs and not bad,
              "%d olvSign calls in %.0f ms, %d signatures verified by Botan%s"
              % (len(sigs), s.get("signMs", 0), len(sigs) - len(bad),
                 "" if not bad else " (not verified: %s)" % bad[:10]))
    if base_line and loads and signed and left and bare_base and bare_left:
        mib = lambda kib: kib / 1024.0  # noqa: E731
        growth = mib(left["rssKiB"] - base_line["rssKiB"])
        bare_growth = mib(bare_left["rssKiB"] - bare_base["rssKiB"])
        print("       with the plug-in: resident %.1f MiB after %d loads, %.1f MiB after %d, %.1f MiB after the "
              "signing page, %.1f MiB after leaving it (%+.1f MiB)"
              % (mib(base_line["rssKiB"]), base_line["loads"], mib(loads["rssKiB"]), loads["loads"],
                 mib(signed["rssKiB"]), mib(left["rssKiB"]), growth), flush=True)
        print("       without it:       resident %.1f MiB after %d loads, %.1f MiB after %d and leaving (%+.1f MiB)"
              % (mib(bare_base["rssKiB"]), bare_base["loads"], mib(bare_left["rssKiB"]), options.loads,
                 bare_growth), flush=True)
        check(growth - bare_growth <= options.max_growth_mib,
              "the plug-in's share of the growth: %+.1f MiB (bound %.0f MiB)"
              % (growth - bare_growth, options.max_growth_mib))
        print("       threads after leaving: %d with the plug-in, %d without"
              % (left["threads"], bare_left["threads"]), flush=True)
    else:
        check(False, "the runs did not reach their end")
    print("soak: " + ("passed" if ok else "FAILED"), flush=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
