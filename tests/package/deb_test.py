#!/usr/bin/python3
"""The Debian package on this machine, as a person gets it: built with tools/package deb,
checked by lintian, installed with apt, then

  - QtWebKit, with no plug-in path variable, finds the plug-in in the system plug-in folder and
    passes the demonstration page's steps against a SoftHSM token (the vendor stand-in placed
    at /usr/lib/orvanta/olpkcs11xsg.so, where the package says the vendor module goes);
  - headless Chromium with a fresh profile and no --load-extension gets the orvanta object from
    the installed extension and reaches the installed host through the system manifest (the
    same page steps);
  - remove and purge leave no file of the package, and nothing else under /etc, /usr and
    /var/lib changed (dpkg's and apt's own records aside);
  - an older build, then this one over it: nothing stale, and Chromium (with the profile that
    had the older extension) runs the new one.

It installs into this machine (as root), so it runs alone, after every other test; whatever
happens, it leaves the machine without the package.

usage: deb_test.py --build BUILD   (BUILD: the linux preset's folder, for the token stand-in,
                                    the PIN companion double and gost_verify)
"""
import argparse
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tools"))
import demo  # noqa: E402  (the demonstration's token, verdict and QtWebKit browser)

LIB = "/usr/lib/orvanta"
WATCHED = ["/etc", "/usr", "/var/lib"]
# dpkg's and apt's own records of what is installed change with every install.
IGNORED = ["/var/lib/dpkg", "/var/lib/apt"]
PAGE_LIMIT = 120

failures = []


def check(condition, what):
    print("%s %s" % ("ok  " if condition else "FAIL", what), flush=True)
    if not condition:
        failures.append(what)
    return condition


def run(*command, **kw):
    print("$ " + " ".join(command), flush=True)
    return subprocess.run(command, **kw)


def apt(*arguments):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    result = run("apt-get", "-y", "-q", *arguments, env=env, stdout=subprocess.PIPE,
                 stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        print(result.stdout)
    return result.returncode == 0


def installed_version():
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status} ${Version}", "orvanta"],
                            capture_output=True, text=True)
    if result.returncode != 0:
        return None
    words = result.stdout.split()
    return words[-1] if words[:3] == ["install", "ok", "installed"] else None


def package_state():
    result = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Abbrev}", "orvanta"],
                            capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else "unknown to dpkg"


def purge_quietly():
    if package_state() != "unknown to dpkg":
        apt("purge", "orvanta")


# --- what is on the machine -------------------------------------------------------------

def snapshot():
    """Every entry under the watched folders: kind, mode, and for files size and time, for
    links their target. A folder's own times change with its entries, which are compared
    one by one anyway."""
    entries = {}
    for root in WATCHED:
        for folder, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if os.path.join(folder, d) not in IGNORED]
            for name in dirs + files:
                path = os.path.join(folder, name)
                try:
                    st = os.lstat(path)
                except FileNotFoundError:
                    continue
                if os.path.islink(path):
                    entries[path] = ("link", os.readlink(path))
                elif os.path.isdir(path):
                    entries[path] = ("dir", st.st_mode)
                else:
                    entries[path] = ("file", st.st_mode, st.st_size, st.st_mtime_ns)
    return entries


def differences(before, after):
    added = sorted(set(after) - set(before))
    removed = sorted(set(before) - set(after))
    changed = sorted(p for p in set(before) & set(after) if before[p] != after[p])
    return added, removed, changed


def show(title, paths):
    if paths:
        print("  %s (%d):" % (title, len(paths)))
        for p in paths[:40]:
            print("    " + p)
        if len(paths) > 40:
            print("    ...")


def package_files():
    """What dpkg lists for the package, below the watched folders (not the folders
    themselves, nor /usr's own first levels, which were there before)."""
    result = subprocess.run(["dpkg-query", "-L", "orvanta"], capture_output=True, text=True, check=True)
    return [p for p in result.stdout.splitlines()
            if any(p.startswith(root + "/") for root in WATCHED)]


def empty_unowned_folders(paths, baseline):
    """Those of `paths` that were empty folders before the install and belonged to no
    package: dpkg counts a folder a package lists as the package's when nothing else claims
    it, and takes it away with the package once it is empty again."""
    found = []
    for p in paths:
        if baseline.get(p, ("",))[0] != "dir" or any(q.startswith(p + "/") for q in baseline):
            continue
        owned = subprocess.run(["dpkg-query", "-S", p], capture_output=True, text=True)
        owners = set()
        for line in owned.stdout.splitlines():
            if line.endswith(": " + p):
                owners.update(o.strip() for o in line[:-len(": " + p)].split(","))
        if owners <= {"orvanta"}:
            found.append(p)
    return found


