#!/usr/bin/env python3
"""The Windows installer under 64-bit Wine, in the fresh prefix WINEPREFIX names:

  per machine (msiexec /i /qn with a log): the files in Program Files, every registry row of
  the package in its view and nothing else of ours, the control created by ProgID from the
  installed DLL through the test OLE container, the installed host answering over a pipe
  from the path its registered manifest names, the MozillaPlugins keys naming the DLLs;
  repair (/fa) putting back a deleted file; uninstall (/x /qn) leaving the prefix's registry
  and files as they were before;
  regsvr32 of the same DLL at the same path writing, key by key, what the package wrote;
  per user: only HKCU and the user's profile, and again nothing left after uninstalling.

The registry is read from the prefix's own files (system.reg, user.reg) after wineserver
has written them, so a before/after comparison sees every key and value.

usage: msi_wine_test.py MSI PROBE-EXE VENDOR-DLL
VENDOR-DLL is the vendor module's 64-bit double, put beside the installed host as an
administrator puts the vendor's module there.
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

MSI, PROBE, VENDOR = None, None, None
PREFIX = os.environ.get("WINEPREFIX", "")
LOADER = os.environ.get("WINELOADER", "/usr/lib/wine/wine64")
CLSID = "{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}"
failures = []
work = tempfile.mkdtemp(prefix="orvanta-msi-test-")


def check(ok, what, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ("" if ok or not detail else "\n       " + str(detail)[:3000]))
    if not ok:
        failures.append(what)
    return ok


def wine(*command, env=None, timeout=300, stdin=None):
    full = dict(os.environ)
    full.update(env or {})
    result = subprocess.run([LOADER, *command], capture_output=True, timeout=timeout, env=full, input=stdin)
    subprocess.run(["wineserver", "-w"], timeout=120)
    return result


def msiexec(*arguments, log):
    windows_log = "Z:" + log.replace("/", "\\")
    return wine("msiexec", *arguments, "/qn", "/l*v", windows_log).returncode


# --- the prefix's registry and files ---------------------------------------------------

def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def read_hive(path):
    """{key (lower case): {value name (lower case, "" the default): data}}; data is the
    string, an int for a DWORD, or the raw text for other types."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = pending + raw.rstrip("\n")
            if line.endswith("\\") and current is not None and not line.startswith("["):
                pending = line[:-1].strip() if pending else line[:-1]
                continue
            pending = ""
            if line.startswith("["):
                m = re.match(r"^\[(.*)\](?: \d+)?$", line)
                current = unescape(m.group(1)).lower()
                keys.setdefault(current, {})
                continue
            if current is None or not line or line.startswith("#") or line.startswith(";"):
                continue
            if line.startswith("@="):
                name, data = "", line[2:]
            else:
                m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
                if not m:
                    continue
                name, data = unescape(m.group(1)).lower(), m.group(2)
            if data.startswith('"') and data.endswith('"'):
                value = unescape(data[1:-1])
            elif data.startswith("dword:"):
                value = int(data[6:], 16)
            else:
                value = data
            keys[current][name] = value
    return keys


def snapshot():
    subprocess.run(["wineserver", "-w"], timeout=120)
    files = set()
    drive = os.path.join(PREFIX, "drive_c")
    for folder, dirs, names in os.walk(drive):
        for name in dirs + names:
            files.add(os.path.relpath(os.path.join(folder, name), drive).lower())
    return {"HKLM": read_hive(os.path.join(PREFIX, "system.reg")),
            "HKCU": read_hive(os.path.join(PREFIX, "user.reg")), "files": files}


# The installer's own records of what it installed: it may leave their empty folders.
INSTALLER_RECORDS = re.compile(r"^(software\\classes\\installer|software\\microsoft\\installer|"
                               r"software\\microsoft\\windows\\currentversion\\installer|"
                               r"software\\microsoft\\windows\\currentversion\\uninstall|"
                               r"software\\wow6432node\\microsoft\\windows\\currentversion\\uninstall)(\\|$)")
