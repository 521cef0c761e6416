#!/usr/bin/python3
"""The built nporvanta.so in a real NPAPI browser: QtWebKit through PyQt5, under the X
display the caller provides (xvfb-run). A temporary plug-in folder holds the module and the
olpkcs11xsg stand-in, which forwards to a fresh SoftHSM token; the PIN comes from the
olvgui companion double. First a page of the harness's allowed origin holds frames of two other
origins, denied and never asked, whose plug-ins must refuse every token method without a
call into the module (consent.html, framed.html). The page's own script drives the plug-in
(page.html, from the harness's loopback HTTP server); this
harness checks what the page saw, verifies the signatures with Botan (gost_verify), then
reloads the page. In the same browser run a third page (probe.html) drives the test-only
probe module (npprobe.so, its own MIME type) through the framework's remaining paths:
values and page functions across the bridge, an "on..." param, main-thread calls from a
worker thread, and downloads from a loopback HTTP server this harness runs and from file:
URLs. Then the browser navigates away.

  qtwebkit_test.py --plugin SO --probe SO --standin SO --companion-dir DIR --softhsm PREFIX
                   --verifier EXE
"""
import argparse
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
USER_PIN = "123456"
SO_PIN = "87654321"
DATA = bytes((i * 7) & 0xFF for i in range(100000))
BIG = bytes(i & 0xFF for i in range(2 * 1024 * 1024))
FILE_TEXT = "".join(f"line {i:04d} of the file download\n" for i in range(80))


PAGES = ("page.html", "consent.html", "framed.html")


class Server(http.server.ThreadingHTTPServer):
    """127.0.0.1 on a free port: the test pages, /data.bin, /big.bin, everything else 404.
    `paths` keeps the requests that are not for a page."""
    daemon_threads = True

    def __init__(self):
        self.paths = []
        super().__init__(("127.0.0.1", 0), Handler)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        name = self.path.split("?")[0].lstrip("/")
        content_type = "application/octet-stream"
        if name in PAGES:
            with open(os.path.join(HERE, name), "rb") as f:
                body = f.read()
            content_type = "text/html; charset=utf-8"
        else:
            self.server.paths.append(self.path)
            body = {"/data.bin": DATA, "/big.bin": BIG}.get(self.path)
        if body is None:
            self.send_error(404, "Not Found")
            return
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the plug-in closed its stream early

    def log_message(self, *args):
        pass


def prepare(args, tmp):
    plugins = os.path.join(tmp, "plugins")
    tokens = os.path.join(tmp, "tokens")
    os.makedirs(plugins)
    os.makedirs(tokens)
    shutil.copy(args.plugin, os.path.join(plugins, "nporvanta.so"))
    shutil.copy(args.probe, os.path.join(plugins, "npprobe.so"))
    shutil.copy(args.standin, os.path.join(plugins, "olpkcs11xsg.so"))
    # The companion double answers the PIN; the plug-in looks for it in its own folder.
    shutil.copy(os.path.join(args.companion_dir, "olvgui.so"), os.path.join(plugins, "olvgui.so"))
    conf = os.path.join(tmp, "softhsm2.conf")
    with open(conf, "w") as f:
        f.write(f"directories.tokendir = {tokens}\nobjectstore.backend = file\nlog.level = ERROR\n")
    env = dict(os.environ)
    env.update({
        "SOFTHSM2_CONF": conf,
        "ORVANTA_STANDIN_TARGET": os.path.join(args.softhsm, "lib", "softhsm", "libsofthsm2.so"),
        "QTWEBKIT_PLUGIN_PATH": plugins,
        "XDG_RUNTIME_DIR": os.path.join(tmp, "run"),
        "XDG_CACHE_HOME": os.path.join(tmp, "cache"),
        # No pinentry may open a box.
        "ORVANTA_OLVGUI_PIN": USER_PIN,
        "ORVANTA_PINENTRY": "/nonexistent/pinentry",
        # The person's answers about page origins (written once the servers' ports are
        # known); the machine's administrator has none here.
        "ORVANTA_ALLOWED_ORIGINS": os.path.join(tmp, "allowed-origins"),
        "ORVANTA_MACHINE_ALLOWED_ORIGINS": os.path.join(tmp, "machine-allowed-origins"),
        "ORVANTA_STANDIN_LOG": os.path.join(tmp, "standin.log"),
    })
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    os.makedirs(env["XDG_CACHE_HOME"])
    util = os.path.join(args.softhsm, "bin", "softhsm2-util")
    subprocess.run([util, "--init-token", "--free", "--label", "orvanta test", "--so-pin", SO_PIN,
                    "--pin", USER_PIN], env=env, check=True, stdout=subprocess.DEVNULL)
    return env


