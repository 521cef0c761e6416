"""The page-level suite every browser walks: a page calls every member of `orvanta` through the
extension and orvanta-host against a SoftHSM token (the olpkcs11xsg stand-in forwarding to it,
the olvgui companion double giving the PIN). Then the page moves to another origin, which the
person refuses: it gets rejections and the token module sees no call from it. The first
page's port closing ends its host and finalises the module. Further runs in fresh profiles:
no host installed, a host that ends at once, sandboxed documents, a local file.

A browser's driver (chromium_test.py, firefox_test.py) subclasses Suite with how to install
the host for it, how to open a page in a fresh profile, and the reasons the browser gives when
the host is missing or ends; main() runs it.
"""
import argparse
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


def start_process(command, env, log):
    return subprocess.Popen(command, env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)


def stop_process(browser):
    if browser is None:
        return
    try:
        os.killpg(browser.pid, signal.SIGTERM)
        browser.wait(timeout=20)
    except ProcessLookupError:
        browser.wait()
    except subprocess.TimeoutExpired:
        os.killpg(browser.pid, signal.SIGKILL)
        browser.wait()


def process_ended(pid):
    """Gone, or a zombie nobody has reaped yet: either way it runs no more."""
    try:
        with open("/proc/%s/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return True


def prepare_host(folder):
    """orvanta-host copied into folder/host with the vendor module's stand-in and the olvgui
    companion double (which gives the token's user PIN) beside it: the host looks for both in
    its own folder."""
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


def remove_test_folder(folder):
    """A run's temporary folder goes, unless ORVANTA_KEEP_TEST_FOLDER asks to look at it."""
    if os.environ.get("ORVANTA_KEEP_TEST_FOLDER"):
        print("kept", folder)
    else:
        shutil.rmtree(folder, ignore_errors=True)


class Suite:
    """Mixed into a unittest.TestCase by each browser's driver, which provides:

    NAME             the browser's name for logs and `orvanta-host --install --browser`
    NO_HOST_REASON   what the browser says when no host manifest is found
    HOST_EXITED      what it says when the host ends without answering
    install_path()   the file `orvanta-host --install --user` wrote for this browser
    expected_manifest_fields()  what that file says about who may start the host
    open_page(name, pages, manifest, log)
                     a browser in a fresh profile `name` showing `pages` (URLs); the host
                     manifest is the installed one when `manifest` is INSTALLED, none when
                     None, else the given dict; returns the process
    """
    INSTALLED = "installed"

    @classmethod
    def prepare(cls):
        """Browser work before the first page (building what it loads)."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="orvanta-%s-" % cls.NAME)
        folder = cls.folder
        cls.config = os.path.join(folder, "config")
        cls.host = prepare_host(folder)
        cls.softhsm_conf = make_token(folder, os.environ)
        env = dict(os.environ, SOFTHSM2_CONF=cls.softhsm_conf, XDG_CONFIG_HOME=cls.config, HOME=folder)

        # The host installs itself where the browser looks, as a person would install it.
        cls.install_output = subprocess.run([cls.host, "--install", "--browser", cls.NAME, "--user"], env=env,
                                            capture_output=True, text=True, timeout=60)

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
        cls.browser = None
        cls.browser_log = open(os.path.join(folder, cls.NAME + ".log"), "w")
        cls.prepare()
        page = "%s/allowed.html?next=%s/denied.html" % (cls.allowed_origin, cls.denied_origin)
        cls.browser = cls.open_page("main", [page], cls.INSTALLED, cls.browser_log)
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
        stop_process(cls.browser)
        cls.browser_log.close()
        cls.server.shutdown()
        cls.server.server_close()
        remove_test_folder(cls.folder)

    def browser_output(self, name=None):
        path = os.path.join(self.folder, (name or self.NAME) + ".log")
        with open(path, errors="replace") as f:
            return f.read()[-4000:]

    def installed_manifest(self):
        with open(self.install_path()) as f:
            return json.load(f)

    def run_in_fresh_profile(self, name, pages, manifest, reports):
        """Opens `pages` in a browser of its own and waits for each report they post."""
        with open(os.path.join(self.folder, name + ".log"), "w") as log:
            browser = self.open_page(name, pages, manifest, log)
            try:
                return {report: self.results.wait(report, TIMEOUT) for report in reports}
            finally:
                stop_process(browser)

    def test_the_host_installed_its_manifest_for_the_extension(self):
        self.assertEqual(self.install_output.returncode, 0, self.install_output.stderr)
        manifest = self.installed_manifest()
        self.assertEqual(manifest["name"], "pelorima.orvanta")
        self.assertEqual(manifest["type"], "stdio")
        self.assertEqual(manifest["path"], self.host)
        for field, value in self.expected_manifest_fields().items():
            self.assertEqual(manifest.get(field), value, field)

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

    def test_closing_the_port_releases_the_module_and_ends_the_host(self):
        lines = self.standin_calls_text().splitlines()
        calls = [line.split()[1] for line in lines]
        self.assertIn("C_Initialize", calls)
        self.assertEqual(calls[-1], "C_Finalize", calls[-5:])
        self.assertEqual(calls.count("C_Initialize"), 1)
        # The browser is still running, showing the next page; the first page's host is not.
        host_pid = lines[0].split()[0]
        end = time.monotonic() + 15
        while time.monotonic() < end and not process_ended(host_pid):
            time.sleep(0.1)
        self.assertIsNone(self.browser.poll())
        self.assertTrue(process_ended(host_pid), "orvanta-host %s still runs" % host_pid)

    def test_the_page_is_told_why_the_host_cannot_serve_it(self):
        # Three calls waiting as the port drops; each is rejected, once, with the browser's
        # own reason. No host installed: the profile has no host manifest. A host that ends
        # at once: the manifest names a program that exits.
        gone = dict(self.installed_manifest(), path=shutil.which("true"))
        cases = [("no-host", None, self.NO_HOST_REASON), ("host-exits", gone, self.HOST_EXITED)]
        for name, manifest, reason in cases:
            with self.subTest(name):
                if manifest is None and self.system_manifest():
                    self.skipTest("this machine has a system-wide host manifest: %s" % self.system_manifest())
                page = self.allowed_origin + "/denied.html?report=" + name
                answers = self.run_in_fresh_profile(name, [page], manifest, [name])[name]
                self.assertIsNotNone(answers, "the page posted no results\n" + self.browser_output(name))
                self.assertEqual(answers, [{"rejected": "The orvanta host is not available: " + reason}] * 3)

    def test_sandboxed_documents_of_an_allowed_site_cannot_use_the_token(self):
        # A sandbox iframe and a page served with a CSP sandbox, both from the allowed origin:
        # their origin is opaque, and they must not pass as the site their URL names.
        self.assertIsNotNone(self.denied, "the earlier pages posted no results\n" + self.browser_output())
        calls_before = self.standin_calls_text()
        with open(self.pinentry_log) as f:
            prompts_before = f.read()
        reports = self.run_in_fresh_profile("opaque", [self.allowed_origin + "/opaque.html"], self.INSTALLED,
                                            ["sandboxed-iframe", "csp-sandboxed"])
        message = ("This page has no origin of its own (a sandboxed document or a local file): "
                   "it cannot use the token")
        for name, report in reports.items():
            with self.subTest(name):
                self.assertIsNotNone(report, "the frame posted no results\n" + self.browser_output("opaque"))
                self.assertEqual(report["origin"], "null")
                self.assertEqual(report["results"], [{"rejected": message}] * 3)
        # No host ran for them: the token module saw no call and nobody was asked.
        self.assertEqual(self.standin_calls_text(), calls_before)
        with open(self.pinentry_log) as f:
            self.assertEqual(f.read(), prompts_before)

    def test_a_local_file_gets_no_orvanta_object(self):
        # Both browsers alike: the extension's scripts are not in file: pages at all. The page
        # itself runs (it reports) and finds neither the object nor its ready event.
        page = "file://%s/file-page.html?report=%s/results/file-page" % (
            os.path.abspath(args.pages), self.allowed_origin)
        report = self.run_in_fresh_profile("file-page", [page], self.INSTALLED, ["file-page"])["file-page"]
        self.assertIsNotNone(report, "the file page posted no results\n" + self.browser_output("file-page"))
        self.assertEqual(report, {"protocol": "file:", "orvanta": "undefined", "ready": False})

    def test_round_trip_time(self):
        self.assertIsNotNone(self.allowed, "the page posted no results")
        timing = self.allowed["timing"]
        trips = timing["roundTripsMs"]
        print("\n%s: get_version page -> host -> page: first call %.1f ms (starts the host), then median %.2f ms,"
              " min %.2f ms, max %.2f ms over %d calls"
              % (self.NAME, timing["firstCallMs"], statistics.median(trips), min(trips), max(trips), len(trips)))
        self.assertEqual(len(trips), 30)

    @staticmethod
    def system_manifest():
        """A system-wide manifest the browser would find when the profile has none (the
        installed package's)."""
        return None


def main(program, extra_options=()):
    """Parses the common options (and the driver's own), then runs the driver's suite."""
    global args
    parser = argparse.ArgumentParser()
    for option in ("--host", "--standin", "--companion-dir", "--softhsm", "--pinentry", "--verifier",
                   "--pages") + tuple(extra_options):
        parser.add_argument(option, required=True)
    args, rest = parser.parse_known_args()
    if shutil.which(program) is None:
        print("%s is not installed (tools/setup installs it)" % program)
        sys.exit(1)
    run = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    result = run.result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed, %d skipped" % (result.testsRun - failed - len(result.skipped), failed,
                                                len(result.skipped)))
    sys.exit(0 if result.wasSuccessful() else 1)
