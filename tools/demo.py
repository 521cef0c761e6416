#!/usr/bin/python3
"""The demonstration page (tools/demo-page) in a real browser, against a token in a temporary
folder: by default the NPAPI plug-in nporvanta.so in QtWebKit, with --chromium the extension
and orvanta-host in headless Chromium, with --firefox the packaged extension (.xpi) and
orvanta-host in headless Firefox ESR. The page is served from a loopback HTTP server, which
also checks the page's signatures with Botan (gost_verify) and hands the verdict back to the
page. Prints every step and its answer; exit status 0 only when every step worked and every
signature verified.

Called by tools/demo, which builds what is needed first; see there for the options."""
import argparse
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import firefox_profile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOFTHSM = os.environ.get("ORVANTA_SOFTHSM_PREFIX", "/var/cache/orvanta/softhsm-2.6.1-gost")
DEMO_PIN = "123456"
SO_PIN = "87654321"


class Token:
    """The token module the plug-in loads, and the environment the browser needs for it: the
    stand-in forwarding to a fresh SoftHSM token (the default), or a real vendor module."""

    def __init__(self, folder, build, module, pin, person_gives_pin):
        self.env = dict(os.environ)
        self.module = module or os.path.join(build, "testbin", "olpkcs11xsg.so")
        if not module:
            tokens = os.path.join(folder, "tokens")
            os.makedirs(tokens)
            conf = os.path.join(folder, "softhsm2.conf")
            with open(conf, "w") as f:
                f.write("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n" % tokens)
            self.env["SOFTHSM2_CONF"] = conf
            self.env["ORVANTA_STANDIN_TARGET"] = os.path.join(SOFTHSM, "lib", "softhsm", "libsofthsm2.so")
            subprocess.run([os.path.join(SOFTHSM, "bin", "softhsm2-util"), "--init-token", "--free",
                            "--label", "orvanta demo", "--so-pin", SO_PIN, "--pin", DEMO_PIN],
                           env=self.env, check=True, stdout=subprocess.DEVNULL)
        self.companion = None
        if not person_gives_pin:
            # No one to ask: the companion double answers the PIN dialog.
            self.companion = os.path.join(build, "testbin", "companion-ok", "olvgui.so")
            self.env["ORVANTA_OLVGUI_PIN"] = pin
            self.env["ORVANTA_PINENTRY"] = "/nonexistent/pinentry"

    def place_beside(self, folder):
        """The plug-in and the host load the module, and the PIN companion, from their own
        folder."""
        os.symlink(os.path.abspath(self.module), os.path.join(folder, "olpkcs11xsg.so"))
        if self.companion:
            os.symlink(os.path.abspath(self.companion), os.path.join(folder, "olvgui.so"))


class Verdict:
    """What the page reported, with the signatures checked outside the browser."""

    def __init__(self, verifier):
        self.verifier = verifier
        self.done = threading.Event()
        self.summary = None
        self.checks = []
        self.ok = False

    def _verify(self, *args):
        return subprocess.run([self.verifier, *args], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0

    def judge(self, summary):
        self.summary = summary
        checks = []
        if summary.get("publicKey") and summary.get("signature"):
            checks.append({"name": "olvSign's signature with the container's public key",
                           "ok": self._verify(summary["publicKey"], summary["hash"], summary["signature"])})
        if summary.get("repair"):
            checks.append({"name": "olvRepair's signature with the page's key",
                           "ok": self._verify("--page-key", summary["pageKey"], summary["hash"], summary["repair"])})
        self.checks = checks
        self.ok = (not summary.get("failure") and len(checks) == 2 and all(c["ok"] for c in checks)
                   and all(r.get("good") for r in summary.get("rows", [])))
        return {"checks": checks, "ok": self.ok}


# The page includes the page library as a site would, from its own server: every server of
# the demonstration page answers /orvanta.js with this file.
PAGE_LIBRARY = os.path.join(TOP, "projects", "orvanta", "pagelib", "orvanta.js")


def serve(verdict, extra_handlers=None):
    page_dir = os.path.join(TOP, "tools", "demo-page")
    library = PAGE_LIBRARY

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=page_dir, **kw)

        def translate_path(self, path):
            if path.split("?", 1)[0] == "/orvanta.js":
                return library
            return super().translate_path(path)

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            try:
                answer = verdict.judge(json.loads(body))
            except (ValueError, AttributeError, TypeError):
                answer = {"checks": [], "ok": False}
            data = json.dumps(answer).encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
            verdict.done.set()

        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def webkit_window(page_class, width, height):
    """The application and a shown view with plug-ins and script on, its page of page_class.
    Only in the browser's own process (the child), which PyQt5 is imported in."""
    from PyQt5.QtWebKit import QWebSettings
    from PyQt5.QtWebKitWidgets import QWebView
    from PyQt5.QtWidgets import QApplication

    app = QApplication(sys.argv)
    settings = QWebSettings.globalSettings()
    settings.setAttribute(QWebSettings.PluginsEnabled, True)
    settings.setAttribute(QWebSettings.JavascriptEnabled, True)
    view = QWebView()
    view.setPage(page_class(view))
    view.resize(width, height)
    view.show()
    return app, view