def browse(consent, page, probe):
    """The child: loads the page of frames from other origins, then the page, waits for its
    results, reloads, opens the probe page, navigates away. Prints one JSON line per page
    visit, and after the first how many calls the token module had received by then."""
    from PyQt5.QtCore import QTimer, QUrl
    from PyQt5.QtWebKit import QWebSettings
    from PyQt5.QtWebKitWidgets import QWebPage, QWebView
    from PyQt5.QtWidgets import QApplication

    class Page(QWebPage):
        def javaScriptAlert(self, frame, text):
            print("alert: " + text, flush=True)

        def javaScriptConsoleMessage(self, message, line, source):
            print(f"console: {message} ({source}:{line})", flush=True)

    app = QApplication(sys.argv)
    QWebSettings.globalSettings().setAttribute(QWebSettings.PluginsEnabled, True)
    QWebSettings.globalSettings().setAttribute(QWebSettings.JavascriptEnabled, True)
    view = QWebView()
    view.setPage(Page(view))
    view.resize(640, 240)
    view.show()
    visits = []
    state = {"ticks": 0}

    def frame():
        return view.page().mainFrame()

    def poll():
        state["ticks"] += 1
        if state["ticks"] > 600:  # 60 s per visit
            print("RESULT " + json.dumps({"timeout": True, "visit": len(visits)}), flush=True)
            app.exit(1)
            return
        text = frame().evaluateJavaScript("results ? JSON.stringify(results) : ''")
        if not text:
            return
        visits.append(text)
        print("RESULT " + text, flush=True)
        state["ticks"] = 0
        # The old page answers until the next one replaces it.
        frame().evaluateJavaScript("results = null")
        if len(visits) == 1:
            try:
                with open(os.environ["ORVANTA_STANDIN_LOG"]) as f:
                    calls = sum(1 for _ in f)
            except FileNotFoundError:
                calls = 0
            print("MODULE_CALLS %d" % calls, flush=True)
            view.setUrl(QUrl(page))
        elif len(visits) == 2:
            view.reload()
        elif len(visits) == 3:
            view.setUrl(QUrl(probe))
        else:
            timer.stop()
            view.setUrl(QUrl("about:blank"))
            QTimer.singleShot(500, lambda: app.exit(0))

    timer = QTimer()
    timer.timeout.connect(poll)
    timer.start(100)
    view.setUrl(QUrl(consent))
    code = app.exec_()
    view.close()
    del view
    sys.exit(code)