# Keys Wine rewrites on every start of its services (network cards, display adapters).
WINE_NOISE = re.compile(r"^(software\\microsoft\\windows nt\\currentversion\\networkcards|"
                        r"system\\currentcontrolset\\control\\class)(\\|$)")
# The installer's cache of packages and the temporary folders.
NOT_OUR_FILES = re.compile(r"^windows/installer(/|$)|^windows/temp(/|$)|^users/[^/]+/temp(/|$)|"
                           r"^users/[^/]+/appdata/local/temp(/|$)")


def registry_changes(before, after):
    """(hive, key, name or None for the key itself, old, new) for every difference."""
    changes = []
    for hive in ("HKLM", "HKCU"):
        b, a = before[hive], after[hive]
        for key in sorted(set(b) | set(a)):
            if key not in a:
                changes.append((hive, key, None, "key", None))
            elif key not in b:
                changes.append((hive, key, None, None, "key"))
            for name in sorted(set(b.get(key, {})) | set(a.get(key, {}))):
                old, new = b.get(key, {}).get(name), a.get(key, {}).get(name)
                if old != new:
                    changes.append((hive, key, name, old, new))
    return changes


# --- what the package says it writes --------------------------------------------------

def table(name):
    text = subprocess.run(["msiinfo", "export", MSI, name], capture_output=True, text=True, check=True).stdout
    lines = text.split("\r\n") if "\r\n" in text else text.split("\n")
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[3:] if line]


def expected_rows(machine):
    """[(hive, key as the prefix's file names it, name or '*'/'+', value, component)]."""
    components = {c["Component"]: int(c["Attributes"]) for c in table("Component")}
    if machine:
        folders = {"INSTALLDIR64": "C:\\Program Files\\orvanta",
                   "INSTALLDIR32": "C:\\Program Files (x86)\\orvanta"}
    else:
        folders = {"INSTALLDIR64": profile_windows() + "\\AppData\\Local\\Programs\\orvanta",
                   "INSTALLDIR32": profile_windows() + "\\AppData\\Local\\Programs\\orvanta\\x86"}
    files = {}
    file_component = {c["Component"]: c["Directory_"] for c in table("Component")}
    for f in table("File"):
        files[f["File"]] = folders[file_component[f["Component_"]]] + "\\" + f["FileName"].split("|")[-1]
    rows = []
    for r in table("Registry"):
        assert r["Root"] == "-1", r
        if not machine and r["Component_"] == "Plugin32Machine":
            continue
        value = re.sub(r"\[#([^\]]+)\]", lambda m: files[m.group(1)], r["Value"])
        value = value.replace("[\\[]", "[").replace("[\\]]", "]")
        if value.startswith("#") and not value.startswith("##"):
            value = int(value[1:])
        key = r["Key"]
        wow = not components[r["Component_"]] & 256
        if machine and wow and not key.startswith("Software\\Classes\\AppID\\"):
            # The 32-bit view: Wine redirects the classes as a whole (Windows only some of
            # them, which the 32-bit DLL then shares with the 64-bit one); AppID is shared.
            key = ("Software\\Classes\\Wow6432Node" + key[len("Software\\Classes"):]
                   if key.startswith("Software\\Classes\\") else "Software\\Wow6432Node" + key[len("Software"):])
        rows.append(("HKLM" if machine else "HKCU", key.lower(), r["Name"], value, r["Component_"]))
    return rows, files


def profile_windows():
    users = os.path.join(PREFIX, "drive_c", "users")
    name = [u for u in os.listdir(users) if u.lower() not in ("public", "default")][0]
    return "C:\\users\\" + name


def unix_path(windows):
    assert windows[1:3] == ":\\", windows
    return os.path.join(PREFIX, "drive_c", *windows[3:].split("\\"))