def launch(command, env, **kw):
    """Starts a browser in a session of its own (stop_browser ends it with its children); its
    `started` is the monotonic time it was started at."""
    browser = subprocess.Popen(command, env=env, start_new_session=True, **kw)
    browser.started = time.monotonic()
    return browser


def stop_browser(browser):
    """Ends a browser started with start_new_session, with everything it started."""
    if browser is not None and browser.poll() is None:
        os.killpg(browser.pid, signal.SIGTERM)
        browser.wait()


def qtwebkit_child(url, screenshot, stay, limit):
    """Runs in its own process, so the plug-in's environment is the browser's from the start."""
    from PyQt5.QtCore import QTimer, QUrl
    from PyQt5.QtWebKitWidgets import QWebPage

    class Page(QWebPage):
        def javaScriptConsoleMessage(self, message, line, source):
            print("console: %s (%s:%s)" % (message, source, line), flush=True)

    app, view = webkit_window(Page, 1000, 760)
    view.setWindowTitle("orvanta demonstration")
    started = time.monotonic()
    state = {"saved": False}

    def poll():
        frame = view.page().mainFrame()
        if frame.evaluateJavaScript("window.orvantaDemoDone === true") is True:
            if not state["saved"]:
                state["saved"] = True
                view.grab().save(screenshot)
                print("screenshot: " + screenshot, flush=True)
                if not stay:
                    timer.stop()
                    app.exit(0)
                else:
                    print("close the browser window to end the demonstration", flush=True)
        elif time.monotonic() - started > limit:
            view.grab().save(screenshot)
            print("the page did not finish within %d s; screenshot: %s" % (limit, screenshot), flush=True)
            app.exit(1)

    timer = QTimer()
    timer.timeout.connect(poll)
    timer.start(200)
    view.setUrl(QUrl(url))
    code = app.exec_()
    view.close()
    sys.exit(code)


def qtwebkit_env(build, folder, token, origin=None, **extra):
    """A plug-in folder in `folder` with the built nporvanta.so and the token module beside
    it, and the environment QtWebKit needs to load it from there. The plug-in asks the
    person before a page uses the token; its answers are kept in `folder`, and `origin`, when
    given, is allowed ahead, so no prompt waits."""
    plugins = os.path.join(folder, "plugins")
    os.makedirs(plugins)
    shutil.copy2(os.path.join(build, "projects", "nporvanta", "nporvanta.so"), plugins)
    token.place_beside(plugins)
    env = dict(token.env, QTWEBKIT_PLUGIN_PATH=plugins,
               XDG_RUNTIME_DIR=os.path.join(folder, "run"), XDG_CACHE_HOME=os.path.join(folder, "cache"), **extra)
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    env["ORVANTA_ALLOWED_ORIGINS"] = os.path.join(folder, "allowed-origins")
    env["ORVANTA_MACHINE_ALLOWED_ORIGINS"] = os.path.join(folder, "machine-allowed-origins")
    if origin:
        with open(env["ORVANTA_ALLOWED_ORIGINS"], "w") as f:
            f.write("allow %s\n" % origin)
    return plugins, env


def run_qtwebkit(options, folder, token, url, origin):
    # A person at the display is asked for the page, as anyone would be; otherwise the
    # page's own loopback origin is allowed ahead in the demo's temporary configuration.
    plugins, env = qtwebkit_env(options.build, folder, token, None if options.person else origin)
    print("QtWebKit with the orvanta plug-in (%s); page %s" % (plugins, url), flush=True)
    command = [sys.executable, os.path.abspath(__file__), "--qtwebkit-child", url, options.screenshot,
               "1" if options.stay else "0", str(options.limit)]
    return launch(command, env)


