"""A Firefox profile that runs orvanta as it is delivered: the .xpi tools/package xpi builds,
placed in the profile's extensions folder under the add-on's id. No remote protocol is
needed: two preferences let an unsigned add-on there load, enabled (Firefox ESR honours
both; release Firefox ignores the first). Used by tools/demo --firefox, the benchmark and the
Firefox test."""
import json
import os
import shutil
import subprocess

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXTENSION_ID = "orvanta@pelorima"

PREFERENCES = {
    # Not signed by Mozilla, and found in the profile rather than installed by the person:
    # loaded, and enabled without asking.
    "xpinstall.signatures.required": False,
    "extensions.autoDisableScopes": 0,
    # A quiet first start: no default-browser question, no welcome or update pages, nothing
    # fetched or sent.
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "startup.homepage_welcome_url": "",
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.update.disabledForTesting": True,
    "browser.region.network.url": "",
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
}


def build_xpi(folder):
    """tools/package xpi into `folder`; returns the file's path."""
    built = subprocess.run(["bash", os.path.join(TOP, "tools", "packaging", "xpi"), folder],
                           capture_output=True, text=True, timeout=120)
    if built.returncode != 0:
        raise RuntimeError("tools/package xpi failed: " + built.stderr)
    return built.stdout.strip().splitlines()[-1]


def write_profile(profile, xpi):
    os.makedirs(os.path.join(profile, "extensions"))
    shutil.copy2(xpi, os.path.join(profile, "extensions", EXTENSION_ID + ".xpi"))
    with open(os.path.join(profile, "user.js"), "w") as f:
        for name, value in PREFERENCES.items():
            f.write("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value)))


def command(profile, urls):
    return ["firefox-esr", "--headless", "--no-remote", "--profile", profile] + list(urls)