# --- building ---------------------------------------------------------------------------

def older_version(version):
    major, minor, patch = (int(x) for x in version.split("."))
    if patch:
        return "%d.%d.%d" % (major, minor, patch - 1)
    if minor:
        return "%d.%d.99" % (major, minor - 1)
    return "%d.99.99" % (major - 1)


def build_package(version=None):
    env = dict(os.environ)
    if version:
        env["ORVANTA_PACKAGE_VERSION"] = version
    result = run("bash", os.path.join(TOP, "tools", "package"), "deb", env=env,
                 stdout=subprocess.PIPE, text=True)
    if result.returncode != 0:
        return None
    return result.stdout.strip().splitlines()[-1]


def other_key_is_refused(work):
    """A key whose public half is not the manifest's would give the packed extension another
    id, one the host's manifests do not allow: the build must stop before packing."""
    key = os.path.join(work, "other-key.pem")
    subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                    "-out", key], check=True, capture_output=True)
    result = run("bash", os.path.join(TOP, "tools", "package"), "deb",
                 env=dict(os.environ, ORVANTA_EXTENSION_KEY=key), capture_output=True, text=True)
    print(result.stderr.rstrip())
    return result.returncode != 0 and "is not the one whose public half" in result.stderr


def lintian(deb):
    result = run("lintian", "--fail-on", "error", "--info", deb, stdout=subprocess.PIPE,
                 stderr=subprocess.STDOUT, text=True)
    print(result.stdout.rstrip())
    tags = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    return result.returncode == 0 and not any(t.startswith("E:") for t in tags)


# --- the browsers -----------------------------------------------------------------------

class Session:
    """One page run: a token in its own folder, the stand-in and the PIN companion placed in
    the package's folder, and the page's server."""

    def __init__(self, build, folder):
        self.folder = folder
        self.token = demo.Token(folder, build, None, demo.DEMO_PIN, person_gives_pin=False)
        self.verdict = demo.Verdict(os.path.join(build, "testbin", "gost_verify"))
        self.extension_ready = lambda: True
        self.server = self._serve()
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.placed = [os.path.join(LIB, "olpkcs11xsg.so"), os.path.join(LIB, "olvgui.so")]
        self.token.place_beside(LIB)

    def _serve(self):
        session = self
        page_dir = os.path.join(TOP, "tools", "demo-page")

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *a, **kw):
                super().__init__(*a, directory=page_dir, **kw)

            def translate_path(self, path):
                if path.split("?", 1)[0] == "/orvanta.js":
                    return demo.PAGE_LIBRARY
                return super().translate_path(path)

            def do_GET(self):
                if self.path == "/wait.html":
                    # Chromium puts an extension's scripts only into pages opened after it
                    # installed it: wait for the install, then open the page.
                    self._answer("text/html", b"""<!DOCTYPE html><title>waiting</title><script>
function poll() {
  var r = new XMLHttpRequest();
  r.open('GET', '/installed');
  r.onload = function () {
    if (r.responseText === 'yes') setTimeout(function () { location.href = '/index.html'; }, 1000);
    else setTimeout(poll, 300);
  };
  r.onerror = function () { setTimeout(poll, 300); };
  r.send();
}
poll();
</script>""")
                elif self.path == "/installed":
                    self._answer("text/plain", b"yes" if session.extension_ready() else b"no")
                else:
                    super().do_GET()

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                try:
                    answer = session.verdict.judge(json.loads(body))
                except (ValueError, AttributeError, TypeError):
                    answer = {"checks": [], "ok": False}
                self._answer("application/json", json.dumps(answer).encode())
                session.verdict.done.set()

            def _answer(self, kind, data):
                self.send_response(200)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *a):
                pass

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        return server

    def env(self):
        """The browser's environment: a home of its own (no plug-in folder or host manifest
        of a person), the page's origin allowed ahead in the person's answers, no machine
        answers, the token and the PIN companion."""
        home = os.path.join(self.folder, "home")
        config = os.path.join(home, ".config")
        os.makedirs(os.path.join(config, "orvanta"), exist_ok=True)
        with open(os.path.join(config, "orvanta", "allowed-origins"), "w") as f:
            f.write("allow %s\n" % self.origin)
        run_dir = os.path.join(self.folder, "run")
        os.makedirs(run_dir, mode=0o700, exist_ok=True)
        env = dict(self.token.env, HOME=home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=run_dir,
                   XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   ORVANTA_MACHINE_ALLOWED_ORIGINS=os.path.join(self.folder, "no-machine-answers"))
        for name in ("QTWEBKIT_PLUGIN_PATH", "MOZ_PLUGIN_PATH", "ORVANTA_ALLOWED_ORIGINS"):
            env.pop(name, None)
        return env

    def wait(self, browser):
        deadline = time.monotonic() + PAGE_LIMIT + 30
        while not self.verdict.done.wait(0.2):
            if browser.poll() is not None or time.monotonic() > deadline:
                break
        if not self.verdict.done.is_set():
            print("the page did not report within %d s" % PAGE_LIMIT)
            return False
        demo.print_verdict(self.verdict)
        return self.verdict.ok

    def close(self):
        self.server.shutdown()
        for path in self.placed:
            if os.path.islink(path):
                os.unlink(path)


