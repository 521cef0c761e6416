#!/usr/bin/env python3
"""The built Windows installer read back on Linux with msitools: the product's version and
fixed upgrade code, a major upgrade, the per-machine default with per-user on request,
the components and their registry views, every registry row under the root that follows
the install's scope and equal to the rows generated from the DLL's registry scripts now,
no self-registration, and the files in the cabinet (each DLL's machine and version).

usage: msi_tables_test.py MSI ORV-MSI-ROWS SOURCE-TREE
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

MSI = ROWS = TOP = None
UPGRADE_CODE = "{209BCA8A-2FA0-4548-BD9A-5099D0EEB3C7}"
APPID = "{B5F04C39-2E7A-4D18-9B6C-E13A7F520D94}"
LIBID = "{4E8D2A17-C6B3-4F90-A5E1-7B2D9C0F3A68}"


def table(name):
    text = subprocess.run(["msiinfo", "export", MSI, name], capture_output=True, text=True, check=True).stdout
    lines = [line.rstrip("\r") for line in text.split("\n")]
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[3:] if line]


def generated(module, only=None):
    """The rows orv-msi-rows writes now, as (key, name, value) like the Registry table holds them."""
    command = [ROWS, "registry", "--var", "APPID=" + APPID, "--var", "LIBID=" + LIBID, "--var", "THREADING=Apartment",
               "--var", "MODULE=[#%s]" % module]
    if only:
        command += ["--only", only]
    command += [os.path.join(TOP, "projects/nporvanta/Win", f) for f in ("PluginWin.rgs", "FBControl.rgs")]
    out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    rows = []
    for line in out.splitlines():
        m = re.match(r'<RegistryValue Root="HKMU" Key="([^"]*)"(?: Name="([^"]*)")? Type="(string|integer)" '
                     r'Value="([^"]*)"', line)
        value = m.group(4).replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"')
        if m.group(3) == "integer":
            value = "#" + value
        rows.append((m.group(1), m.group(2) or "", value))
    return sorted(rows)


class Tables(unittest.TestCase):
    def test_product_version_upgrade_and_scope(self):
        properties = {p["Property"]: p["Value"] for p in table("Property")}
        with open(os.path.join(TOP, "projects/orvanta/extension/manifest.json")) as f:
            version = json.load(f)["version"]
        self.assertEqual(properties["ProductVersion"], version)
        self.assertEqual(properties["UpgradeCode"], UPGRADE_CODE)
        self.assertEqual(properties["ProductName"], "orvanta")
        # Per machine unless MSIINSTALLPERUSER=1 (Windows reads that only with ALLUSERS=2).
        self.assertEqual(properties["ALLUSERS"], "2")
        upgrades = table("Upgrade")
        self.assertTrue(all(u["UpgradeCode"] == UPGRADE_CODE for u in upgrades))
        older = [u for u in upgrades if u["VersionMax"] == version and not u["VersionMin"]]
        self.assertEqual(len(older), 1, upgrades)
        self.assertIn("RemoveExistingProducts", [a["Action"] for a in table("InstallExecuteSequence")])
        summary = subprocess.run(["msiinfo", "suminfo", MSI], capture_output=True, text=True, check=True).stdout
        self.assertIn("Template: x64;1033", summary)

    def test_components_and_views(self):
        components = {c["Component"]: c for c in table("Component")}
        self.assertEqual(set(components), {"Plugin64", "Host", "Plugin32", "Plugin32Machine"})
        for name, bits64 in [("Plugin64", True), ("Host", True), ("Plugin32", False), ("Plugin32Machine", False)]:
            self.assertEqual(bool(int(components[name]["Attributes"]) & 256), bits64, name)
        self.assertEqual(components["Plugin32Machine"]["Condition"], "ALLUSERS")
        files = {f["File"]: f for f in table("File")}
        self.assertEqual({k: (f["Component_"], f["FileName"].split("|")[-1]) for k, f in files.items()}, {
            "nporvanta64.dll": ("Plugin64", "nporvanta.dll"), "nporvanta32.dll": ("Plugin32", "nporvanta.dll"),
            "orvanta_host.exe": ("Host", "orvanta-host.exe"),
            "manifest.chromium": ("Host", "pelorima.orvanta.json"),
            "manifest.firefox": ("Host", "pelorima.orvanta.firefox.json")})

    def test_registry_rows_are_the_scripts(self):
        rows = table("Registry")
        # -1 is HKLM for a per-machine install and HKCU for a per-user one; wixl writes 4.
        self.assertEqual({r["Root"] for r in rows}, {"-1"})
        by_component = {}
        for r in rows:
            by_component.setdefault(r["Component_"], []).append((r["Key"], r["Name"], r["Value"]))
        self.assertEqual(sorted(by_component["Plugin64"]), generated("nporvanta64.dll"))
        self.assertEqual(sorted(by_component["Plugin32"]), generated("nporvanta32.dll", "HKCR"))
        self.assertEqual(sorted(by_component["Plugin32Machine"]), generated("nporvanta32.dll", "HKCU"))
        hosts = sorted(by_component["Host"])
        self.assertEqual(hosts, sorted([
            ("Software\\Google\\Chrome\\NativeMessagingHosts\\pelorima.orvanta", "", "[#manifest.chromium]"),
            ("Software\\Chromium\\NativeMessagingHosts\\pelorima.orvanta", "", "[#manifest.chromium]"),
            ("Software\\Microsoft\\Edge\\NativeMessagingHosts\\pelorima.orvanta", "", "[#manifest.chromium]"),
            ("Software\\Mozilla\\NativeMessagingHosts\\pelorima.orvanta", "", "[#manifest.firefox]")]))

    def test_nothing_registers_itself(self):
        tables = subprocess.run(["msiinfo", "tables", MSI], capture_output=True, text=True, check=True).stdout.split()
        if "SelfReg" in tables:
            self.assertEqual(table("SelfReg"), [])
        # The only custom actions set the per-user folders (type 35), after the folders are known.
        actions = table("CustomAction")
        self.assertEqual({(a["Action"], a["Type"], a["Source"]) for a in actions},
                         {("PerUserFolder64", "35", "INSTALLDIR64"), ("PerUserFolder32", "35", "INSTALLDIR32")})
        for sequence in ("InstallExecuteSequence", "InstallUISequence"):
            steps = {a["Action"]: a for a in table(sequence)}
            for action in ("PerUserFolder64", "PerUserFolder32"):
                self.assertEqual(steps[action]["Condition"], "NOT ALLUSERS")
                self.assertGreater(int(steps[action]["Sequence"]), int(steps["CostFinalize"]["Sequence"]))

    def test_cabinet_files(self):
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run(["msiextract", "-C", folder, MSI], capture_output=True, check=True)
            found = {}
            for root, _, names in os.walk(folder):
                for name in names:
                    found.setdefault(name, []).append(os.path.join(root, name))
            self.assertEqual(len(found["nporvanta.dll"]), 2)
            with open(os.path.join(TOP, "projects/orvanta/extension/manifest.json")) as f:
                version = json.load(f)["version"]
            machines = []
            for dll in found["nporvanta.dll"]:
                for machine in ("i386", "amd64"):
                    check = subprocess.run([os.path.join(TOP, "tools/check-pe"), dll, "--machine", machine,
                                            "--export", "DllGetClassObject", "--export", "NP_GetEntryPoints",
                                            "--resource", "REGISTRY:101", "--resource", "REGISTRY:103",
                                            "--version-key", "FileVersion=" + version],
                                           capture_output=True, text=True)
                    if check.returncode == 0:
                        machines.append(machine)
            self.assertEqual(sorted(machines), ["amd64", "i386"])
            for name, key in (("pelorima.orvanta.json", "allowed_origins"),
                              ("pelorima.orvanta.firefox.json", "allowed_extensions")):
                with open(found[name][0]) as f:
                    manifest = json.load(f)
                self.assertEqual((manifest["name"], manifest["path"]), ("pelorima.orvanta", "orvanta-host.exe"))
                self.assertIn(key, manifest)
            self.assertEqual(len(found["orvanta-host.exe"]), 1)


if __name__ == "__main__":
    MSI, ROWS, TOP = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