def install_host(options, folder, token, origin, browser):
    """orvanta-host, with the token module beside it, installed for `browser` as a person
    would (--user) under a temporary HOME and XDG_CONFIG_HOME; returns that environment."""
    config = os.path.join(folder, "config")
    host_dir = os.path.join(folder, "host")
    os.makedirs(host_dir)
    host = os.path.join(host_dir, "orvanta-host")
    shutil.copy2(os.path.join(options.build, "host", "orvanta-host"), host)
    token.place_beside(host_dir)
    env = dict(token.env, XDG_CONFIG_HOME=config, HOME=folder)
    subprocess.run([host, "--install", "--browser", browser, "--user"], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    # The person's yes for this page, given ahead so no prompt waits.
    os.makedirs(os.path.join(config, "orvanta"), exist_ok=True)
    with open(os.path.join(config, "orvanta", "allowed-origins"), "w") as f:
        f.write("allow %s\n" % origin)
    return env


def run_chromium(options, folder, token, url, origin):
    env = install_host(options, folder, token, origin, "chromium")
    extension = os.path.join(TOP, "projects", "orvanta", "extension")
    print("headless Chromium with the orvanta extension and orvanta-host; page %s" % url, flush=True)
    return launch(
        ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--user-data-dir=" + os.path.join(env["XDG_CONFIG_HOME"], "chromium"), "--load-extension=" + extension,
         "--disable-extensions-except=" + extension, url],
        env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run_firefox(options, folder, token, url, origin):
    env = install_host(options, folder, token, origin, "firefox")
    xpi = firefox_profile.build_xpi(os.path.join(folder, "packages"))
    profile = os.path.join(folder, "firefox-profile")
    firefox_profile.write_profile(profile, xpi)
    print("headless Firefox ESR with %s and orvanta-host; page %s" % (os.path.basename(xpi), url), flush=True)
    return launch(firefox_profile.command(profile, [url]), env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def print_verdict(verdict):
    summary = verdict.summary or {}
    rows = summary.get("rows", [])
    if rows:
        width = max(len(r["call"]) for r in rows)
        for r in rows:
            print("  %s %-*s  %s" % ("ok  " if r.get("good") else "FAIL", width, r["call"], r["answer"]))
    for c in verdict.checks:
        print("  %s %s: %s" % ("ok  " if c["ok"] else "FAIL", c["name"], "verified" if c["ok"] else "NOT verified"))
    if summary.get("failure"):
        print("stopped: " + summary["failure"])
    print("every step worked and every signature verified" if verdict.ok else "the demonstration FAILED")


def main():
    if len(sys.argv) == 6 and sys.argv[1] == "--qtwebkit-child":
        qtwebkit_child(sys.argv[2], sys.argv[3], sys.argv[4] == "1", int(sys.argv[5]))
        return 0
    parser = argparse.ArgumentParser(description="the orvanta demonstration page in a real browser")
    parser.add_argument("--build", required=True)
    parser.add_argument("--chromium", action="store_true")
    parser.add_argument("--firefox", action="store_true")
    parser.add_argument("--module", help="a vendor PKCS#11 module to use instead of the SoftHSM token")
    parser.add_argument("--pin", default=DEMO_PIN)
    parser.add_argument("--person", action="store_true", help="a person at the display gives the PIN")
    parser.add_argument("--stay", action="store_true", help="keep the browser window open at the end")
    parser.add_argument("--screenshot", default=os.path.abspath("orvanta-demo.png"))
    parser.add_argument("--limit", type=int, default=120)
    options = parser.parse_args()
    options.build = os.path.abspath(options.build)
    options.screenshot = os.path.abspath(options.screenshot)

    folder = tempfile.mkdtemp(prefix="orvanta-demo-")
    browser = None
    server = None
    try:
        token = Token(folder, options.build, options.module and os.path.abspath(options.module),
                      options.pin, options.person)
        if options.person and not options.module:
            print("the demo token's PIN is %s" % DEMO_PIN, flush=True)
        verdict = Verdict(os.path.join(options.build, "testbin", "gost_verify"))
        server = serve(verdict)
        origin = "http://127.0.0.1:%d" % server.server_address[1]
        url = origin + "/index.html"
        if options.chromium:
            browser = run_chromium(options, folder, token, url, origin)
        elif options.firefox:
            browser = run_firefox(options, folder, token, url, origin)
        else:
            browser = run_qtwebkit(options, folder, token, url, origin)
        deadline = time.monotonic() + options.limit + 30
        while not verdict.done.wait(0.2):
            if browser.poll() is not None or time.monotonic() > deadline:
                break
        if not verdict.done.is_set():
            print("the page did not report within %d s" % options.limit, file=sys.stderr)
            return 1
        print_verdict(verdict)
        if not (options.chromium or options.firefox):
            # The browser saves its screenshot once the verdict is on the page; with --stay it
            # stays open until the person closes it.
            browser.wait(timeout=None if options.stay else 60)
            browser = None
        return 0 if verdict.ok else 1
    finally:
        stop_browser(browser)
        if server is not None:
            server.shutdown()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
