#!/usr/bin/env python3
"""A page in headless Chromium calls every member of `orvanta` through the extension and
orvanta-host against a SoftHSM token (the olpkcs11xsg stand-in forwarding to it, the olvgui
companion double giving the PIN). Then the page moves to another origin, which the person
refuses: it gets rejections and the token module sees no call from it. The first page's
port closing ends its host and finalises the module.

usage: chromium_test.py --host FILE --extension DIR --standin FILE --companion-dir DIR
                        --softhsm PREFIX --pinentry FILE --verifier FILE --pages DIR
"""
import argparse
import base64
import hashlib
import http.server
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import unittest

TIMEOUT = 120
args = None


def extension_id(manifest_path):
    """Chromium's id of an extension with a key: SHA-256 of the key, first 32 hex digits, 0-f as a-p."""
    with open(manifest_path) as f:
        key = base64.b64decode(json.load(f)["key"])
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32])


class Results:
    def __init__(self):
        self.posted = {}
        self.changed = threading.Condition()

    def put(self, name, value):
        with self.changed:
            self.posted[name] = value
            self.changed.notify_all()

    def wait(self, name, timeout):
        end = time.monotonic() + timeout
        with self.changed:
            while name not in self.posted:
                left = end - time.monotonic()
                if left <= 0:
                    return None
                self.changed.wait(left)
            return self.posted[name]


def server_for(pages, results):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=pages, **kw)

        def translate_path(self, path):
            # /csp-sandboxed/<page> is <page>, served with a sandbox policy (end_headers).
            return super().translate_path(path.replace("/csp-sandboxed/", "/", 1))

        def end_headers(self):
            if self.path.startswith("/csp-sandboxed/"):
                self.send_header("Content-Security-Policy", "sandbox allow-scripts")
            super().end_headers()

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            results.put(self.path.rsplit("/", 1)[-1], json.loads(body or b"null"))
            self.send_response(204)
            self.end_headers()

        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def start_chromium(user_data, page, env, log, extension=None):
    """Chromium with the extension folder `extension` (the one under test when None; no
    extension at all when False)."""
    if extension is None:
        extension = args.extension
    with_extension = ["--load-extension=" + extension, "--disable-extensions-except=" + extension] if extension else []
    return subprocess.Popen(
        ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--no-default-browser-check", "--user-data-dir=" + user_data] + with_extension + [page],
        env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)


def prepare_host(folder):
    """orvanta-host copied into folder/host with the vendor module's stand-in and the olvgui
    companion double (which gives the token's user PIN) beside it, where it looks for them."""
    host_dir = os.path.join(folder, "host")
    os.makedirs(host_dir)
    host = os.path.join(host_dir, "orvanta-host")
    shutil.copy2(args.host, host)
    os.symlink(args.standin, os.path.join(host_dir, "olpkcs11xsg.so"))
    os.symlink(os.path.join(args.companion_dir, "olvgui.so"), os.path.join(host_dir, "olvgui.so"))
    return host


def make_token(folder, env):
    """A fresh SoftHSM token in folder/tokens; returns its configuration file."""
    tokens = os.path.join(folder, "tokens")
    os.makedirs(tokens)
    conf = os.path.join(folder, "softhsm2.conf")
    with open(conf, "w") as f:
        f.write("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n" % tokens)
    subprocess.run([os.path.join(args.softhsm, "bin", "softhsm2-util"), "--init-token", "--free",
                    "--label", "orvanta test", "--so-pin", "87654321", "--pin", "123456"],
                   env=dict(env, SOFTHSM2_CONF=conf), check=True, stdout=subprocess.DEVNULL, timeout=60)
    return conf


def stop_chromium(browser):
    try:
        os.killpg(browser.pid, signal.SIGTERM)
        browser.wait(timeout=20)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        os.killpg(browser.pid, signal.SIGKILL)
        browser.wait()