def qtwebkit_check(build):
    folder = tempfile.mkdtemp(prefix="orvanta-deb-qtwebkit-")
    session = Session(build, folder)
    browser = None
    try:
        url = session.origin + "/index.html"
        command = ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", "/usr/bin/python3", demo.__file__,
                   "--qtwebkit-child", url, os.path.join(folder, "page.png"), "0", str(PAGE_LIMIT)]
        print("QtWebKit, no plug-in path variable; page %s" % url, flush=True)
        browser = subprocess.Popen(command, env=session.env(), start_new_session=True)
        return session.wait(browser)
    finally:
        demo.stop_browser(browser)
        session.close()
        shutil.rmtree(folder, ignore_errors=True)


def extension_id():
    with open("/usr/share/orvanta/native-messaging-hosts/pelorima.orvanta.json") as f:
        origin = json.load(f)["allowed_origins"][0]
    return origin[len("chrome-extension://"):].rstrip("/")


def chromium_check(build, profile, version):
    """The demonstration page in headless Chromium with the profile folder `profile`; the
    extension Chromium takes from the package must be at `version` in that profile."""
    folder = tempfile.mkdtemp(prefix="orvanta-deb-chromium-")
    session = Session(build, folder)
    ext = os.path.join(profile, "Default", "Extensions", extension_id())
    session.extension_ready = lambda: os.path.isfile(os.path.join(ext, version + "_0", "manifest.json"))
    browser = None
    try:
        url = session.origin + "/wait.html"
        print("headless Chromium, profile %s, no --load-extension; page %s" % (profile, url), flush=True)
        browser = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--user-data-dir=" + profile, url],
            env=session.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        ok = session.wait(browser)
        versions = sorted(os.listdir(ext)) if os.path.isdir(ext) else []
        print("  the profile's copies of the extension: %s" % (", ".join(versions) or "none"))
        return ok and session.extension_ready()
    finally:
        demo.stop_browser(browser)
        session.close()
        shutil.rmtree(folder, ignore_errors=True)


# --- the steps --------------------------------------------------------------------------

