#!/usr/bin/env python3
"""tools/demo --chromium: the demonstration page (tools/demo-page) in headless Chromium with
the extension and orvanta-host, against a fresh SoftHSM token in a temporary folder. The
token module is the test stand-in forwarding to SoftHSM, and the PIN comes from the test
companion, so nothing waits for a person. Prints what the page shows."""
import argparse
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

SOFTHSM = os.environ.get("ORVANTA_SOFTHSM_PREFIX", "/var/cache/orvanta/softhsm-2.6.1-gost")
TIMEOUT = 120


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    options = parser.parse_args()
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(options.build)
    folder = tempfile.mkdtemp(prefix="orvanta-demo-")
    browser = None
    server = None
    try:
        config = os.path.join(folder, "config")
        host_dir = os.path.join(folder, "host")
        os.makedirs(host_dir)
        host = os.path.join(host_dir, "orvanta-host")
        shutil.copy2(os.path.join(build, "host", "orvanta-host"), host)
        os.symlink(os.path.join(build, "testbin", "olpkcs11xsg.so"), os.path.join(host_dir, "olpkcs11xsg.so"))

        tokens = os.path.join(folder, "tokens")
        os.makedirs(tokens)
        conf = os.path.join(folder, "softhsm2.conf")
        with open(conf, "w") as f:
            f.write("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n" % tokens)
        env = dict(os.environ, SOFTHSM2_CONF=conf, XDG_CONFIG_HOME=config, HOME=folder,
                   ORVANTA_STANDIN_TARGET=os.path.join(SOFTHSM, "lib", "softhsm", "libsofthsm2.so"),
                   LD_LIBRARY_PATH=os.path.join(build, "testbin", "companion-ok"))
        subprocess.run([os.path.join(SOFTHSM, "bin", "softhsm2-util"), "--init-token", "--free",
                        "--label", "orvanta demo", "--so-pin", "87654321", "--pin", "123456"],
                       env=env, check=True, stdout=subprocess.DEVNULL)
        subprocess.run([host, "--install", "--browser", "chromium", "--user"], env=env, check=True)

        done = threading.Event()
        answers = []

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *a, **kw):
                super().__init__(*a, directory=os.path.join(top, "tools", "demo-page"), **kw)

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                answers.extend(json.loads(body))
                self.send_response(204)
                self.end_headers()
                done.set()

            def log_message(self, *a):
                pass

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        origin = "http://127.0.0.1:%d" % server.server_address[1]
        # The person's yes for this page, given ahead so no prompt waits.
        os.makedirs(os.path.join(config, "orvanta"), exist_ok=True)
        with open(os.path.join(config, "orvanta", "allowed-origins"), "w") as f:
            f.write("allow %s\n" % origin)

        extension = os.path.join(top, "projects", "orvanta", "extension")
        print("Chromium, the orvanta extension and orvanta-host; page %s/index.html" % origin)
        browser = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--user-data-dir=" + os.path.join(config, "chromium"), "--load-extension=" + extension,
             "--disable-extensions-except=" + extension, origin + "/index.html"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        if not done.wait(TIMEOUT):
            print("the page did not finish within %d s" % TIMEOUT, file=sys.stderr)
            return 1
        width = max(len(a["call"]) for a in answers)
        for a in answers:
            print("  %-*s  %s" % (width, a["call"], a["answer"]))
        return 0
    finally:
        if browser is not None:
            os.killpg(browser.pid, signal.SIGTERM)
            browser.wait()
        if server is not None:
            server.shutdown()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
