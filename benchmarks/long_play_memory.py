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
import struct
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


def resident_once_kb(pids):
    """The resident memory of these processes, each page of memory counted
    once however many of them map it: unlike PSS it does not fall when other
    programs (other browsers) map the same files. Needs the page frame numbers
    of /proc/<pid>/pagemap (root): 0 without them."""
    frames = set()
    for pid in pids:
        try:
            ranges = []
            span = None
            with open(f"/proc/{pid}/smaps") as f:
                for line in f:
                    head = line.split(None, 1)[0]
                    if "-" in head and not head.endswith(":"):
                        start, end = head.split("-")
                        span = (int(start, 16), int(end, 16))
                    elif head == "Rss:" and int(line.split()[1]) > 0:
                        ranges.append(span)
            fd = os.open(f"/proc/{pid}/pagemap", os.O_RDONLY)
            try:
                for start, end in ranges:
                    data = os.pread(fd, (end - start) // 4096 * 8, start // 4096 * 8)
                    for (entry,) in struct.iter_unpack("<Q", data[: len(data) // 8 * 8]):
                        frame = entry & ((1 << 55) - 1)
                        if entry >> 63 and frame:
                            frames.add(frame)
            finally:
                os.close(fd)
        except OSError:
            pass
    return len(frames) * 4


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
        pids = tree(zorva.pid)
        sizes = [pss_kb(p) for p in pids]
        print(f"tracks {done:5d}  zorva {pss_kb(zorva.pid) / 1024:7.1f} MB  browser tree {sum(sizes) / 1024:7.1f} MB"
              f" (counted once {resident_once_kb(pids) / 1024:6.1f} MB)"
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
