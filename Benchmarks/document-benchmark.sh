#!/usr/bin/env bash
# Opens a generated project of 2,000 files (300 MB: code text, incompressible images and a
# document of 2,000 frames) as the user does, from the open command to the editor page
# showing the document, beside `unzip -q` of the same package in the same run (each followed
# by a flush of its file system, as our open makes one). Then changes ten files and autosaves
# it as the minute timer does, reporting the longest stall of the main loop; and the longest
# stalls of a backup, an autosave, the directory monitor and the project log with a document
# of 20 MB, each beside the longest stall of the same main loop left idle as long.
# Not part of scripts/test. Usage: Benchmarks/document-benchmark.sh [work folder]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi
build="${KX_BUILD_DIR:-$root/build}"
work="${1:-/tmp/kx-document-bench}"
runs=3
bench="$build/bin/kx_document_benchmark"

"$root/scripts/build" >/dev/null
mkdir -p "$work"
tree="$work/tree"
zip="$work/project.korvelx"

if [[ ! -f "$tree.done" ]]; then
  echo "Generating $tree"
  rm -rf "$tree"
  python3 - "$tree" 300 2000 <<'PY'
import json, os, random, sys
root, megabytes, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(7)
words = ["frame", "layer", "fill", "stroke", "radius", "opacity", "text", "button", "header", "shadow",
         "const", "return", "function", "import", "export", "props", "state", "width", "height", "color"]
def write(path, data):
    path = os.path.join(root, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
def code(size):
    parts, length = [], 0
    while length < size:
        line = "export function %s%d(props) { return props.%s * %d; }\n" % (
            random.choice(words), random.randrange(10000), random.choice(words), random.randrange(1000))
        parts.append(line)
        length += len(line)
    return "".join(parts)[:size].encode()
half = megabytes * 1000 * 1000 // 2
files = count // 2
names = ["image%04d.%s" % (i, random.choice(["png", "jpg", "webp"])) for i in range(files)]
frames = [{"id": "frame-%d" % i, "name": "Frame %d" % i, "text": " ".join(random.choices(words, k=12))} for i in range(2000)]
write("design/document.json", json.dumps({"version": 1, "frames": frames, "images": names}).encode())
size = half
for i in range(files - 1):
    n = size // (files - 1 - i) if i < files - 2 else size
    n = max(1, min(size, int(n * random.uniform(0.3, 1.7)))) if i < files - 2 else size
    size -= n
    write("code/module%02d/file%04d.js" % (i % 40, i), code(n))
size = half
for i, name in enumerate(names):
    n = min(size, int(half / files * random.uniform(0.3, 1.7))) if i < files - 1 else size
    size -= n
    write("design/images/" + name, os.urandom(n))
PY
  touch "$tree.done"
fi
[[ -f "$zip" ]] || "$bench" pack "$tree" "$zip"
echo "== $(find "$tree" -type f | wc -l) files, $(($(du -sb "$tree" | cut -f1) / 1000000)) MB, package $(($(stat -c %s "$zip") / 1000000)) MB"
cat "$zip" >/dev/null

counter=0
fresh() { # sets `home` to a home of its own (not in a subshell: the count must go on), so
  # that no working folder of an earlier run is reused
  counter=$((counter + 1))
  home="$work/run-$counter"
  rm -rf "$home"
  mkdir -p "$home"/{config,cache,data}
}
inHome() { # home, command...
  local home="$1"
  shift
  HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" XDG_DATA_HOME="$home/data" "$@"
}
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
field() { sed -n "s/^$1=//p"; }

ours=()
theirs=()
for ((i = 0; i < runs; i++)); do
  fresh
  sync -f "$work"
  start=$(date +%s.%N)
  inHome "$home" "$bench" open "$zip" >"$home/open.out"
  sync -f "$home"
  end=$(date +%s.%N)
  ours+=("$(awk "BEGIN { printf \"%.3f\", $end - $start }")")
  inner=$(field open_seconds <"$home/open.out")
  out=$(mktemp -d -p "$work")
  sync -f "$work"
  start=$(date +%s.%N)
  unzip -q "$zip" -d "$out"
  sync -f "$out"
  end=$(date +%s.%N)
  theirs+=("$(awk "BEGIN { printf \"%.3f\", $end - $start }")")
  echo "  run $((i + 1)): open command to document shown ${inner} s (process with flush ${ours[-1]} s), unzip -q + sync ${theirs[-1]} s"
done
o=$(median "${ours[@]}")
t=$(median "${theirs[@]}")
echo "open:     ours ${o} s (whole process, start-up included), unzip -q + sync ${t} s, ratio $(awk "BEGIN { printf \"%.2f\", $o / $t }")"

fresh
inHome "$home" "$bench" autosave "$zip" >"$home/autosave.out"
echo "autosave: ten files changed: $(field autosave_seconds <"$home/autosave.out") s," \
     "longest main-loop stall $(field autosave_stall_ms <"$home/autosave.out") ms"
fresh
cp "$zip" "$home/stalls.korvelx"
inHome "$home" "$bench" stalls "$home/stalls.korvelx" 20 >"$home/stalls.out"
stall() { echo "$(field "$1_stall_ms" <"$home/stalls.out") ms (idle loop $(field "$1_idle_stall_ms" <"$home/stalls.out") ms)"; }
echo "stalls with a 20 MB document: backup $(stall backup), autosave $(stall autosave)," \
     "directory monitor $(stall monitor), project log $(stall log) (one frame: 16 ms)"
find "$work" -mindepth 1 -maxdepth 1 -name 'run-*' -exec rm -rf {} +
find "$work" -mindepth 1 -maxdepth 1 -name 'tmp.*' -exec rm -rf {} +
