#!/usr/bin/env python3
"""orvanta-host driven over a pipe as a browser drives it: well-formed calls, the framing's
edge cases (lengths 0, 1 MB and over the limit, truncated input), text that is not UTF-8
or not a JSON object, unknown methods and wrong argument types. Every message gets an
answer and the host goes on; input that breaks off ends the process cleanly; nothing
crashes it.

usage: host_pipe_test.py HOST --product-version X.Y.Z [--module FILE] [--token-status N]
                          [--runner PROGRAM [ARG...]]
HOST is copied into a temporary folder with the token module (if any) beside it, where
the host looks for it. --runner runs it (tools/wine-run for the Windows build).
"""
import argparse
import base64
import hashlib
import json
import os
import pty
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ORIGIN = "https://bank.example"
DENIED = "https://evil.example"
LIMIT = 1024 * 1024
TIMEOUT = 60

args = None


def extension_id():
    """The id Chromium gives the extension: from the public key its manifest carries (the
    first 128 bits of the key's SHA-256, each hex digit written as a letter a..p)."""
    manifest = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "projects",
                            "orvanta", "extension", "manifest.json")
    with open(manifest) as f:
        key = base64.b64decode(json.load(f)["key"])
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32])


CHROMIUM_ORIGIN = "chrome-extension://%s/" % extension_id()


def frame(body):
    return struct.pack("=I", len(body)) + body


def request(id_, method, arguments=None, origin=ORIGIN):
    message = {"id": id_, "origin": origin, "method": method}
    if arguments is not None:
        message["args"] = arguments
    return json.dumps(message).encode()


