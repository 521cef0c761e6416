#!/usr/bin/env python3
"""Orvanta.status() (orvanta.js) in headless Chromium, one browser profile per installation
state: no extension, the extension without orvanta-host, a host of another version than the
extension, an origin the person refused, and everything in place with a token. The browser,
host and token harness is browser_suite.py's.

usage: chromium_status_test.py --host FILE --extension DIR --standin FILE --companion-dir DIR
                               --softhsm PREFIX --pagelib DIR
"""
import argparse
import json
import os
import shutil
import sys
import subprocess
import tempfile
import unittest

import browser_suite as harness

HERE = os.path.dirname(os.path.abspath(__file__))
args = None


def chromium_command(user_data, page, extension=None):
    """Headless Chromium with the extension folder `extension` (the one under test when None;
    no extension at all when False)."""
    if extension is None:
        extension = args.extension
    with_extension = ["--load-extension=" + extension, "--disable-extensions-except=" + extension] if extension else []
    return ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
            "--no-default-browser-check", "--user-data-dir=" + user_data] + with_extension + [page]


class StatusInChromium(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="orvanta-chromium-status-")
        folder = cls.folder
        cls.config = os.path.join(folder, "config")
        cls.host = harness.prepare_host(folder)
        softhsm_conf = harness.make_token(folder, os.environ)
        cls.standin_log = os.path.join(folder, "standin.log")
        cls.pinentry_log = os.path.join(folder, "pinentry.log")
        cls.env = dict(os.environ, SOFTHSM2_CONF=softhsm_conf, XDG_CONFIG_HOME=cls.config, HOME=folder,
                       ORVANTA_STANDIN_TARGET=os.path.join(args.softhsm, "lib", "softhsm", "libsofthsm2.so"),
                       ORVANTA_STANDIN_LOG=cls.standin_log,
                       # Any prompt at all would be written here (and answered with a no).
                       ORVANTA_PINENTRY=os.path.join(HERE, "..", "pin", "scripted-pinentry.sh"),
                       PEER_LOG=cls.pinentry_log)
        install = subprocess.run([cls.host, "--install", "--browser", "chromium", "--user"], env=cls.env,
                                         capture_output=True, text=True, timeout=60)
        assert install.returncode == 0, install.stderr
        cls.manifest = os.path.join(cls.config, "chromium", "NativeMessagingHosts", "pelorima.orvanta.json")

        pages = os.path.join(folder, "pages")
        os.makedirs(pages)
        os.symlink(os.path.join(HERE, "status-page", "status.html"), os.path.join(pages, "status.html"))
        os.symlink(os.path.join(args.pagelib, "orvanta.js"), os.path.join(pages, "orvanta.js"))
        cls.results = harness.Results()
        cls.server = harness.server_for(pages, cls.results)
        port = cls.server.server_address[1]
        cls.allowed_origin = "http://127.0.0.1:%d" % port
        cls.refused_origin = "http://localhost:%d" % port
        os.makedirs(os.path.join(cls.config, "orvanta"))
        with open(os.path.join(cls.config, "orvanta", "allowed-origins"), "w") as f:
            f.write("allow %s\ndeny %s\n" % (cls.allowed_origin, cls.refused_origin))

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()
        harness.remove_test_folder(cls.folder)

    def status(self, name, origin=None, host_manifest=True, extension=None):
        """The state a status page of `origin` posts in a fresh profile (with the host's
        manifest unless told otherwise)."""
        user_data = os.path.join(self.folder, "profile-" + name)
        if host_manifest:
            hosts = os.path.join(user_data, "NativeMessagingHosts")
            os.makedirs(hosts)
            shutil.copy2(self.manifest, hosts)
        page = "%s/status.html?name=%s" % (origin or self.allowed_origin, name)
        with open(os.path.join(self.folder, name + ".log"), "w") as log:
            browser = harness.start_process(chromium_command(user_data, page, extension), self.env, log)
            try:
                state = self.results.wait(name, harness.TIMEOUT)
            finally:
                harness.stop_process(browser)
        self.assertIsNotNone(state, "the page posted nothing; the browser said:\n" + self.browser_log(name))
        self.assertNotIn("rejected", state)
        return state

    def browser_log(self, name):
        with open(os.path.join(self.folder, name + ".log")) as f:
            return f.read()[-3000:]

    def standin_calls(self):
        try:
            with open(self.standin_log) as f:
                return [line.split()[1] for line in f if len(line.split()) > 1]
        except FileNotFoundError:
            return []

    def assertNobodyWasAsked(self):
        self.assertFalse(os.path.exists(self.pinentry_log) and open(self.pinentry_log).read().strip(),
                         "a prompt was shown")

    def test_no_extension(self):
        state = self.status("no-extension", extension=False)
        self.assertEqual(state["code"], "not-installed")
        self.assertIsNone(state["via"])
        self.assertEqual(state["install"]["browser"], "chromium")
        self.assertEqual(state["install"]["command"], "sudo apt install ./orvanta_1.1.0_amd64.deb")
        self.assertIn(state["install"]["text"], state["message"])

    def test_extension_without_host(self):
        state = self.status("no-host", host_manifest=False)
        self.assertEqual((state["code"], state["via"]), ("host-missing", "extension"))
        self.assertEqual(state["detail"], "Specified native messaging host not found.")

    def test_host_of_another_version(self):
        # The same extension (the same key, so the id the host's manifest allows) carrying
        # another version.
        other = os.path.join(self.folder, "extension-1.0.9")
        shutil.copytree(args.extension, other)
        with open(os.path.join(other, "manifest.json")) as f:
            manifest = json.load(f)
        manifest["version"] = "1.0.9"
        with open(os.path.join(other, "manifest.json"), "w") as f:
            json.dump(manifest, f)
        state = self.status("other-version", extension=other)
        self.assertEqual(state["code"], "version-mismatch")
        with open(os.path.join(args.extension, "manifest.json")) as f:
            host_version = json.load(f)["version"]
        self.assertEqual(state["versions"], {"extension": "1.0.9", "host": host_version})
        self.assertEqual(state["detail"], "extension 1.0.9, orvanta-host %s" % host_version)

    def test_refused_origin(self):
        calls_before = len(self.standin_calls())
        state = self.status("refused", origin=self.refused_origin)
        self.assertEqual(state["code"], "origin-refused")
        self.assertEqual(state["detail"], "The page origin %s is not allowed to use the token" % self.refused_origin)
        # The refused page's host never loaded the token module.
        self.assertEqual(len(self.standin_calls()), calls_before)
        self.assertNobodyWasAsked()

    def test_ready(self):
        state = self.status("ready")
        self.assertEqual((state["code"], state["via"]), ("ready", "extension"), state)
        self.assertEqual(state["message"], "orvanta is ready.")
        # The token was looked for, never logged in to or opened.
        calls = self.standin_calls()
        self.assertIn("C_GetSlotList", calls)
        for call in ("C_Login", "C_OpenSession", "C_Sign", "C_FindObjectsInit"):
            self.assertNotIn(call, calls)
        self.assertNobodyWasAsked()


def main():
    global args
    parser = argparse.ArgumentParser()
    for option in ("--host", "--extension", "--standin", "--companion-dir", "--softhsm", "--pagelib"):
        parser.add_argument(option, required=True)
    args, rest = parser.parse_known_args()
    harness.args = args
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