def verify(verifier, *args):
    return subprocess.run([verifier, *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT).returncode == 0


def check_consent(check, r, module_calls, denied, unknown):
    """Plug-ins in frames of origins the person did not allow: every token method refused with
    the reason, the version still readable, and no call at all into the token module."""
    print("frames of other origins: " + json.dumps(r, sort_keys=True))
    if r.get("timeout"):
        check(False, "the frames of other origins answered")
        return
    refused = "The page origin %s is not allowed to use the token"
    # The origin nobody was asked about: the first call finds no prompt to show, and the
    # origin is then held back without a prompt.
    expected = {
        "denied": (denied, [refused % denied] * 3),
        "unknown": (unknown, [refused % unknown + ": the permission prompt could not be shown"] +
                    [refused % unknown + " for now: its permission prompt was dismissed or could not be shown; "
                     "it is not shown again for "] * 2),
    }
    for frame, (origin, messages) in expected.items():
        calls = r[frame]["calls"]
        check(r[frame]["origin"] == origin, f"the {frame} frame is of {origin} ({r[frame]['origin']})")
        for method, message in zip(("present", "count", "repair"), messages):
            check(calls[method].get("threw") is True and calls[method].get("message", "").startswith(message),
                  f"{method} in the {frame} frame is refused for its own origin ({calls[method]})")
        check(calls["version"] == {"value": "1.1"}, f"the {frame} frame still reads the version")
    check(module_calls == 0, f"no call reached the token module for those frames ({module_calls})")


def check_probe(check, r, paths):
    print("probe: " + json.dumps(r, sort_keys=True))
    if r.get("timeout"):
        check(False, "the probe page finished")
        return
    check(r["rootIsElement"] is True, "\"onload\" gave the probe's root object")
    e = r["echo"]
    check(e == {"number": 1.5, "text": "x\u00e9\u4e2d", "yes": True, "nothing": None, "none": True,
                "big": 2147483648, "negative": -7}, f"values come back as they went ({e})")
    # Every number from script arrives as a double; functions and arrays are objects.
    t = r["types"]
    check(t == {"number": "double", "text": "string", "yes": "bool", "nothing": "null", "none": "undefined",
                "array": "object", "object": "object", "func": "object"}, f"the C++ types of script values ({t})")
    check(r["objectBack"] is True, "a page object given back is the same object")
    check(r["sum"] == 6.5 and r["sumEmpty"] == 0, f"arrays read as VariantList ({r['sum']}, {r['sumEmpty']})")
    # The framework converts no text to a number: the page hears of it.
    check(r["sumNested"].get("threw") is True, f"a string in a number array is refused ({r['sumNested']})")
    check(r["sumNotArray"].get("threw") is True, f"a number is no array ({r['sumNotArray']})")
    check(r["keys"] == ["alpha", "mid", "zeta"], f"objects read as VariantMap, keys in order ({r['keys']})")
    check(r["keysArray"] == ["0", "1"], f"an array read as a map has its indices ({r['keysArray']})")
    check(r["map"] == {"a": 1, "b": "two", "c0": 3, "c1": 4, "type": "object"},
          f"a VariantMap comes back as a script object ({r['map']})")
    check(r["callBack"] == 42, f"a page function called from C++ ({r['callBack']})")
    # QtWebKit's NPN_InvokeDefault answers true with void when the page function throws
    # (as its NPN_Evaluate does): the call gives undefined and the page's error is lost.
    check(r["callBackThrows"] == {"value": None}, f"a throwing page function gives undefined ({r['callBackThrows']})")
    check(r["callBackNotAFunction"].get("threw") is True, f"a number is no function ({r['callBackNotAFunction']})")
    check(r["callMethod"] == 42, f"a page object's method called from C++ ({r['callMethod']})")
    check(r["param"] == "handled ping" and r["paramCalls"] == ["ping"],
          f"the \"onprobe\" param is the page function it names ({r['param']}, {r['paramCalls']})")
    check(r["paramMissing"] == "text:noSuchPageFunction", f"an \"on\" param naming nothing ({r['paramMissing']})")
    check(r["paramPlain"] == "text:plain", f"another param stays text ({r['paramPlain']})")
    check(r["callLaterStarted"] is True and r.get("callLater") == [["sync", True, True], ["async", "from page", True]],
          f"a worker thread's calls run on the main thread, blocking then queued ({r.get('callLater')})")

    http = r["http"]
    check(r["httpStarted"] is True and http["success"] is True and http["bytes"] == len(DATA)
          and http["length"] == len(DATA), f"HTTP download through NPN_GetURLNotify ({http})")
    check(http["head"] == DATA[:64].hex(), "... its first bytes")
    check(http["order"] == "codC" and http["largestChunk"] <= 4096 and http["chunks"] >= len(DATA) // 4096,
          f"... opened, data in chunks of at most the buffer, completed ({http['order']}, {http['chunks']})")
    check(http["progressRises"] is True and 0 < http["firstProgress"] < 100 and http["lastProgress"] == 100,
          f"... progress rises to 100 ({http['firstProgress']} .. {http['lastProgress']})")
    check("200" in http["status"], f"... the response's status line ({http['status']!r})")
    f = r["file"]
    check(r["fileStarted"] is True and f["success"] is True and f["bytes"] == len(FILE_TEXT)
          and f["head"] == FILE_TEXT[:64].encode().hex() and f["largestChunk"] <= 1000 and f["lastProgress"] == 100,
          f"file: download ({f})")
    nf = r["notFound"]
    check(r["notFoundStarted"] is True and nf["success"] is False and nf["bytes"] == 0 and "404" in nf["status"],
          f"HTTP 404: opened with the error's headers, then completed without success ({nf})")
    mf = r["missingFile"]
    check(mf["success"] is False and mf["opened"] is False and mf["order"] == "cC",
          f"a missing file completes without success and never opens ({mf})")
    c = r["closed"]
    check(c["closedEarly"] is True and c["closeAnswer"] is True and c["success"] is False
          and 10000 <= c["bytes"] < len(BIG) and c["order"] == "codC",
          f"a stream closed early from its data event ({c})")
    af = r["asFile"]
    check(r["asFileStarted"] is True and af["success"] is True and af["bytes"] == len(DATA)
          and af["cacheFile"] != "", f"a download kept in a file names the file (NPP_StreamAsFile) ({af})")
    check(r["badBuffer"].get("threw") is True and "at least one byte" in r["badBuffer"].get("message", ""),
          f"a buffer size of 0 is refused with the host's message ({r['badBuffer']})")
    check(sorted(set(paths)) == ["/big.bin", "/data.bin", "/missing"], f"the server's requests ({paths})")


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--child":
        browse(sys.argv[2], sys.argv[3], sys.argv[4])
        return 0
    parser = argparse.ArgumentParser()
    for name in ("--plugin", "--probe", "--standin", "--companion-dir", "--softhsm", "--verifier"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    try:
        import PyQt5.QtWebKitWidgets  # noqa: F401
    except ImportError:
        print("QtWebKit for Python is missing: run tools/setup (libqt5webkit5 python3-pyqt5.qtwebkit)")
        return 1
    if not os.environ.get("DISPLAY"):
        print("no X display: run under xvfb-run -a")
        return 1

    failures = []

    def check(ok, text):
        print(("ok    " if ok else "FAIL  ") + text, flush=True)
        if not ok:
            failures.append(text)

    with tempfile.TemporaryDirectory(prefix="orvanta-browser-") as tmp:
        env = prepare(args, tmp)
        shutil.copy(os.path.join(HERE, "probe.html"), os.path.join(tmp, "probe.html"))
        with open(os.path.join(tmp, "probe-data.txt"), "w") as f:
            f.write(FILE_TEXT)
        server = Server()
        other = Server()
        for s in (server, other):
            threading.Thread(target=s.serve_forever, daemon=True).start()
        base = "http://127.0.0.1:%d" % server.server_address[1]
        denied = "http://127.0.0.1:%d" % other.server_address[1]
        unknown = "http://localhost:%d" % other.server_address[1]
        # The person allowed the test's own origin and denied the other server's; nobody
        # was asked about its localhost name, and no prompt can be shown.
        with open(env["ORVANTA_ALLOWED_ORIGINS"], "w") as f:
            f.write("allow %s\ndeny %s\n" % (base, denied))
        consent = base + "/consent.html?other=%d" % other.server_address[1]
        probe = "file://" + os.path.join(tmp, "probe.html") + f"?port={server.server_address[1]}"
        try:
            child = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", consent,
                                    base + "/page.html", probe], env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=240)
        finally:
            server.shutdown()
            other.shutdown()
        visits = []
        module_calls = None
        for line in child.stdout.splitlines():
            if line.startswith("RESULT "):
                visits.append(json.loads(line[len("RESULT "):]))
            elif line.startswith("MODULE_CALLS "):
                module_calls = int(line.split()[1])
            else:
                print("browser: " + line)
        check(child.returncode == 0, f"browser ended cleanly (status {child.returncode})")
        check(len(visits) == 4, f"the frames of other origins, the page twice (load and reload), then the probe "
                                f"page ({len(visits)})")
        if visits:
            check_consent(check, visits.pop(0), module_calls, denied, unknown)
        if len(visits) == 3:
            check_probe(check, visits.pop(), server.paths)
        for number, r in enumerate(visits):
            print(f"visit {number + 1}: " + json.dumps(r, sort_keys=True))
            if r.get("timeout"):
                check(False, f"visit {number + 1} finished")
                continue
            v = r["get_version"]
            check(isinstance(v, str) and v != "", f"get_version gives the version ({v!r})")
            check(r["version"] == v, "the version property equals get_version()")
            check(r["rootVersion"] == v, "\"onload\" got the root object")
            check(r["secondVersion"] == v and r["secondRootVersion"] == v, "the second instance answers too")
            check(r["loads"] == {"p1": 1, "p2": 1}, f"\"onload\" called once per instance ({r['loads']})")
            check(r["present"] is True, f"olvIsTokenPresentAndOK ({r['present']!r})")
            check(r["loggedInBefore"] is not True, f"not logged in at first ({r['loggedInBefore']!r})")
            check(r["login"] is True, f"olvUserLoginDlg with the companion's PIN ({r['login']!r})")
            check(r["loggedIn"] is True, f"olvIsUserLoggedIn after the login ({r['loggedIn']!r})")
            check(r["count"] == 1, f"one container after olvGenKeyPair ({r['count']!r}, {r['generate']!r})")
            check(r["name0"] == "browser", f"olvGetContainerName(0) ({r['name0']!r})")
            key, sig, rep = r["publicKey"], r["signature"], r["repair"]
            check(isinstance(key, str) and len(key) == 128, f"olvGetPublicKey gives 64 bytes ({key!r})")
            check(isinstance(sig, str) and len(sig) == 128, f"olvSign gives 64 bytes ({sig!r})")
            check(isinstance(rep, str) and len(rep) == 128, f"olvRepair gives 64 bytes ({rep!r})")
            if isinstance(key, str) and isinstance(sig, str):
                check(verify(args.verifier, key, r["hash"], sig), "Botan verifies olvSign's signature")
                other = r["hash"][:-1] + ("1" if r["hash"][-1] != "1" else "2")
                check(not verify(args.verifier, key, other, sig), "... and not for another hash")
            if isinstance(rep, str):
                check(verify(args.verifier, "--page-key", r["pageKey"], r["hash"], rep),
                      "Botan verifies olvRepair's signature with the page's key")
            check(isinstance(r["missingContainer"], (int, float)) and r["missingContainer"] < 0,
                  f"a missing container is a negative status ({r['missingContainer']!r})")
            check(r["tooMany"].get("message") == "Too many arguments, expected 1.",
                  "the framework's own message reaches the page")
            for case in ("tooFew", "tooMany", "noSuchMethod"):
                check(r[case].get("threw") is True, f"{case} reaches the page as an exception ({r[case]})")
            check(r["wrongType"].get("threw") is True or (isinstance(r["wrongType"].get("value"), (int, float))
                                                           and r["wrongType"]["value"] < 0),
                  f"a wrong argument type is refused ({r['wrongType']})")
            check(r["destroy"] is True and r["countAfter"] == 0,
                  f"olvDestroyContainer ({r['destroy']!r}, then {r['countAfter']!r})")
            check(r["logout"] is True and r["loggedInAfter"] is not True, f"olvLogout ({r['logout']!r})")
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