class Host:
    """One connection: the host process with its standard input and output as the port."""

    def __init__(self, folder, executable, origins=None, env_extra=None):
        env = dict(os.environ)
        if origins is None:
            origins = os.path.join(folder, "allowed-origins")
            with open(origins, "w") as f:
                f.write("allow %s\ndeny %s\n" % (ORIGIN, DENIED))
        if args.runner:
            origins = "Z:" + origins.replace("/", "\\")
        env["ORVANTA_ALLOWED_ORIGINS"] = origins
        # The administrator's list of this machine stays out of the tests unless one names it.
        machine = os.path.join(folder, "machine-allowed-origins")
        env["ORVANTA_MACHINE_ALLOWED_ORIGINS"] = ("Z:" + machine.replace("/", "\\")) if args.runner else machine
        # An error box (no token module) must not wait for a person: without a pinentry
        # that can show it, the text goes to standard error.
        env["ORVANTA_PINENTRY"] = "/bin/false"
        env.update(env_extra or {})
        command = (args.runner or []) + [executable]
        self.stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.stderr, env=env, cwd=folder)

    def send(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def receive(self):
        header = self.process.stdout.read(4)
        if len(header) != 4:
            raise AssertionError("the host sent no answer (got %r); stderr: %s" % (header, self.errors()))
        (length,) = struct.unpack("=I", header)
        if length > LIMIT:
            raise AssertionError("an answer of %d bytes, more than a browser takes" % length)
        body = self.process.stdout.read(length)
        return json.loads(body.decode("utf-8"))

    def ask(self, body):
        self.send(frame(body))
        return self.receive()

    def close(self):
        """The browser closes the port; returns the exit status and what is left on stdout."""
        self.process.stdin.close()
        rest = self.process.stdout.read()
        return self.process.wait(timeout=TIMEOUT), rest

    def dispose(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.stderr):
            if not stream.closed:
                stream.close()

    def errors(self):
        self.stderr.seek(0)
        return self.stderr.read().decode("utf-8", "replace")


class HostOverPipe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="orvanta-host-pipe-")
        cls.executable = os.path.join(cls.folder, os.path.basename(args.host))
        shutil.copy2(args.host, cls.executable)
        if args.module:
            shutil.copy2(args.module, cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.host = Host(self.folder, self.executable)

    def tearDown(self):
        self.host.dispose()

    def assertWorks(self):
        self.assertEqual(self.host.ask(request(99, "get_version", [])), {"id": 99, "result": "1.1"})

    def assertError(self, answer, id_, start):
        self.assertEqual(answer.get("id", "missing"), id_, answer)
        self.assertNotIn("result", answer)
        self.assertTrue(answer.get("error", "").startswith(start), answer)

    def test_calls_answer_the_plugins_values(self):
        self.assertEqual(self.host.ask(request(1, "get_version", [])), {"id": 1, "result": "1.1"})
        self.assertEqual(self.host.ask(json.dumps({"id": "p", "origin": ORIGIN, "get": "version"}).encode()),
                         {"id": "p", "result": "1.1"})
        self.assertEqual(self.host.ask(request(2, "olvIsTokenPresentAndOK", [])),
                         {"id": 2, "result": args.token_status})
        signature = self.host.ask(request(3, "olvRepair", ["K" * 64, "00" * 32]))
        self.assertRegex(signature.get("result", ""), "^[0-9A-F]{128}$", signature)
        self.assertEqual(self.host.close()[0], 0)

    def test_messages_of_every_length_up_to_the_limit_are_read(self):
        self.assertError(self.host.ask(b""), None, "The request is not valid JSON")
        self.assertWorks()
        # Exactly 1 MB: a whole request, padded with a member the host does not use.
        head = b'{"id":5,"origin":"%s","method":"get_version","args":[],"pad":"' % ORIGIN.encode()
        body = head + b"x" * (LIMIT - len(head) - 2) + b'"}'
        self.assertEqual(len(body), LIMIT)
        self.assertEqual(self.host.ask(body), {"id": 5, "result": "1.1"})
        self.assertEqual(self.host.close()[0], 0)

    def test_a_message_over_the_limit_is_refused_and_the_next_one_read(self):
        self.assertError(self.host.ask(b" " * (LIMIT + 1)), None, "The message is longer than")
        self.assertWorks()
        self.assertEqual(self.host.close()[0], 0)

    def test_bad_text_gets_a_clear_error_and_the_host_goes_on(self):
        cases = [
            (b'{"id":1,"origin":"%s","method":"get_version","args":["\xc3\x28"]}' % ORIGIN.encode(),
             None, "The request is not valid JSON"),
            (b"\xff\xfe\x00", None, "The request is not valid JSON"),
            (b"[1,2,3]", None, "The request is not a JSON object"),
            (b'"olvSign"', None, "The request is not a JSON object"),
            (b"null", None, "The request is not a JSON object"),
            (b'{"origin":"%s","method":"get_version"}' % ORIGIN.encode(), None, "The request has no id"),
            (b'{"id":6,"method":"get_version"}', 6, "The request does not name the page's origin"),
            (b'{"id":7,"origin":"%s","method":"olvSign","args":{"0":"c"}}' % ORIGIN.encode(), 7,
             "The arguments are not an array"),
            (request(8, "olvNoSuchMethod", []), 8, "The specified member does not exist: olvNoSuchMethod"),
            (request(9, "olvGetContainerName", ["abc"]), 9, "Could not convert from"),
            (request(10, "olvGetContainerName", [{"index": 0}]), 10, "Could not convert from"),
            (request(11, "olvRepair", [["K"] * 64, "00" * 32]), 11, "Could not convert from"),
            (request(12, "get_version", [], origin=DENIED), 12, "The page origin %s is not allowed" % DENIED),
            (request(13, "get_version", [], origin="http://bank.example"), 13, 'The page origin "http://bank.example" is not a secure origin'),
        ]
        for body, id_, start in cases:
            with self.subTest(body=body[:80]):
                self.assertError(self.host.ask(body), id_, start)
                self.assertWorks()
        self.assertEqual(self.host.close()[0], 0)

    def test_arguments_nested_too_deep_get_a_clear_error_and_the_host_goes_on(self):
        def nested(levels):
            return (b'{"id":%d,"origin":"%s","method":"olvRepair","args":['
                    % (levels, ORIGIN.encode()) + b"[" * levels + b"]" * levels + b',"00"]}')
        # Within the bound the call reaches the plug-in, which takes no array here.
        self.assertError(self.host.ask(nested(62)), 62, "Could not convert from")
        for levels in (64, 1000, 200000):
            with self.subTest(levels=levels):
                self.assertError(self.host.ask(nested(levels)), levels,
                                 "The arguments are nested more than 64 levels deep")
                self.assertWorks()
        self.assertEqual(self.host.close()[0], 0)

    def test_input_that_breaks_off_ends_the_host_without_an_answer(self):
        self.host.dispose()
        for name, data in [("half a length", b"\x05\x00"),
                           ("a short message", struct.pack("=I", 10) + b"12345"),
                           ("a huge length without its bytes", struct.pack("=I", 0xFFFFFFFF) + b"abc"),
                           ("a short message after a good one",
                            frame(request(1, "get_version", [])) + struct.pack("=I", 3) + b"a")]:
            with self.subTest(name):
                host = Host(self.folder, self.executable)
                try:
                    host.send(data)
                    status, rest = host.close()
                    errors = host.errors()
                finally:
                    host.dispose()
                self.assertEqual(status, 1, errors)
                expected = frame(json.dumps({"id": 1, "result": "1.1"}, separators=(",", ":")).encode()) \
                    if name.endswith("good one") else b""
                self.assertEqual(rest, expected)
                self.assertIn("the input ended inside a message", errors)

    def test_output_of_a_talkative_module_does_not_reach_the_browser(self):
        if not args.chatty_module:
            self.skipTest("no module that writes to standard output")
        self.host.dispose()
        folder = tempfile.mkdtemp(prefix="orvanta-host-chatty-")
        try:
            executable = os.path.join(folder, os.path.basename(args.host))
            shutil.copy2(args.host, executable)
            os.symlink(args.chatty_module, os.path.join(folder, "olpkcs11xsg.so"))
            saved = dict(os.environ)
            os.environ["ORVANTA_STANDIN_CHATTY"] = "vendor module says hello\n"
            # The stand-in never frees its call record (exit handlers may still use it), which
            # LeakSanitizer reports once the host has unloaded it: not the host's leak.
            os.environ["ASAN_OPTIONS"] = (os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0").lstrip(":")
            try:
                host = Host(folder, executable)
            finally:
                os.environ.clear()
                os.environ.update(saved)
            try:
                answer = host.ask(request(1, "olvIsTokenPresentAndOK", []))
                self.assertEqual(answer.get("id"), 1, answer)
                self.assertIsInstance(answer.get("result"), int, answer)
                self.assertEqual(host.ask(request(2, "get_version", [])), {"id": 2, "result": "1.1"})
                self.assertEqual(host.close(), (0, b""))
                self.assertIn("vendor module says hello", host.errors())
            finally:
                host.dispose()
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def test_status_tells_the_version_and_the_token_only_to_an_allowed_origin(self):
        def status(id_, origin):
            return self.host.ask(json.dumps({"id": id_, "origin": origin, "query": "status"}).encode())

        self.assertEqual(status(1, "https://new.example"),
                         {"id": 1, "result": {"host": args.product_version, "origin": "not-asked"}})
        self.assertEqual(status(2, DENIED), {"id": 2, "result": {
            "host": args.product_version, "origin": "refused",
            "reason": "The page origin %s is not allowed to use the token" % DENIED}})
        allowed = status(3, ORIGIN)["result"]
        self.assertEqual((allowed["host"], allowed["origin"]), (args.product_version, "allowed"))
        if args.token_status == -1:
            self.assertEqual((allowed["module"], allowed["token"]), ("loaded", "absent"), allowed)
        else:
            # No module beside the host: its failure is told, and no box waits for a person
            # (without a pinentry a box's text would go to standard error).
            self.assertEqual(allowed["module"], "failed", allowed)
            self.assertTrue(allowed["moduleError"].startswith("Error loading pkcs11 library 0x"), allowed)
            self.assertNotIn("Error loading pkcs11 library", self.host.errors())
        self.assertEqual(self.host.ask(request(4, "olvIsTokenPresentAndOK", [])),
                         {"id": 4, "result": args.token_status})
        self.assertWorks()

    def test_a_port_closed_at_once_ends_the_host_cleanly(self):
        self.assertEqual(self.host.close(), (0, b""))


class PromptsOfManyHosts(unittest.TestCase):
    """Several host processes at once, as a page with many connections (or many pages) makes
    them, with a pinentry double that counts the prompts open at the same moment."""

    def setUp(self):
        if args.runner:
            self.skipTest("the pinentry prompt is the Linux one")
        self.folder = tempfile.mkdtemp(prefix="orvanta-host-prompts-")
        self.executable = os.path.join(self.folder, os.path.basename(args.host))
        shutil.copy2(args.host, self.executable)
        self.origins = os.path.join(self.folder, "config", "allowed-origins")
        os.makedirs(os.path.dirname(self.origins))
        with open(self.origins, "w") as f:
            f.write("allow %s\n" % ORIGIN)
        self.hosts = []

    def tearDown(self):
        for host in self.hosts:
            host.dispose()
        shutil.rmtree(self.folder, ignore_errors=True)

    def ask_at_once(self, origins, answer, delay):
        """One host per origin, all asked at the same moment; their answers in order."""
        env = {"ORVANTA_PINENTRY": os.path.join(os.path.dirname(os.path.abspath(__file__)), "counting-pinentry.py"),
               "COUNT_DIR": self.folder, "COUNT_ANSWER": answer, "COUNT_DELAY": str(delay)}
        hosts = [Host(self.folder, self.executable, self.origins, env) for _ in origins]
        self.hosts += hosts
        for host, origin in zip(hosts, origins):
            host.send(frame(request(1, "get_version", [], origin=origin)))
        answers = [host.receive() for host in hosts]
        for host in hosts:
            self.assertEqual(host.close()[0], 0, host.errors())
        return answers

    def counts(self):
        try:
            with open(os.path.join(self.folder, "state")) as f:
                return json.load(f)
        except FileNotFoundError:
            return {"open": 0, "most": 0, "prompts": [], "notok": 0}

    def answers_file(self):
        with open(self.origins) as f:
            return sorted(line for line in f.read().splitlines() if not line.startswith("#"))

    def test_six_connections_of_one_page_get_one_prompt(self):
        answers = self.ask_at_once(["https://new.example"] * 6, "allow", 0.3)
        self.assertEqual(answers, [{"id": 1, "result": "1.1"}] * 6)
        counts = self.counts()
        self.assertEqual(len(counts["prompts"]), 1, counts)
        self.assertIn("https://new.example", counts["prompts"][0])
        self.assertEqual(counts["most"], 1, counts)
        self.assertEqual(self.answers_file(), sorted(["allow https://new.example", "allow " + ORIGIN]))

    def test_twelve_answers_at_once_are_all_kept(self):
        origins = ["https://site%d.example" % i for i in range(12)]
        answers = self.ask_at_once(origins, "deny", 0.02)
        self.assertEqual([a.get("error") for a in answers],
                         ["The page origin %s is not allowed to use the token" % o for o in origins])
        self.assertEqual(self.answers_file(), sorted(["deny " + o for o in origins] + ["allow " + ORIGIN]))
        counts = self.counts()
        self.assertEqual(counts["most"], 1, counts)

    def test_a_dismissed_prompt_holds_the_origin_back_in_every_host(self):
        answers = self.ask_at_once(["https://new.example"] * 4, "cancel", 0.2)
        for answer in answers:
            self.assertTrue(answer.get("error", "").startswith(
                "The page origin https://new.example is not allowed to use the token"), answer)
        self.assertEqual(sum("dismissed" in a["error"] for a in answers), 4, answers)
        # A connection made later, in a process of its own: refused at once, no prompt.
        later = self.ask_at_once(["https://new.example"], "allow", 0.2)
        self.assertIn("it is not shown again for", later[0].get("error", ""))
        self.assertEqual(len(self.counts()["prompts"]), 1, self.counts())
        self.assertEqual(self.answers_file(), ["allow " + ORIGIN])

    def test_the_administrators_list_answers_for_every_user_without_a_prompt(self):
        with open(os.path.join(self.folder, "machine-allowed-origins"), "w") as f:
            f.write("allow https://managed.example\ndeny %s\n" % ORIGIN)
        answers = self.ask_at_once(["https://managed.example", ORIGIN], "allow", 0)
        self.assertEqual(answers[0], {"id": 1, "result": "1.1"})
        self.assertEqual(answers[1].get("error"), "The page origin %s is not allowed to use the token" % ORIGIN)
        self.assertEqual(self.counts()["prompts"], [])
        self.assertEqual(self.answers_file(), ["allow " + ORIGIN])

    def test_enter_on_the_prompt_denies(self):
        # OK is the button Enter presses: it denies, and the allow button is another one.
        answers = self.ask_at_once(["https://new.example"], "deny", 0)
        self.assertEqual(answers[0].get("error"), "The page origin https://new.example is not allowed to use the token")
        self.assertEqual(self.counts()["notok"], 1)
        self.assertEqual(self.answers_file(), ["allow " + ORIGIN, "deny https://new.example"])


    def test_a_stray_enter_in_debians_pinentry_curses_denies(self):
        # The real pinentry-curses on a terminal of its own: Enter alone denies; allowing
        # takes Tab (to the allow button) and Enter.
        program = shutil.which("pinentry-curses")
        if not program:
            self.skipTest("pinentry-curses is not installed")
        for keys, verb in (("\r", "deny"), ("\t\r", "allow")):
            with self.subTest(verb):
                master, terminal = pty.openpty()
                try:
                    wrapper = os.path.join(self.folder, "pinentry-on-a-terminal")
                    with open(wrapper, "w") as f:
                        f.write('#!/bin/sh\nexec %s --ttyname %s --ttytype xterm\n' % (program, os.ttyname(terminal)))
                    os.chmod(wrapper, 0o755)
                    host = Host(self.folder, self.executable, self.origins, {"ORVANTA_PINENTRY": wrapper})
                    self.hosts.append(host)
                    host.send(frame(request(1, "get_version", [], origin="https://%s.example" % verb)))
                    drawn = b""
                    end = time.monotonic() + 20
                    while "Разрешить".encode() not in drawn and time.monotonic() < end:
                        if select.select([master], [], [], 0.2)[0]:
                            drawn += os.read(master, 65536)
                    self.assertIn("Разрешить".encode(), drawn, "the prompt was not drawn")
                    time.sleep(0.3)  # curses reads keys once it has drawn the whole dialog
                    os.write(master, keys.encode())
                    # An allowed page makes the plug-in, whose missing token module brings up
                    # an error box on the same terminal: Enter closes it.
                    answered = threading.Event()

                    def close_error_boxes():
                        while not answered.wait(0.5):
                            os.write(master, b"\r")
                    closer = threading.Thread(target=close_error_boxes)
                    closer.start()
                    try:
                        answer = host.receive()
                    finally:
                        answered.set()
                        closer.join()
                    self.assertEqual(host.close()[0], 0)
                finally:
                    os.close(master)
                    os.close(terminal)
                if verb == "allow":
                    self.assertEqual(answer, {"id": 1, "result": "1.1"})
                else:
                    self.assertEqual(answer.get("error"), "The page origin https://deny.example is not allowed to use the token")
        self.assertEqual(self.answers_file(), sorted(["allow " + ORIGIN, "allow https://allow.example",
                                                      "deny https://deny.example"]))


class HostInstall(unittest.TestCase):
    """--install and --uninstall: the manifests where each browser looks for them (on Windows
    beside the program, named by a registry key), and clear refusals of bad arguments."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="orvanta-host-install-")
        self.executable = os.path.join(self.folder, "bin", os.path.basename(args.host))
        os.makedirs(os.path.dirname(self.executable))
        shutil.copy2(args.host, self.executable)
        self.env = dict(os.environ, HOME=self.folder, XDG_CONFIG_HOME=os.path.join(self.folder, "config"))

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def run_host(self, *arguments):
        return subprocess.run((args.runner or []) + [self.executable] + list(arguments), env=self.env,
                              capture_output=True, text=True, timeout=TIMEOUT)

    def manifest(self, path):
        with open(path) as f:
            return json.load(f)

    def registry_value(self, key):
        query = subprocess.run((args.runner or []) + ["reg", "query", key, "/ve"], env=self.env,
                               capture_output=True, text=True, timeout=TIMEOUT)
        return query.stdout if query.returncode == 0 else None

    def test_bad_arguments_are_refused_with_the_usage(self):
        for arguments in (["--install", "--browser", "opera"], ["--install", "--browser"],
                          ["--install", "--uninstall"], ["--user"], ["--install", "--frobnicate"]):
            with self.subTest(arguments):
                result = self.run_host(*arguments)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn("usage: orvanta-host --install", result.stderr)

    def test_install_and_uninstall_on_linux(self):
        if args.runner:
            self.skipTest("Linux layout")
        places = {
            "chromium": os.path.join(self.folder, "config", "chromium", "NativeMessagingHosts"),
            "chrome": os.path.join(self.folder, "config", "google-chrome", "NativeMessagingHosts"),
            "edge": os.path.join(self.folder, "config", "microsoft-edge", "NativeMessagingHosts"),
            "firefox": os.path.join(self.folder, ".mozilla", "native-messaging-hosts"),
        }
        result = self.run_host("--install")
        self.assertEqual(result.returncode, 0, result.stderr)
        for browser, folder in places.items():
            manifest = self.manifest(os.path.join(folder, "pelorima.orvanta.json"))
            self.assertEqual(manifest["path"], self.executable)
            self.assertEqual(manifest["type"], "stdio")
            if browser == "firefox":
                self.assertEqual(manifest["allowed_extensions"], ["orvanta@pelorima"])
            else:
                self.assertEqual(manifest["allowed_origins"], [CHROMIUM_ORIGIN])
        result = self.run_host("--uninstall", "--browser", "chrome")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(places["chrome"], "pelorima.orvanta.json")))
        self.assertTrue(os.path.exists(os.path.join(places["chromium"], "pelorima.orvanta.json")))
        # Removing what is not there is not an error.
        result = self.run_host("--uninstall", "--browser", "chrome", "--user")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("was not installed", result.stdout)

    def test_a_program_path_that_is_not_utf8_is_refused_clearly(self):
        if args.runner:
            self.skipTest("Linux file names are bytes")
        folder = os.path.join(os.fsencode(self.folder), b"bin-\xff\xfe")
        os.makedirs(folder)
        executable = os.path.join(folder, os.fsencode(os.path.basename(args.host)))
        shutil.copy2(args.host, executable)
        result = subprocess.run([executable, "--install", "--browser", "chromium"], env=self.env,
                                capture_output=True, timeout=TIMEOUT)
        stderr = result.stderr.decode("utf-8", "replace")
        self.assertEqual(result.returncode, 1, stderr)
        self.assertIn("is not UTF-8 text", stderr)
        self.assertIn("bin-\\xFF\\xFE", stderr)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "config", "chromium")))

    def test_a_system_install_of_a_program_others_can_change_is_refused(self):
        # The temporary folder is writable by every user (on Windows: not the Administrators'):
        # anybody could swap the program or put a module beside it that every user's browser
        # would then load.
        result = self.run_host("--install", "--system", "--browser", "edge")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("not installed for every user", result.stderr)
        if args.runner:
            self.assertIsNone(self.registry_value(r"HKLM\Software\Microsoft\Edge\NativeMessagingHosts\pelorima.orvanta"))
        else:
            self.assertIn("can be changed by", result.stderr)
            self.assertFalse(os.path.exists("/etc/opt/edge/native-messaging-hosts/pelorima.orvanta.json"))

    def test_install_and_uninstall_on_windows(self):
        if not args.runner:
            self.skipTest("Windows layout")
        key = r"HKCU\Software\Chromium\NativeMessagingHosts\pelorima.orvanta"
        result = self.run_host("--install", "--browser", "chromium")
        self.assertEqual(result.returncode, 0, result.stderr)
        manifest_file = os.path.join(os.path.dirname(self.executable), "pelorima.orvanta.json")
        manifest = self.manifest(manifest_file)
        self.assertTrue(manifest["path"].lower().endswith("\\orvanta-host.exe"), manifest["path"])
        self.assertEqual(manifest["allowed_origins"], [CHROMIUM_ORIGIN])
        value = self.registry_value(key)
        self.assertIsNotNone(value, "no registry key")
        self.assertIn("pelorima.orvanta.json", value)
        result = self.run_host("--uninstall", "--browser", "chromium")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIsNone(self.registry_value(key))
        self.assertFalse(os.path.exists(manifest_file))
        edge = r"HKCU\Software\Microsoft\Edge\NativeMessagingHosts\pelorima.orvanta"
        result = self.run_host("--install", "--browser", "edge")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("pelorima.orvanta.json", self.registry_value(edge) or "")
        self.assertEqual(self.run_host("--uninstall", "--browser", "edge").returncode, 0)
        self.assertIsNone(self.registry_value(edge))


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("host")
    parser.add_argument("--module")
    parser.add_argument("--chatty-module")
    parser.add_argument("--token-status", type=int, default=-51)
    parser.add_argument("--product-version", required=True)
    parser.add_argument("--runner", nargs="+")
    args, rest = parser.parse_known_args()
    args.host = os.path.abspath(args.host)
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    result = program.result
    failed = len(result.failures) + len(result.errors)
    skipped = len(result.skipped)
    print("%d passed, %d failed, %d skipped" % (result.testsRun - failed - skipped, failed, skipped))
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