def check_rows(state, rows, label):
    missing = []
    for hive, key, name, value, _ in rows:
        keys = state[hive]
        if name in ("*", "+"):
            # A bare key: Wine's files list a key only when it has values or no subkeys.
            if key not in keys and not any(k.startswith(key + "\\") for k in keys):
                missing.append((hive, key))
        elif keys.get(key, {}).get(name.lower()) != value:
            missing.append((hive, key, name, value, keys.get(key, {}).get(name.lower())))
    check(not missing, "%s: every registry row of the package is in its view (%d rows)" % (label, len(rows)), missing)


def ours(key, rows):
    return any(key == r[1] or key.startswith(r[1] + "\\") for r in rows)


def check_only_ours(before, after, rows, label, only_hive=None):
    stray = []
    for hive, key, name, old, new in registry_changes(before, after):
        if INSTALLER_RECORDS.match(key) or WINE_NOISE.match(key):
            continue
        if only_hive and hive != only_hive:
            stray.append((hive, key, name, old, new))
        elif not ours(key, [r for r in rows if r[0] == hive]) and not any(
                r[0] == hive and r[1].startswith(key + "\\") for r in rows):
            stray.append((hive, key, name, old, new))
    check(not stray, "%s: nothing written to the registry but the package's rows and the installer's records" % label,
          stray)


def check_restored(before, after, rows, label):
    left = []
    removed_empty_parents = []
    for hive, key, name, old, new in registry_changes(before, after):
        if WINE_NOISE.match(key):
            continue
        if name is None and new == "key" and INSTALLER_RECORDS.match(key) and not after[hive][key]:
            continue
        if name is None and old == "key" and not before[hive][key] and any(
                r[0] == hive and r[1].startswith(key + "\\") for r in rows):
            # Wine's installer takes away the keys above a removed one that it leaves empty,
            # also one that was there (empty) before.
            removed_empty_parents.append(key)
            continue
        left.append((hive, key, name, old, new))
    check(not left, "%s: the registry is as it was before installing" % label, left)
    if removed_empty_parents:
        print("note %s: Wine's msiexec removed empty keys that held nothing: %s" % (label, removed_empty_parents))
    files = sorted(f for f in after["files"] ^ before["files"] if not NOT_OUR_FILES.match(f))
    check(not files, "%s: the files are as they were before installing" % label, files)


# --- the installed programs -----------------------------------------------------------

def frame(body):
    return struct.pack("=I", len(body)) + body


def check_host(state, hive, label):
    origins = os.path.join(work, "allowed-origins")
    with open(origins, "w") as f:
        f.write("allow https://bank.example\n")
    for browser, key in [("Chrome", "software\\google\\chrome\\nativemessaginghosts\\pelorima.orvanta"),
                         ("Chromium", "software\\chromium\\nativemessaginghosts\\pelorima.orvanta"),
                         ("Edge", "software\\microsoft\\edge\\nativemessaginghosts\\pelorima.orvanta"),
                         ("Firefox", "software\\mozilla\\nativemessaginghosts\\pelorima.orvanta")]:
        manifest_path = state[hive].get(key, {}).get("")
        if not check(bool(manifest_path), "%s: %s's key names the host's manifest" % (label, browser), key):
            continue
        with open(unix_path(manifest_path), encoding="utf-8") as f:
            manifest = json.load(f)
        check(manifest["name"] == "pelorima.orvanta" and manifest["type"] == "stdio" and
              ("allowed_extensions" if browser == "Firefox" else "allowed_origins") in manifest,
              "%s: %s's manifest is the host's" % (label, browser), manifest)
        # A browser on Windows reads a relative path from the manifest's folder.
        host = manifest["path"]
        if not re.match(r"^[A-Za-z]:\\", host):
            host = manifest_path.rsplit("\\", 1)[0] + "\\" + host
        if browser != "Chrome" and browser != "Firefox":
            continue
        vendor = os.path.join(os.path.dirname(unix_path(host)), "olpkcs11xsg.dll")
        shutil.copy2(VENDOR, vendor)
        env = {"ORVANTA_ALLOWED_ORIGINS": "Z:" + origins.replace("/", "\\"),
               "ORVANTA_MACHINE_ALLOWED_ORIGINS": "Z:" + os.path.join(work, "none").replace("/", "\\"),
               "ORVANTA_PINENTRY": "/bin/false"}
        request = json.dumps({"id": 1, "origin": "https://bank.example", "method": "get_version", "args": []}).encode()
        try:
            result = wine(host, env=env, stdin=frame(request), timeout=120)
        finally:
            os.remove(vendor)
        answer = None
        if len(result.stdout) >= 4:
            (length,) = struct.unpack("=I", result.stdout[:4])
            try:
                answer = json.loads(result.stdout[4:4 + length])
            except ValueError:
                answer = result.stdout
        check(answer == {"id": 1, "result": "1.1"},
              "%s: the host at %s (from %s's manifest) answers over a pipe" % (label, host, browser),
              (answer, result.stderr.decode("utf-8", "replace")[-800:]))


