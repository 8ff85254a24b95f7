#!/usr/bin/env bash
# Runs every benchmark program of a build, one after the other, and writes
# the table of their medians, each beside the machine's load while it ran, to
# standard output and <build>/benchmarks/results/table.md; benchmarks/README.md
# gets the rows that stand for the program's goals (between its "benchmarks
# table" marks).
#
#   benchmarks/run_all.sh [build folder, default build] [--no-readme] [--table-only] [--only=lab,startup]
#
# --only runs the programs named (without "zorva_bench_"); the README keeps
# the rows of the others as they were.
# The programs' own output goes to <build>/benchmarks/results/<program>.txt,
# their figures to <program>.json. ZORVA_BENCH_TRACKS=300000 runs them all on
# a library of 300,000 tracks.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
readme=1
run=1
only=
for arg in "$@"; do
  case "$arg" in
    --no-readme) readme=0 ;;
    --table-only) run=0 ;;  # the table again from the last run's figures
    --only=*) only=",${arg#--only=}," ;;
    *) build="$arg" ;;
  esac
done
results="$build/benchmarks/results"
mkdir -p "$results"

programs=(zorva_bench_queries zorva_bench_records zorva_bench_library_scan zorva_bench_player_library
          zorva_bench_tag_links zorva_bench_lab zorva_bench_scheduler_tools zorva_bench_chromium_page
          zorva_bench_startup zorva_bench_mpd_library_scan)
if [[ -n "$only" ]]; then
  chosen=()
  for program in "${programs[@]}"; do
    [[ "$only" == *",${program#zorva_bench_},"* ]] && chosen+=("$program")
  done
  programs=("${chosen[@]}")
fi
# The queries of the table only: all of them take half an hour on a busy machine.
queries='^(TagList/|AllTagsPage/offset:0/|LabAllTracks/offset:0/|LabMixTracks/offset:(0|19700)/|LabLoadMix/|MixTags/large/|Refill/large_mix/)'
for program in "${programs[@]}"; do
  ((run)) || break
  binary="$build/benchmarks/$program"
  [[ -x "$binary" ]] || { echo "missing $binary (build the benchmarks first)" >&2; exit 1; }
  # The scan from MPD needs an MPD to start.
  [[ "$program" == zorva_bench_mpd_library_scan ]] && ! command -v mpd >/dev/null && continue
  args=()
  # One start per iteration: its repetitions give the median.
  [[ "$program" == zorva_bench_startup ]] && args+=(--benchmark_repetitions=5)
  [[ "$program" == zorva_bench_queries ]] && args+=("--benchmark_filter=$queries")
  read -r before _ < /proc/loadavg
  echo "running $program (load $before)" >&2
  "$binary" "${args[@]}" --benchmark_out="$results/$program.json" --benchmark_out_format=json \
    > "$results/$program.txt" 2>&1 || echo "$program failed: see $results/$program.txt" >&2
  read -r after _ < /proc/loadavg
  printf '%s %s\n' "$before" "$after" > "$results/$program.load"
done

python3 - "$results" "$readme" "${programs[@]}" <<'EOF'
import json, os, re, sys

results, readme, programs = sys.argv[1], sys.argv[2] == "1", sys.argv[3:]
ran = {p.replace("zorva_bench_", "") for p in programs}

def medians(program):
    """name -> (median real time, unit) or a counter, from the program's JSON."""
    path = os.path.join(results, program + ".json")
    if not os.path.exists(path):
        return {}, {}
    with open(path) as f:
        data = json.load(f)
    times, counters = {}, {}
    repeated = {b["run_name"] for b in data["benchmarks"] if b.get("run_type") == "aggregate"}
    for b in data["benchmarks"]:
        name = b["run_name"]
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if b.get("run_type") != "aggregate" and name in repeated:
            continue
        name = re.sub(r"/(repeats|min_time|real_time|iterations):?[^/]*", "", name)
        name = re.sub(r"/real_time$", "", name)
        times[name] = (b["real_time"], b["time_unit"])
        for key in ("rss_MB", "settled_rss_MB", "browser_pss_MB", "browser_MB", "settled_hwm_MB"):
            if key in b:
                counters[name + " " + key] = b[key]
    return times, counters

