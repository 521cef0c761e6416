#!/usr/bin/env python3
"""The page-level suite (browser_suite.py) in headless Chromium with the unpacked extension.

usage: chromium_test.py --host FILE --extension DIR --standin FILE --companion-dir DIR
                        --softhsm PREFIX --pinentry FILE --verifier FILE --pages DIR
"""
import base64
import hashlib
import json
import os
import unittest

import browser_suite


def extension_id(manifest_path):
    """Chromium's id of an extension with a key: SHA-256 of the key, first 32 hex digits, 0-f as a-p."""
    with open(manifest_path) as f:
        key = base64.b64decode(json.load(f)["key"])
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32])


class ChromiumThroughTheExtension(browser_suite.Suite, unittest.TestCase):
    NAME = "chromium"
    NO_HOST_REASON = "Specified native messaging host not found."
    HOST_EXITED = "Native host has exited."

    @classmethod
    def install_path(cls):
        # --install --user writes into the default user data dir under XDG_CONFIG_HOME.
        return os.path.join(cls.config, "chromium", "NativeMessagingHosts", "pelorima.orvanta.json")

    @classmethod
    def expected_manifest_fields(cls):
        ext_id = extension_id(os.path.join(browser_suite.args.extension, "manifest.json"))
        return {"allowed_origins": ["chrome-extension://%s/" % ext_id]}

    @classmethod
    def open_page(cls, name, pages, manifest, log):
        if name == "main":
            # The profile --install wrote into.
            user_data = os.path.join(cls.config, "chromium")
        else:
            user_data = os.path.join(cls.folder, name)
            hosts = os.path.join(user_data, "NativeMessagingHosts")
            os.makedirs(hosts)
            if manifest is cls.INSTALLED:
                with open(cls.install_path()) as f:
                    manifest = json.load(f)
            if manifest is not None:
                with open(os.path.join(hosts, "pelorima.orvanta.json"), "w") as f:
                    json.dump(manifest, f)
        extension = browser_suite.args.extension
        return browser_suite.start_process(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--no-default-browser-check", "--user-data-dir=" + user_data,
             "--load-extension=" + extension, "--disable-extensions-except=" + extension] + pages,
            cls.env, log)

    @staticmethod
    def system_manifest():
        path = "/etc/chromium/native-messaging-hosts/pelorima.orvanta.json"
        return path if os.path.exists(path) else None


if __name__ == "__main__":
    browser_suite.main("chromium", ["--extension"])