def expect_layout():
    plugin_link = "/usr/lib/mozilla/plugins/nporvanta.so"
    check(os.path.realpath(plugin_link) == LIB + "/nporvanta.so", "%s leads to %s/nporvanta.so" % (plugin_link, LIB))
    check(os.path.realpath("/usr/bin/orvanta-host") == LIB + "/orvanta-host", "/usr/bin/orvanta-host leads to the host")
    ext = extension_id()
    for manifest in ["/etc/chromium/native-messaging-hosts/pelorima.orvanta.json",
                     "/etc/opt/chrome/native-messaging-hosts/pelorima.orvanta.json",
                     "/etc/opt/edge/native-messaging-hosts/pelorima.orvanta.json",
                     "/usr/lib/mozilla/native-messaging-hosts/pelorima.orvanta.json"]:
        try:
            with open(manifest) as f:
                content = json.load(f)
        except (OSError, ValueError) as e:
            check(False, "%s: %s" % (manifest, e))
            continue
        check(content.get("path") == LIB + "/orvanta-host", "%s names %s/orvanta-host" % (manifest, LIB))
    with open("/usr/share/chromium/extensions/%s.json" % ext) as f:
        external = json.load(f)
    check(os.path.isfile(external.get("external_crx", "")), "Chromium's entry for %s names the packed extension" % ext)
    check(not os.path.exists(os.path.join(LIB, "olpkcs11xsg.so")), "the package brings no vendor module")
    # Built with Debian's flags, the plug-in must still export the NPAPI entry points only.
    symbols = run("/usr/bin/python3", os.path.join(TOP, "tools", "check-so-symbols"), LIB + "/nporvanta.so",
                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(symbols.stdout.rstrip())
    check(symbols.returncode == 0, "the installed plug-in's exports and libraries")
    leaked = [p for p in package_files() if p.endswith(".pem") or "/home/" in p or p.startswith("/root")]
    check(not leaked, "no packing key and nothing in a home folder among the package's files %s" % leaked)


def expect_gone(files, baseline, what, shared_folders):
    left = [p for p in files if os.path.lexists(p) and p not in baseline]
    check(not left, "%s: every file the package installed is gone (%d listed)" % (what, len(files)))
    show("still there", left)
    added, removed, changed = differences(baseline, snapshot())
    if shared_folders:
        print("  empty folders no package owned before, which dpkg took away with the package: "
              + ", ".join(shared_folders))
    removed = [p for p in removed if p not in shared_folders]
    check(not (added or removed or changed), "%s: /etc, /usr, /var/lib as before the install" % what)
    show("added", added)
    show("removed", removed)
    show("changed", changed)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    if os.geteuid() != 0:
        print("deb_test: installs a package into this machine: run it as root")
        return 1
    if package_state() != "unknown to dpkg":
        print("deb_test: orvanta is already known to dpkg here (%s); this test starts from a "
              "machine without it" % package_state())
        return 1

    with open(os.path.join(TOP, "projects", "orvanta", "extension", "manifest.json")) as f:
        version = json.load(f)["version"]
    older = older_version(version)
    work = tempfile.mkdtemp(prefix="orvanta-deb-test-")
    baseline, shared = {}, []
    try:
        check(other_key_is_refused(work), "a packing key that does not give the extension's id is refused")
        # Build both first: the build names the files it made and keeps only its own.
        old_deb = build_package(older)
        if not check(old_deb is not None, "the package of the older build %s is built" % older):
            return 1
        # A build for this test only: kept here, not among the deliverables.
        old_deb = shutil.move(old_deb, work)
        deb = build_package()
        if not check(deb is not None, "the package %s is built" % version):
            return 1
        print("package: %s, %d bytes" % (deb, os.path.getsize(deb)))
        check(lintian(deb), "lintian reports no error")

        baseline = snapshot()
        if not check(apt("install", "--no-install-recommends", deb), "apt installs " + os.path.basename(deb)):
            return 1
        files = package_files()
        shared = empty_unowned_folders(files, baseline)
        expect_layout()
        check(qtwebkit_check(build), "QtWebKit: the installed plug-in passes the page's steps")
        check(chromium_check(build, os.path.join(work, "fresh-profile"), version),
              "Chromium: the installed extension and host pass the page's steps")

        check(apt("remove", "orvanta"), "apt removes the package")
        # The package has no configuration files: removing it leaves nothing to purge.
        check(package_state() == "unknown to dpkg", "after remove dpkg keeps nothing of it (%s)" % package_state())
        expect_gone(files, baseline, "after remove", shared)
        if check(apt("install", "--no-install-recommends", deb), "apt installs it again"):
            check(apt("purge", "orvanta"), "apt purges the package")
            check(package_state() == "unknown to dpkg", "after purge dpkg knows nothing of it (%s)" % package_state())
            expect_gone(files, baseline, "after purge", shared)

        profile = os.path.join(work, "upgraded-profile")
        if check(apt("install", "--no-install-recommends", old_deb), "apt installs the older build " + older):
            check(chromium_check(build, profile, older), "Chromium: the older build's extension %s works" % older)
            check(apt("install", "--no-install-recommends", deb), "apt upgrades to " + version)
            check(installed_version() == version, "dpkg has %s installed (%s)" % (version, installed_version()))
            added, removed, changed = differences(baseline, snapshot())
            new_files = set(package_files())
            check(set(added) == new_files - set(baseline),
                  "after the upgrade the machine holds exactly the new package's files")
            show("beyond the package", sorted(set(added) - new_files))
            show("missing", sorted(new_files - set(baseline) - set(added)))
            check(not removed and not changed, "the upgrade removed and changed nothing else")
            show("removed", removed)
            show("changed", changed)
            check(chromium_check(build, profile, version),
                  "Chromium: the same profile now runs the upgraded extension %s" % version)
            files = package_files()
        check(apt("purge", "orvanta"), "apt purges the upgraded package")
        expect_gone(files, baseline, "after the final purge", shared)
    finally:
        purge_quietly()
        # Folders that were there before (empty, nobody's) are put back as they were.
        for p in shared:
            if not os.path.lexists(p):
                os.mkdir(p)
                os.chmod(p, baseline[p][1] & 0o7777)
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("deb_test: FAILED: %d check(s)" % len(failures))
        for f in failures:
            print("  " + f)
        return 1
    print("deb_test: the package builds, installs, serves both browsers, upgrades and leaves nothing")
    return 0


if __name__ == "__main__":
    sys.exit(main())
