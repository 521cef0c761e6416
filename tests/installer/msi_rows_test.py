#!/usr/bin/env python3
"""The installer's registry rows as orv-msi-rows writes them from registry scripts: what
each construct of the script language becomes (a value, a key made bare, a key removed
with its tree at uninstall), text the installer would read as a property reference, the
constructs it refuses, and the product's own two scripts in full.

usage: msi_rows_test.py ORV-MSI-ROWS RGS-FOLDER
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

TOOL = None
RGS = None
ROW = re.compile(r'<RegistryValue Root="HKMU" Key="([^"]*)"(?: Name="([^"]*)")? Type="(string|integer)" Value="([^"]*)"/>$')


def run(script, *extra):
    with tempfile.NamedTemporaryFile("w", suffix=".rgs", delete=False) as f:
        f.write(script)
    try:
        return subprocess.run([TOOL, "registry", *extra, f.name], capture_output=True, text=True, timeout=30)
    finally:
        os.unlink(f.name)


def rows(output):
    parsed = []
    for line in output.splitlines():
        m = ROW.match(line)
        assert m, "not a registry row: %r" % line
        parsed.append((m.group(1), m.group(2), m.group(3), m.group(4)))
    return parsed


class Rows(unittest.TestCase):
    def test_constructs(self):
        cases = [
            # A key's default value and a named value; the classes root goes below Software\Classes.
            ("HKCR { A = s 'x' { val N = s 'y' } }",
             [("Software\\Classes\\A", None, "string", "x"), ("Software\\Classes\\A", "N", "string", "y")]),
            # ForceRemove: made at install, removed with everything below at uninstall.
            ("HKCU { NoRemove S { ForceRemove K { val P = s 'v' } } }",
             [("S\\K", "*", "string", ""), ("S\\K", "P", "string", "v")]),
            # A bare key without a flag is made; its keyless parent is made by it.
            ("HKCU { NoRemove S { P { 'Leaf' } } }", [("S\\P\\Leaf", "+", "string", "")]),
            # NoRemove keys holding nothing of ours are not rows at all.
            ("HKCU { NoRemove S { NoRemove T { } } }", []),
            # DWORDs, empty and given.
            ("HKCU { K { val A = d '' val B = d '131473' } }",
             [("K", "A", "integer", "0"), ("K", "B", "integer", "131473")]),
            # Brackets would be read as property references by the installer.
            ("HKCU { K = s 'a[b]c' }", [("K", None, "string", "a[\\[]b[\\]]c")]),
            # XML's own characters are escaped.
            ("HKCU { K = s 'a&b<c>\"' }", [("K", None, "string", "a&amp;b&lt;c&gt;&quot;")]),
        ]
        for script, expected in cases:
            with self.subTest(script=script):
                result = run(script)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(rows(result.stdout), expected)

    def test_variables_and_the_module_reference(self):
        result = run("HKCR { C = s '%MODULE%' { val T = s '%THREADING%' } }",
                     "--var", "MODULE=[#nporvanta64.dll]", "--var", "THREADING=Apartment")
        self.assertEqual(result.returncode, 0, result.stderr)
        # The reference to the installed file is kept as it is; the installer resolves it.
        self.assertEqual(rows(result.stdout), [("Software\\Classes\\C", None, "string", "[#nporvanta64.dll]"),
                                               ("Software\\Classes\\C", "T", "string", "Apartment")])

    def test_refusals(self):
        cases = [
            ("HKCR { C = s '%MODULE%' }", "MODULE"),                 # a variable nobody gave
            ("HKCU { NoRemove S { Delete Old } }", "deletes the key"),
            ("HKLM { K = s 'x' }", "the root HKLM"),
            ("HKCU { K = s 'unclosed }", ""),
        ]
        for script, message in cases:
            with self.subTest(script=script):
                result = run(script)
                self.assertNotEqual(result.returncode, 0, result.stdout)
                self.assertEqual(result.stdout, "")
                self.assertIn(message, result.stderr)

    def test_only_one_root(self):
        script = "HKCR { A = s 'x' } HKCU { B = s 'y' }"
        self.assertEqual(rows(run(script, "--only", "HKCU").stdout), [("B", None, "string", "y")])
        self.assertEqual(rows(run(script, "--only", "HKCR").stdout), [("Software\\Classes\\A", None, "string", "x")])

    def test_the_products_scripts(self):
        result = subprocess.run(
            [TOOL, "registry", "--var", "MODULE=[#m]", "--var", "APPID={A}", "--var", "LIBID={L}",
             "--var", "THREADING=Apartment", os.path.join(RGS, "PluginWin.rgs"), os.path.join(RGS, "FBControl.rgs")],
            capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        got = rows(result.stdout)
        clsid = "Software\\Classes\\CLSID\\{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}"
        ext = "Software\\Microsoft\\Windows\\CurrentVersion\\Ext"
        for row in [
            ("Software\\Classes\\AppID\\{A}", None, "string", "PluginWin"),
            ("Software\\Classes\\AppID\\nporvanta.dll", "AppID", "string", "{A}"),
            (clsid, "*", "string", ""),
            (clsid + "\\InprocServer32", None, "string", "[#m]"),
            (clsid + "\\InprocServer32", "ThreadingModel", "string", "Apartment"),
            (clsid + "\\Control", "*", "string", ""),
            (clsid + "\\TypeLib", None, "string", "{L}"),
            (ext + "\\PreApproved\\{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}", "*", "string", ""),
            (ext + "\\Stats\\{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}\\iexplore", "Count", "integer", "0"),
            (ext + "\\Stats\\{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}\\iexplore\\AllowedDomains\\*", "+", "string", ""),
            ("Software\\MozillaPlugins\\kelmo.ru/orvanta", "*", "string", ""),
            ("Software\\MozillaPlugins\\kelmo.ru/orvanta", "Path", "string", "[#m]"),
        ]:
            self.assertIn(row, got)
        # Nothing for the shared parents the scripts only pass through.
        self.assertFalse([r for r in got if r[0] in ("Software\\Classes\\CLSID", "Software\\MozillaPlugins", ext)])
        self.assertEqual(len(got), len(set(got)), "a row written twice")

    def test_manifests(self):
        import json
        chromium = json.loads(subprocess.run([TOOL, "manifest", "chromium", "orvanta-host.exe"],
                                             capture_output=True, text=True, timeout=30, check=True).stdout)
        firefox = json.loads(subprocess.run([TOOL, "manifest", "firefox", "orvanta-host.exe"],
                                            capture_output=True, text=True, timeout=30, check=True).stdout)
        self.assertEqual((chromium["name"], chromium["path"], chromium["type"]),
                         ("pelorima.orvanta", "orvanta-host.exe", "stdio"))
        self.assertEqual(chromium["allowed_origins"], ["chrome-extension://edadiocalphgbgnlpfafmgfgcgooomgb/"])
        self.assertEqual(firefox["allowed_extensions"], ["orvanta@pelorima"])


if __name__ == "__main__":
    TOOL, RGS = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
