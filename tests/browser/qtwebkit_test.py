#!/usr/bin/python3
"""The built nporvanta.so in a real NPAPI browser: QtWebKit through PyQt5, under the X
display the caller provides (xvfb-run). A temporary plug-in folder holds the module and the
olpkcs11xsg stand-in, which forwards to a fresh SoftHSM token; the PIN comes from the
olvgui companion double. The page's own script drives the plug-in (page.html); this
harness checks what the page saw, verifies the signatures with Botan (gost_verify), then
reloads the page and navigates away.

  qtwebkit_test.py --plugin SO --standin SO --companion-dir DIR --softhsm PREFIX --verifier EXE
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
USER_PIN = "123456"
SO_PIN = "87654321"


def prepare(args, tmp):
    plugins = os.path.join(tmp, "plugins")
    tokens = os.path.join(tmp, "tokens")
    os.makedirs(plugins)
    os.makedirs(tokens)
    shutil.copy(args.plugin, os.path.join(plugins, "nporvanta.so"))
    shutil.copy(args.standin, os.path.join(plugins, "olpkcs11xsg.so"))
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
        # The companion double answers the PIN; no pinentry may open a box.
        "LD_LIBRARY_PATH": args.companion_dir + (":" + env["LD_LIBRARY_PATH"] if env.get("LD_LIBRARY_PATH") else ""),
        "ORVANTA_OLVGUI_PIN": USER_PIN,
        "ORVANTA_PINENTRY": "/nonexistent/pinentry",
    })
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    os.makedirs(env["XDG_CACHE_HOME"])
    util = os.path.join(args.softhsm, "bin", "softhsm2-util")
    subprocess.run([util, "--init-token", "--free", "--label", "orvanta test", "--so-pin", SO_PIN,
                    "--pin", USER_PIN], env=env, check=True, stdout=subprocess.DEVNULL)
    return env


def browse(page):
    """The child: loads the page, waits for its results, reloads, navigates away. Prints one
    JSON line per page visit."""
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
        if len(visits) == 1:
            view.reload()
        else:
            timer.stop()
            view.setUrl(QUrl("about:blank"))
            QTimer.singleShot(500, lambda: app.exit(0))

    timer = QTimer()
    timer.timeout.connect(poll)
    timer.start(100)
    view.setUrl(QUrl.fromLocalFile(page))
    code = app.exec_()
    view.close()
    del view
    sys.exit(code)


def verify(verifier, *args):
    return subprocess.run([verifier, *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT).returncode == 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--child":
        browse(sys.argv[2])
        return 0
    parser = argparse.ArgumentParser()
    for name in ("--plugin", "--standin", "--companion-dir", "--softhsm", "--verifier"):
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
        page = os.path.join(tmp, "page.html")
        shutil.copy(os.path.join(HERE, "page.html"), page)
        child = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", page], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=240)
        visits = []
        for line in child.stdout.splitlines():
            if line.startswith("RESULT "):
                visits.append(json.loads(line[len("RESULT "):]))
            else:
                print("browser: " + line)
        check(child.returncode == 0, f"browser ended cleanly (status {child.returncode})")
        check(len(visits) == 2, f"the page ran twice: load and reload ({len(visits)})")
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
