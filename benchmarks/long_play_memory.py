#!/usr/bin/env python3
"""Memory over a long play: the real Zorva (headless, on the desktop control's
manual clock) plays many tracks of the player stand-in (its sample library,
on its own manual clock), and the proportional set size (PSS) of Zorva and of
its browser's process tree is printed every so many tracks.

    benchmarks/long_play_memory.py [build folder] [--tracks N] [--every N] [--shown]

Each track: the stand-in's track is sought to its end (it stops and Zorva
plays the next of its queue), then Zorva's clock moves one second on and its
messages are settled. Nothing waits for real time but the settling.
"""
import argparse
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time


def pss_kb(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def children(pid):
    found = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as f:
                found += [int(c) for c in f.read().split()]
    except OSError:
        pass
    return found


def tree(pid):
    pids = []
    todo = children(pid)
    while todo:
        p = todo.pop()
        pids.append(p)
        todo += children(p)
    return pids


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--tracks", type=int, default=3000)
    parser.add_argument("--every", type=int, default=250)
    parser.add_argument("--log", help="keep Zorva's standard error in this file")
    parser.add_argument("--shown", action="store_true", help="show the windows on $DISPLAY instead of headless")
    args = parser.parse_args()
    bin_dir = os.path.abspath(os.path.join(args.build, "bin"))
    home = tempfile.mkdtemp(prefix="zorva-long-play-")
    env = dict(os.environ)
    for name in ("runtime", "data", "config", "tmp"):
        os.makedirs(os.path.join(home, name), mode=0o700)
    socket = os.path.join(home, "runtime", "player.sock")
    env.update(HOME=home, XDG_DATA_HOME=home + "/data", XDG_CONFIG_HOME=home + "/config",
               XDG_RUNTIME_DIR=home + "/runtime", TMPDIR=home + "/tmp", ZORVA_PLAYER_SOCKET=socket,
               ZORVA_HEADLESS="0" if args.shown else "1", ZORVA_INTERNET_CONNECTED="0", ZORVA_DESKTOP_CONTROL="1")
    env.pop("ZORVA_PLAYER_LIBRARY", None)
    player_log = open(os.path.join(home, "player.log"), "w")
    player = subprocess.Popen([bin_dir + "/zorva-player", "serve", "--sample", "--manual-clock", "--socket", socket],
                              env=env, stdout=player_log, stderr=subprocess.STDOUT)
    for _ in range(200):
        if os.path.exists(socket):
            break
        time.sleep(0.05)

    def ctl(*words):
        return subprocess.run([bin_dir + "/zorva-player", "ctl", "--socket", socket, *words], env=env,
                              capture_output=True, text=True).stdout

    zorva_log = open(os.path.join(home, "zorva.log"), "w")
    zorva = subprocess.Popen([bin_dir + "/Zorva"], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=zorva_log, text=True, bufsize=1)
    zorva_out = zorva.stdout
    token = 0
    pending = bytearray()

    def command(line):
        nonlocal token
        token += 1
        zorva.stdin.write(line + "\n")
        zorva.stdin.write(f"sync {token}\n")
        zorva.stdin.flush()
        answer = []
        while True:
            # Zorva's thread may wait on its clock (a busy database): time
            # goes on in small steps until the answer comes.
            if b"\n" not in pending:
                if not select.select([zorva.stdout], [], [], 0.5)[0]:
                    zorva.stdin.write("advance 20\n")
                    zorva.stdin.flush()
                    continue
                more = os.read(zorva.stdout.fileno(), 65536)
                if not more:
                    raise SystemExit("Zorva ended")
                pending.extend(more)
                continue
            line, _, rest = bytes(pending).partition(b"\n")
            pending[:] = rest
            got = line.decode(errors="replace")
            if got.strip() == f"sync {token}":
                return answer
            answer.append(got.strip())

    def playing():
        shown = command("text Zorva.htm trackname")
        return shown[0] if shown else ""

    def report(done):
        sizes = [pss_kb(p) for p in tree(zorva.pid)]
        print(f"tracks {done:5d}  zorva {pss_kb(zorva.pid) / 1024:7.1f} MB  browser tree {sum(sizes) / 1024:7.1f} MB"
              f"  ({len(sizes)} processes, largest {max(sizes, default=0) / 1024:.1f} MB)"
              f"  load {os.getloadavg()[0]:.2f}", flush=True)

    def each(before):
        """PSS of each process of the browser's tree, printed beside what it was."""
        now = {}
        for p in tree(zorva.pid):
            try:
                kind = re.search(r"--type=([a-z-]+)", open(f"/proc/{p}/cmdline").read().replace("\0", " "))
            except OSError:
                continue
            now[p] = pss_kb(p)
            if before:
                print(f"  {p} {kind.group(1) if kind else 'browser'} {before.get(p, 0) / 1024:.1f} -> "
                      f"{now[p] / 1024:.1f} MB")
        return now

    try:
        # The start: the page fills, the scan of the new database stores the
        # library, the first track plays.
        for _ in range(120):
            command("advance 1000")
            if playing() and "playing" in ctl("status"):
                break
        else:
            raise SystemExit("nothing plays")
        report(0)
        first = each({})
        changes = 0
        last = playing()
        for done in range(1, args.tracks + 1):
            ctl("seek", "100000")
            command("advance 1000")
            now = playing()
            if now != last:
                changes += 1
            last = now
            if done % args.every == 0:
                report(done)
        each(first)
        print(f"{args.tracks} ends of a track, the title changed {changes} times")
    finally:
        try:
            zorva.stdin.write("quit\n")
            zorva.stdin.flush()
            zorva.wait(timeout=20)
        except Exception:
            zorva.kill()
        player.terminate()
        player.wait()
        if args.log:
            shutil.copy(os.path.join(home, "zorva.log"), args.log)
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