def fmt(value, unit=""):
    text = f"{value:.3g}" if value < 100 else f"{value:.0f}"
    return text + (" " + unit if unit else "")

rows = []
for program in programs:
    times, counters = medians(program)
    load_path = os.path.join(results, program + ".load")
    load = open(load_path).read().split() if os.path.exists(load_path) else ["?", "?"]
    load_text = f"{load[0]}-{load[1]}"
    short = program.replace("zorva_bench_", "")
    if program == "zorva_bench_queries":
        # The program beside the plain statements on their own copy, as the
        # program prints them: first call after a change, and the upgraded file.
        for case in ("TagList/genre", "TagList/album", "TagList/artist", "AllTagsPage/offset:0",
                     "LabAllTracks/offset:0", "LabMixTracks/offset:0", "LabMixTracks/offset:19700",
                     "LabLoadMix", "MixTags/large", "Refill/large_mix"):
            plain = times.get(case + "/written")
            project = times.get(case + "/project")
            upgraded = times.get(case + "/project_upgraded")
            if not plain or not project:
                continue
            text = f"{fmt(project[0], project[1])} (plain {fmt(plain[0])}, x{plain[0] / project[0]:.1f}"
            if upgraded:
                text += f"; upgraded file {fmt(upgraded[0])}, x{plain[0] / upgraded[0]:.1f}"
            rows.append((short, case + " after a change", text + ")", load_text))
            # The scan's connection stored a track: the tag lists beside the plain statement.
            elsewhere = times.get(case + "/project_elsewhere")
            if elsewhere:
                rows.append((short, case + " after another connection's change",
                             f"{fmt(elsewhere[0], elsewhere[1])} (plain {fmt(plain[0])}, x{plain[0] / elsewhere[0]:.1f})",
                             load_text))
        continue
    for name, (value, unit) in times.items():
        rows.append((short, name.replace("BM_", ""), fmt(value, unit), load_text))
    for name, value in counters.items():
        rows.append((short, name.replace("BM_", ""), fmt(value, "MB" if "MB" in name else ""), load_text))

def table_of(chosen):
    lines = ["| program | benchmark | median | load |", "|---|---|---|---|"]
    lines += [f"| {p} | {n} | {v} | {l} |" for p, n, v, l in chosen]
    return "\n".join(lines)

table = table_of(rows)
print(table)
with open(os.path.join(results, "table.md"), "w") as f:
    f.write(table + "\n")
# benchmarks/README.md keeps the rows that stand for the goals: the queries beside the
# plain statements, the start and its memory, the scans, the tag lists and
# the Lab's views in a real page.
goal_rows = re.compile(r"ScanIntoNewDatabase|RescanDatabase/analysed:1|^LabLargest(Tag|Mix)(InPlace)?$"
                       r"|^LabHome(Changed)?(InPlace)?$|^MemoryWithAllLabPages "
                       r"|^LabSearch$|^LabPageLoadOnly$|^LabTinyPageLoadFloor$|^BareChromiumToBlankPage"
                       r"|TagLinksLoadListsIntoRealPage|TagLinksThreshold|StartToFirstTrackPlaying|ReadPlayerOnly")
table = table_of([r for r in rows if r[0] == "queries" or goal_rows.search(r[1])])
if readme:
    with open("benchmarks/README.md") as f:
        text = f.read()
    start, end = "<!-- benchmarks table -->", "<!-- end of benchmarks table -->"
    if start in text and end in text:
        head, rest = text.split(start, 1)
        kept, tail = rest.split(end, 1)
        # Rows of the programs not run this time stay, in their place.
        order = [p.replace("zorva_bench_", "") for p in programs]
        chosen = [r for r in rows if r[0] == "queries" or goal_rows.search(r[1])]
        old = [tuple(c.strip() for c in line.strip().strip("|").split("|"))
               for line in kept.strip().splitlines()[2:] if line.startswith("|")]
        merged, seen = [], set()
        for row in old:
            if row[0] not in ran:
                merged.append(row)
            elif row[0] not in seen:
                seen.add(row[0])
                merged += [r for r in chosen if r[0] == row[0]]
        merged += [r for r in chosen if r[0] not in seen]
        with open("benchmarks/README.md", "w") as f:
            f.write(head + start + "\n" + table_of(merged) + "\n" + end + tail)
EOF