def reg_query(key, view):
    out = wine("reg", "query", key, "/ve", "/reg:" + view).stdout.decode("utf-8", "replace")
    m = re.search(r"REG_SZ\s+(.*?)\r?$", out, re.M)
    return m.group(1) if m else None


def main():
    global MSI, PROBE, VENDOR
    MSI, PROBE, VENDOR = sys.argv[1], sys.argv[2], sys.argv[3]
    assert PREFIX and os.path.isdir(PREFIX), "WINEPREFIX names no prepared prefix"
    windows_msi = "Z:" + os.path.abspath(MSI).replace("/", "\\")

    # Per machine.
    s0 = snapshot()
    rc = msiexec("/i", windows_msi, log=os.path.join(work, "machine-install.log"))
    check(rc == 0, "per machine: msiexec /i /qn succeeds", rc)
    s1 = snapshot()
    rows, files = expected_rows(machine=True)
    for fid, path in sorted(files.items()):
        check(os.path.isfile(unix_path(path)), "per machine: %s is installed" % path)
    with open(unix_path(files["nporvanta32.dll"]), "rb") as f:
        data = f.read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        check(struct.unpack_from("<H", data, pe + 4)[0] == 0x14C, "per machine: the x86 folder's DLL is PE32 (i386)")
    check_rows(s1, rows, "per machine")
    check_only_ours(s0, s1, rows, "per machine")
    dll64, dll32 = files["nporvanta64.dll"], files["nporvanta32.dll"]
    check(s1["HKLM"].get("software\\mozillaplugins\\kelmo.ru/orvanta", {}).get("path") == dll64 and
          s1["HKLM"].get("software\\wow6432node\\mozillaplugins\\kelmo.ru/orvanta", {}).get("path") == dll32,
          "per machine: MozillaPlugins names the 64-bit DLL in the 64-bit view and the 32-bit DLL in the 32-bit view")
    inproc = "HKLM\\Software\\Classes\\CLSID\\%s\\InprocServer32" % CLSID
    check((reg_query(inproc, "64"), reg_query(inproc, "32")) == (dll64, dll32),
          "per machine: reg query finds each DLL as the class's server in its own view",
          (reg_query(inproc, "64"), reg_query(inproc, "32")))
    origins = os.path.join(work, "control-origins")
    with open(origins, "w") as f:
        f.write("allow https://bank.orvanta.test\n")
    probe = wine("Z:" + os.path.abspath(PROBE).replace("/", "\\"), dll64,
                 env={"ORVANTA_ALLOWED_ORIGINS": "Z:" + origins.replace("/", "\\"),
                      "ORVANTA_MACHINE_ALLOWED_ORIGINS": "Z:" + os.path.join(work, "none").replace("/", "\\"),
                      "ORVANTA_PINENTRY": "/bin/false"}, timeout=180)
    print(probe.stdout.decode("utf-8", "replace").rstrip())
    check(probe.returncode == 0, "per machine: the control created by ProgID from the installed DLL answers page script",
          probe.stderr.decode("utf-8", "replace")[-800:])
    check_host(s1, "HKLM", "per machine")

    # Repair: a deleted file comes back.
    saved64 = os.path.join(work, "nporvanta64.dll")
    shutil.copy2(unix_path(dll64), saved64)
    os.remove(unix_path(files["orvanta_host.exe"]))
    # Wine's msiexec answers /fa with an error (69 for a package, 1 for a product code);
    # the same repair through its properties works on both.
    rc = msiexec("/i", windows_msi, "REINSTALL=ALL", "REINSTALLMODE=amus", log=os.path.join(work, "machine-repair.log"))
    check(rc == 0 and os.path.isfile(unix_path(files["orvanta_host.exe"])),
          "per machine: repair (REINSTALL=ALL REINSTALLMODE=amus) puts a deleted file back", rc)

    rc = msiexec("/x", windows_msi, log=os.path.join(work, "machine-uninstall.log"))
    check(rc == 0, "per machine: msiexec /x /qn succeeds", rc)
    s2 = snapshot()
    check_restored(s0, s2, rows, "per machine, uninstalled")

    # regsvr32 of the same DLL at the same path, against the 64-bit DLL's rows of the package.
    os.makedirs(os.path.dirname(unix_path(dll64)), exist_ok=True)
    shutil.copy2(saved64, unix_path(dll64))
    rc = wine("regsvr32", "/s", dll64).returncode
    check(rc == 0, "regsvr32 registers the DLL", rc)
    s3 = snapshot()
    by_regsvr = {}
    for hive, key, name, old, new in registry_changes(s2, s3):
        if hive == "HKCU" and name is not None and new is not None:
            by_regsvr[(key[len("software\\classes\\"):] if key.startswith("software\\classes\\") else key, name)] = new
    by_package = {}
    for hive, key, name, value, component in rows:
        if component == "Plugin64" and name not in ("*", "+"):
            relative = key[len("software\\classes\\"):] if key.startswith("software\\classes\\") else key
            by_package[(relative, name.lower())] = value
    only_regsvr = {k: v for k, v in by_regsvr.items() if by_package.get(k) != v}
    only_package = {k: v for k, v in by_package.items() if by_regsvr.get(k) != v}
    check(by_package and not only_regsvr and not only_package,
          "regsvr32 and the package write the same keys and values (%d)" % len(by_package),
          {"regsvr32 only": only_regsvr, "package only": only_package})
    wine("regsvr32", "/s", "/u", dll64)
    shutil.rmtree(os.path.dirname(unix_path(dll64)))
    s4 = snapshot()

    # A major upgrade: the next version (same upgrade code, a new product code) installed
    # over this one replaces it, and its uninstall leaves nothing of either.
    s_base = snapshot()
    newer = os.path.join(work, "orvanta-newer.msi")
    shutil.copy2(MSI, newer)
    version = {p["Property"]: p["Value"] for p in table("Property")}["ProductVersion"]
    major, minor, patch = (int(x) for x in version.split("."))
    next_version = "%d.%d.%d" % (major, minor, patch + 1)
    for query in ("UPDATE Property SET Value = '%s' WHERE Property = 'ProductVersion'" % next_version,
                  "UPDATE Property SET Value = '{%s}' WHERE Property = 'ProductCode'" % str(uuid.uuid4()).upper()):
        subprocess.run(["msibuild", newer, "-q", query], check=True)
    # The Upgrade table's versions are part of its key: its rows are written anew, as the
    # build writes them for that version.
    for u in table("Upgrade"):
        subprocess.run(["msibuild", newer, "-q", "DELETE FROM Upgrade WHERE UpgradeCode = '%s' AND ActionProperty = '%s'"
                        % (u["UpgradeCode"], u["ActionProperty"])], check=True)
        low = next_version if u["VersionMin"] == version else u["VersionMin"]
        high = next_version if u["VersionMax"] == version else u["VersionMax"]
        subprocess.run(["msibuild", newer, "-q", "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Language, "
                        "Attributes, Remove, ActionProperty) VALUES ('%s', '%s', '%s', '%s', %s, '%s', '%s')"
                        % (u["UpgradeCode"], low, high, u["Language"], u["Attributes"], u["Remove"],
                           u["ActionProperty"])], check=True)
    windows_newer = "Z:" + newer.replace("/", "\\")
    check(msiexec("/i", windows_msi, log=os.path.join(work, "upgrade-old.log")) == 0, "upgrade: the older installs")
    rc = msiexec("/i", windows_newer, log=os.path.join(work, "upgrade-new.log"))
    s_up = snapshot()
    uninstall_keys = [k for k in s_up["HKLM"] if re.match(r"^software\\microsoft\\windows\\currentversion\\uninstall\\\{", k)
                      and s_up["HKLM"][k].get("displayname") == "orvanta"]
    versions = sorted(s_up["HKLM"][k].get("displayversion") for k in uninstall_keys)
    check(rc == 0 and versions == [next_version], "upgrade: the newer replaces the older (installed: %s)" % versions, rc)
    check_rows(s_up, rows, "upgrade")
    check(msiexec("/x", windows_newer, log=os.path.join(work, "upgrade-uninstall.log")) == 0,
          "upgrade: the newer uninstalls")
    check_restored(s_base, snapshot(), rows, "upgrade, uninstalled")

    # Windows keeps a Programs folder in every profile (installers share it); a fresh Wine
    # prefix has none, and the per-user install would make it and leave it.
    os.makedirs(unix_path(profile_windows() + "\\AppData\\Local\\Programs"), exist_ok=True)
    s4 = snapshot()

    # Per user. Windows takes MSIINSTALLPERUSER=1 with the package's ALLUSERS=2; Wine's
    # installer only knows ALLUSERS, so the command gives both.
    rc = msiexec("/i", windows_msi, "MSIINSTALLPERUSER=1", "ALLUSERS=", log=os.path.join(work, "user-install.log"))
    check(rc == 0, "per user: msiexec /i MSIINSTALLPERUSER=1 /qn succeeds", rc)
    s5 = snapshot()
    user_rows, user_files = expected_rows(machine=False)
    for fid, path in sorted(user_files.items()):
        check(os.path.isfile(unix_path(path)), "per user: %s is installed" % path)
    # Wine keeps one HKCU\Software\Classes for both views, where Windows gives the 32-bit
    # classes their own: the 64-bit DLL's classes rows are checked, the 32-bit DLL's take
    # the same keys under Wine.
    shared = {(r[1], r[2]) for r in user_rows if r[4] == "Plugin32"}
    collided = [r for r in user_rows if r[4] == "Plugin64" and (r[1], r[2]) in shared and r[2] not in ("*", "+")
                and r[3] != s5["HKCU"].get(r[1], {}).get(r[2].lower())]
    if collided:
        print("note per user: Wine wrote the 32-bit DLL's value over the 64-bit one's in its one view: %s" %
              [(r[1], r[2]) for r in collided])
    check_rows(s5, [r for r in user_rows if r[4] != "Plugin32" and r not in collided], "per user")
    check_only_ours(s4, s5, user_rows, "per user", only_hive="HKCU")
    new_files = sorted(f for f in s5["files"] - s4["files"] if not NOT_OUR_FILES.match(f))
    profile = profile_windows()[3:].lower().replace("\\", "/") + "/"
    check(new_files and all(f.startswith(profile) for f in new_files),
          "per user: every file is in the user's profile", new_files)
    check(s5["HKCU"].get("software\\mozillaplugins\\kelmo.ru/orvanta", {}).get("path") == user_files["nporvanta64.dll"],
          "per user: MozillaPlugins in HKCU names the 64-bit DLL in the profile")
    check_host(s5, "HKCU", "per user")
    rc = msiexec("/x", windows_msi, "ALLUSERS=", log=os.path.join(work, "user-uninstall.log"))
    check(rc == 0, "per user: msiexec /x /qn succeeds", rc)
    s6 = snapshot()
    check_restored(s4, s6, user_rows, "per user, uninstalled")

    if failures:
        print("\n%d failed: %s" % (len(failures), "; ".join(failures)))
        print("installer logs kept in " + work)
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("\nall installer checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