class ChromiumThroughTheExtension(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="orvanta-chromium-")
        folder = cls.folder
        cls.config = os.path.join(folder, "config")
        cls.host = prepare_host(folder)
        cls.softhsm_conf = make_token(folder, os.environ)
        env = dict(os.environ, SOFTHSM2_CONF=cls.softhsm_conf, XDG_CONFIG_HOME=cls.config, HOME=folder)

        # The host installs itself where Chromium looks (the user data dir below).
        install = subprocess.run([cls.host, "--install", "--browser", "chromium", "--user"], env=env,
                                 capture_output=True, text=True, timeout=60)
        cls.install_output = install
        cls.user_data = os.path.join(cls.config, "chromium")

        cls.results = Results()
        cls.server = server_for(args.pages, cls.results)
        port = cls.server.server_address[1]
        cls.allowed_origin = "http://127.0.0.1:%d" % port
        cls.denied_origin = "http://localhost:%d" % port
        os.makedirs(os.path.join(cls.config, "orvanta"), exist_ok=True)
        cls.origins_file = os.path.join(cls.config, "orvanta", "allowed-origins")
        with open(cls.origins_file, "w") as f:
            f.write("allow %s\n" % cls.allowed_origin)

        cls.standin_log = os.path.join(folder, "standin.log")
        cls.pinentry_log = os.path.join(folder, "pinentry.log")
        env.update({
            "ORVANTA_STANDIN_TARGET": os.path.join(args.softhsm, "lib", "softhsm", "libsofthsm2.so"),
            "ORVANTA_STANDIN_LOG": cls.standin_log,
            # The origin prompt: the scripted pinentry, whose person presses Enter (OK, which
            # denies).
            "ORVANTA_PINENTRY": args.pinentry, "PEER_CONFIRM": "yes", "PEER_LOG": cls.pinentry_log,
        })
        cls.env = env
        page = "%s/allowed.html?next=%s/denied.html" % (cls.allowed_origin, cls.denied_origin)
        cls.browser_log = open(os.path.join(folder, "chromium.log"), "w")
        cls.browser = start_chromium(cls.user_data, page, env, cls.browser_log)
        cls.allowed = cls.results.wait("allowed", TIMEOUT)
        cls.denied = cls.results.wait("denied", TIMEOUT if cls.allowed is not None else 1)
        # The first page's host ends once its port is closed; give it a moment.
        end = time.monotonic() + 15
        while time.monotonic() < end and "C_Finalize" not in cls.standin_calls_text():
            time.sleep(0.1)

    @classmethod
    def standin_calls_text(cls):
        try:
            with open(cls.standin_log) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    @classmethod
    def tearDownClass(cls):
        stop_chromium(cls.browser)
        cls.browser_log.close()
        cls.server.shutdown()
        cls.server.server_close()
        if os.environ.get("ORVANTA_KEEP_TEST_FOLDER"):
            print("kept", cls.folder)
        else:
            shutil.rmtree(cls.folder, ignore_errors=True)

    def browser_output(self):
        with open(os.path.join(self.folder, "chromium.log")) as f:
            return f.read()[-4000:]

    def test_the_host_installed_its_manifest_for_the_extensions_id(self):
        self.assertEqual(self.install_output.returncode, 0, self.install_output.stderr)
        path = os.path.join(self.user_data, "NativeMessagingHosts", "pelorima.orvanta.json")
        with open(path) as f:
            manifest = json.load(f)
        self.assertEqual(manifest["name"], "pelorima.orvanta")
        self.assertEqual(manifest["type"], "stdio")
        self.assertEqual(manifest["path"], self.host)
        ext_id = extension_id(os.path.join(args.extension, "manifest.json"))
        self.assertEqual(manifest["allowed_origins"], ["chrome-extension://%s/" % ext_id])

    def test_every_method_answers_the_plugins_values(self):
        self.assertIsNotNone(self.allowed, "the page posted no results\n" + self.browser_output())
        self.assertNotIn("crashed", self.allowed)
        failed = [c for c in self.allowed["cases"] if not c["ok"]]
        self.assertEqual(failed, [])
        self.assertGreaterEqual(len(self.allowed["cases"]), 35)

    def test_signatures_verify_with_botan(self):
        self.assertIsNotNone(self.allowed, "the page posted no results")
        self.assertEqual(len(self.allowed["signatures"]), 2)
        for s in self.allowed["signatures"]:
            with self.subTest(s["name"]):
                self.assertIsNotNone(s["signature"])
                ok = subprocess.run([args.verifier, s["mode"], s["key"], s["hash"], s["signature"]], timeout=60)
                self.assertEqual(ok.returncode, 0)
                # Not vacuous: another hash does not verify.
                other = "FF" + s["hash"][2:]
                bad = subprocess.run([args.verifier, s["mode"], s["key"], other, s["signature"]], timeout=60)
                self.assertEqual(bad.returncode, 1)

    def test_a_refused_origin_gets_rejections_and_the_token_no_call(self):
        self.assertIsNotNone(self.denied, "the second page posted no results\n" + self.browser_output())
        message = "The page origin %s is not allowed to use the token" % self.denied_origin
        self.assertEqual(self.denied, [{"rejected": message}] * 3)
        # Asked once, naming the origin; the no is remembered.
        with open(self.pinentry_log) as f:
            prompts = [line for line in f if line.startswith("CONFIRM")]
        self.assertEqual(len(prompts), 1)
        with open(self.pinentry_log) as f:
            self.assertIn(self.denied_origin, f.read())
        with open(self.origins_file) as f:
            self.assertIn("deny %s\n" % self.denied_origin, f.read())
        # Every module call came from the first page's host.
        pids = {line.split()[0] for line in self.standin_calls_text().splitlines()}
        self.assertEqual(len(pids), 1, pids)

    def test_closing_the_port_releases_the_module(self):
        calls = [line.split()[1] for line in self.standin_calls_text().splitlines()]
        self.assertIn("C_Initialize", calls)
        self.assertEqual(calls[-1], "C_Finalize", calls[-5:])
        self.assertEqual(calls.count("C_Initialize"), 1)

    def test_a_host_that_goes_away_rejects_every_waiting_call(self):
        # Another profile whose host manifest names a program that ends at once: the port
        # drops with three calls waiting, and each is rejected, once.
        user_data = os.path.join(self.folder, "gone")
        hosts = os.path.join(user_data, "NativeMessagingHosts")
        os.makedirs(hosts)
        with open(os.path.join(self.user_data, "NativeMessagingHosts", "pelorima.orvanta.json")) as f:
            manifest = json.load(f)
        manifest["path"] = shutil.which("true")
        with open(os.path.join(hosts, "pelorima.orvanta.json"), "w") as f:
            json.dump(manifest, f)
        with open(os.path.join(self.folder, "gone.log"), "w") as log:
            browser = start_chromium(user_data, self.allowed_origin + "/denied.html?report=gone", self.env, log)
            try:
                answers = self.results.wait("gone", TIMEOUT)
            finally:
                stop_chromium(browser)
        self.assertIsNotNone(answers, "the page posted no results")
        self.assertEqual(len(answers), 3)
        for answer in answers:
            self.assertTrue(answer.get("rejected", "").startswith("The orvanta host is not available: "), answer)

    def test_sandboxed_documents_of_an_allowed_site_cannot_use_the_token(self):
        # A sandbox iframe and a page served with a CSP sandbox, both from the allowed origin:
        # their origin is opaque, and they must not pass as the site their URL names.
        self.assertIsNotNone(self.denied, "the earlier pages posted no results\n" + self.browser_output())
        calls_before = self.standin_calls_text()
        with open(self.pinentry_log) as f:
            prompts_before = f.read()
        user_data = os.path.join(self.folder, "opaque")
        hosts = os.path.join(user_data, "NativeMessagingHosts")
        os.makedirs(hosts)
        shutil.copy2(os.path.join(self.user_data, "NativeMessagingHosts", "pelorima.orvanta.json"), hosts)
        with open(os.path.join(self.folder, "opaque.log"), "w") as log:
            browser = start_chromium(user_data, self.allowed_origin + "/opaque.html", self.env, log)
            try:
                reports = {name: self.results.wait(name, TIMEOUT) for name in ("sandboxed-iframe", "csp-sandboxed")}
            finally:
                stop_chromium(browser)
        message = ("This page has no origin of its own (a sandboxed document or a local file): "
                   "it cannot use the token")
        for name, report in reports.items():
            with self.subTest(name):
                self.assertIsNotNone(report, "the frame posted no results")
                self.assertEqual(report["origin"], "null")
                self.assertEqual(report["results"], [{"rejected": message}] * 3)
        # No host ran for them: the token module saw no call and nobody was asked.
        self.assertEqual(self.standin_calls_text(), calls_before)
        with open(self.pinentry_log) as f:
            self.assertEqual(f.read(), prompts_before)

    def test_round_trip_time(self):
        self.assertIsNotNone(self.allowed, "the page posted no results")
        timing = self.allowed["timing"]
        trips = timing["roundTripsMs"]
        print("\nget_version page -> host -> page: first call %.1f ms (starts the host), then median %.2f ms,"
              " min %.2f ms, max %.2f ms over %d calls"
              % (timing["firstCallMs"], statistics.median(trips), min(trips), max(trips), len(trips)))
        self.assertEqual(len(trips), 30)


def main():
    global args
    parser = argparse.ArgumentParser()
    for option in ("--host", "--extension", "--standin", "--companion-dir", "--softhsm", "--pinentry",
                   "--verifier", "--pages"):
        parser.add_argument(option, required=True)
    args, rest = parser.parse_known_args()
    if shutil.which("chromium") is None:
        print("chromium is not installed (tools/setup installs it)")
        sys.exit(1)
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    result = program.result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
