#!/usr/bin/env bash
# Opens a generated project of 2,000 files (300 MB: half JSON and code text, half
# incompressible images, the document naming every image) into a working container and saves
# it back after 10 files changed, beside `unzip -q` and `zip -r -q` of the same package and
# tree, each followed by a flush of its file system as our open and save make one. The same at
# a third of the size, with the same 20 MB document, shows whether memory grows with the
# project. Then 200 mixed images
# through the downscaled-image cache beside plain gdk-pixbuf on a pool of the same size.
# Not part of scripts/test. Usage: Benchmarks/container-benchmark.sh [work folder]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KX_BUILD_DIR:-$root/build}"
work="${1:-/tmp/kx-container-bench}"
runs=3
bench="$build/bin/kx_container_benchmark"

"$root/scripts/build" >/dev/null
mkdir -p "$work"

generate() { # folder, megabytes, files
  [[ -f "$1.done" ]] && return
  echo "Generating $1"
  rm -rf "$1"
  python3 - "$1" "$2" "$3" <<'PY'
import json, os, random, sys
root, megabytes, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(7)
words = ["frame", "layer", "fill", "stroke", "radius", "opacity", "text", "button", "header", "shadow",
         "const", "return", "function", "import", "export", "props", "state", "width", "height", "color"]
def text(size, code):
    parts, length = [], 0
    while length < size:
        if code:
            line = "export function %s%d(props) { return props.%s * %d; }\n" % (
                random.choice(words), random.randrange(10000), random.choice(words), random.randrange(1000))
        else:
            line = json.dumps({"id": "%08x" % random.getrandbits(32), "type": random.choice(words),
                               "x": random.randrange(2000), "y": random.randrange(2000),
                               "name": " ".join(random.choices(words, k=3))}) + ",\n"
        parts.append(line)
        length += len(line)
    return "".join(parts)[:size].encode()
def write(path, data):
    path = os.path.join(root, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
half = megabytes * 1000 * 1000 // 2
files = count // 2
names = ["image%04d.%s" % (i, random.choice(["png", "jpg", "webp"])) for i in range(files)]
# The document is the same 20 MB at every size: it is held in memory, the rest is not.
document = text(20 * 1000 * 1000, False) + ("\n" + json.dumps({"images": names}) + "\n").encode()
write("design/document.json", document)
size = half - len(document)
for i in range(files - 1):
    n = size // (files - 1 - i) if i < files - 2 else size
    n = max(1, int(n * random.uniform(0.3, 1.7))) if i < files - 2 else size
    n = min(n, size)
    size -= n
    write("code/module%02d/file%04d.%s" % (i % 40, i, "js" if i % 3 else "json"), text(n, i % 3 != 0))
size = half
for i, name in enumerate(names):
    n = min(size, int(half / files * random.uniform(0.3, 1.7))) if i < files - 1 else size
    size -= n
    write("design/images/" + name, os.urandom(n))
PY
  touch "$1.done"
}

# Nothing is removed until the end: ext4 makes new files slowly for minutes after many were
# removed (it passes over recently freed inodes), which would weigh on whichever side came
# after a removal. Every run writes into a folder of its own.
counter=0
fresh() { counter=$((counter + 1)); echo "$work/run-$counter"; }

median() { # median wall time of $runs runs of a command, in seconds
  local times=()
  for ((i = 0; i < runs; i++)); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    times+=("$(awk "BEGIN { printf \"%.3f\", $end - $start }")")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}
field() { sed -n "s/^$1=//p"; }
medianField() { # median of a field over $runs runs of a command
  local values=()
  for ((i = 0; i < runs; i++)); do values+=("$("${@:2}" | field "$1")"); done
  printf '%s\n' "${values[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}

for size in "100 666" "300 2000"; do
  set -- $size
  tree="$work/tree-$1"
  zip="$work/project-$1.korvelx"
  generate "$tree" "$1" "$2"
  "$bench" pack "$tree" "$zip"
  echo
  echo "== $(find "$tree" -type f | wc -l) files, $(($(du -sb "$tree" | cut -f1) / 1000000)) MB"
  cat "$zip" >/dev/null

  openOutput=$("$bench" open "$zip" "$(fresh)")
  ours=$(medianField open_seconds bash -c "'$bench' open '$zip' \"\$(mktemp -d -p '$work')\"")
  theirs=$(median bash -c "out=\$(mktemp -d -p '$work'); sync -f '$work'; unzip -q '$zip' -d \"\$out\" && sync -f \"\$out\"")
  bare=$(median bash -c "out=\$(mktemp -d -p '$work'); sync -f '$work'; unzip -q '$zip' -d \"\$out\"")
  echo "open:  ours ${ours} s, unzip -q + sync ${theirs} s (unzip alone ${bare} s), ratio $(awk "BEGIN { printf \"%.2f\", $ours / $theirs }")"
  echo "       longest main-loop stall $(echo "$openOutput" | field open_stall_ms) ms (the read runs on it);" \
       "image links and copies done $(echo "$openOutput" | field image_jobs_after_open_seconds) s later, stall meanwhile" \
       "$(echo "$openOutput" | field stall_during_image_jobs_ms) ms; peak $(echo "$openOutput" | field peak_mib) MiB"

  saveOutput=$("$bench" save "$zip" "$(fresh)")
  ours=$(medianField save_seconds bash -c "'$bench' save '$zip' \"\$(mktemp -d -p '$work')\"")
  theirs=$(median bash -c "out=\$(mktemp -u -p '$work').zip; sync -f '$work'; cd '$tree' && zip -r -q \"\$out\" . && sync -f \"\$out\"")
  bare=$(median bash -c "out=\$(mktemp -u -p '$work').zip; sync -f '$work'; cd '$tree' && zip -r -q \"\$out\" .")
  echo "save:  ours ${ours} s, zip -r -q + sync ${theirs} s (zip alone ${bare} s), ratio $(awk "BEGIN { printf \"%.2f\", $ours / $theirs }")"
  echo "       longest main-loop stall $(echo "$saveOutput" | field save_stall_ms) ms; peak $(echo "$saveOutput" | field peak_mib) MiB"
done

echo
echo "== 200 mixed images (PNG, JPEG, TIFF; 400 to 4000 pixels wide)"
"$bench" images 200 "$(fresh)" | sed 's/^/  /'
find "$work" -mindepth 1 -maxdepth 1 ! -name 'tree-*' ! -name 'project-*' -exec rm -rf {} +
