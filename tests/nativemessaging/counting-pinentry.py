#!/usr/bin/env python3
"""A pinentry double for several host processes at once: counts the CONFIRM prompts open at
the same moment and in all (in $COUNT_DIR/state, under a lock), keeps each prompt open for
$COUNT_DELAY seconds and answers with the button $COUNT_ANSWER names: "allow" (the "not OK"
button), "deny" (OK) or "cancel"."""
import fcntl
import json
import os
import sys
import time

state = os.path.join(os.environ["COUNT_DIR"], "state")


def update(change):
    with open(state + ".lock", "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            with open(state) as f:
                counts = json.load(f)
        except FileNotFoundError:
            counts = {"open": 0, "most": 0, "prompts": [], "notok": 0}
        change(counts)
        counts["most"] = max(counts["most"], counts["open"])
        with open(state, "w") as f:
            json.dump(counts, f)


def main():
    out = sys.stdout
    out.write("OK Pleased to meet you\n")
    out.flush()
    description = ""
    for line in sys.stdin:
        line = line.rstrip("\n")
        if line.startswith("SETDESC "):
            description = line[8:]
        if line.startswith("SETNOTOK "):
            update(lambda c: c.__setitem__("notok", c["notok"] + 1))
        if line.startswith("CONFIRM"):
            def opened(c):
                c["open"] += 1
                c["prompts"].append(description)
            update(opened)
            time.sleep(float(os.environ.get("COUNT_DELAY", "0.3")))
            update(lambda c: c.__setitem__("open", c["open"] - 1))
            answer = os.environ.get("COUNT_ANSWER", "allow")
            out.write({"allow": "ERR 83886194 Not confirmed <Pinentry>\n", "deny": "OK\n",
                       "cancel": "ERR 83886179 Operation cancelled <Pinentry>\n"}[answer])
        elif line.startswith("BYE"):
            out.write("OK closing connection\n")
            out.flush()
            return
        else:
            out.write("OK\n")
        out.flush()


main()
