#!/usr/bin/env python3
"""The page-level suite (browser_suite.py) in headless Firefox ESR with the extension as it
is delivered: the .xpi tools/package xpi builds, placed in each test profile's extensions
folder under its Firefox id (tools/firefox_profile.py). That needs no remote protocol and no
driver, only two preferences. The host manifest goes where Firefox reads it, under
$HOME/.mozilla/native-messaging-hosts/ (a temporary HOME for each profile).

usage: firefox_test.py --host FILE --extension-source DIR --standin FILE --companion-dir DIR
                       --softhsm PREFIX --pinentry FILE --verifier FILE --pages DIR
"""
import glob
import json
import os
import shutil
import sys
import unittest
import zipfile

import browser_suite

# The profile, its preferences and the .xpi are tools/demo --firefox's too.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import firefox_profile  # noqa: E402

EXTENSION_ID = firefox_profile.EXTENSION_ID


class FirefoxThroughTheExtension(browser_suite.Suite, unittest.TestCase):
    NAME = "firefox"
    NO_HOST_REASON = "No such native application pelorima.orvanta"
    # A host that ends leaves no error on Firefox's port: the extension's own words.
    HOST_EXITED = "it closed the connection"

    @classmethod
    def prepare(cls):
        cls.xpi = firefox_profile.build_xpi(os.path.join(cls.folder, "packages"))

    @classmethod
    def install_path(cls):
        return os.path.join(cls.folder, ".mozilla", "native-messaging-hosts", "pelorima.orvanta.json")

    @classmethod
    def expected_manifest_fields(cls):
        return {"allowed_extensions": [EXTENSION_ID]}

    @classmethod
    def open_page(cls, name, pages, manifest, log):
        env = dict(cls.env, MOZ_HEADLESS="1")
        if name != "main":
            # Firefox reads a user's host manifests under HOME: each run has its own.
            home = os.path.join(cls.folder, name)
            hosts = os.path.join(home, ".mozilla", "native-messaging-hosts")
            os.makedirs(hosts)
            if manifest is cls.INSTALLED:
                shutil.copy2(cls.install_path(), hosts)
            elif manifest is not None:
                with open(os.path.join(hosts, "pelorima.orvanta.json"), "w") as f:
                    json.dump(manifest, f)
            env["HOME"] = home
        profile = os.path.join(cls.folder, "profile-" + name)
        firefox_profile.write_profile(profile, cls.xpi)
        return browser_suite.start_process(firefox_profile.command(profile, pages), env, log)

    @staticmethod
    def system_manifest():
        found = [p for d in ("/usr/lib/mozilla", "/usr/lib64/mozilla")
                 for p in glob.glob(d + "/native-messaging-hosts/pelorima.orvanta.json")]
        return found[0] if found else None

    def test_the_delivered_file_is_what_the_browser_loaded(self):
        # The add-on Firefox ran is the packaged one: its manifest has no Chromium key, and
        # Firefox recorded it under its id, enabled, from the profile.
        with zipfile.ZipFile(self.xpi) as archive:
            manifest = json.loads(archive.read("manifest.json"))
            self.assertNotIn("key", manifest)
            self.assertEqual(archive.namelist()[0], "manifest.json")
        with open(os.path.join(browser_suite.args.extension_source, "manifest.json")) as f:
            source = json.load(f)
        self.assertIn("key", source)
        self.assertEqual(manifest, {k: v for k, v in source.items() if k != "key"})
        self.assertTrue(self.xpi.endswith("orvanta-%s.xpi" % source["version"]), self.xpi)
        with open(os.path.join(self.folder, "profile-main", "extensions.json")) as f:
            addons = {a["id"]: a for a in json.load(f)["addons"]}
        self.assertIn(EXTENSION_ID, addons)
        self.assertTrue(addons[EXTENSION_ID]["active"])
        self.assertEqual(addons[EXTENSION_ID]["version"], source["version"])


if __name__ == "__main__":
    browser_suite.main("firefox-esr", ["--extension-source"])
