#!/usr/bin/env bash
# Opens and saves a generated project of about 2,000 files and 300 MB (half JSON and code
# text, half incompressible images) with our archive, and does the same with Info-ZIP's
# zip/unzip and Python's zipfile on the same tree; hashes with our SHA-1 and with
# `openssl speed`. Reports save against `zip -r -n .png:.jpg` and open (every entry inflated,
# checked and hashed) against `unzip -tq`, measured in the same run, as ratios, with the peak
# memory. Not part of scripts/test. Usage: Benchmarks/archive-benchmark.sh [work folder]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KX_BUILD_DIR:-$root/build}"
work="${1:-/tmp/kx-archive-bench}"
tree="$work/tree"
runs=3

"$root/scripts/build" >/dev/null
mkdir -p "$work"

if [[ ! -f "$work/tree.done" ]]; then
  echo "Generating $tree"
  rm -rf "$tree"
  python3 - "$tree" <<'PY'
import json, os, random, sys
root = sys.argv[1]
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
half = 150 * 1000 * 1000
write("design/document.json", text(20 * 1000 * 1000, False))
size = half - 20 * 1000 * 1000
for i in range(999):
    n = size // (999 - i) if i < 998 else size
    n = max(1, int(n * random.uniform(0.3, 1.7))) if i < 998 else size
    n = min(n, size)
    size -= n
    write("code/module%02d/file%04d.%s" % (i % 40, i, "js" if i % 3 else "json"), text(n, i % 3 != 0))
size = half
for i in range(1000):
    n = min(size, int(half / 1000 * random.uniform(0.3, 1.7))) if i < 999 else size
    size -= n
    write("design/images/image%04d.%s" % (i, random.choice(["png", "jpg", "webp"])), os.urandom(n))
PY
  touch "$work/tree.done"
fi
files=$(find "$tree" -type f | wc -l)
bytes=$(du -sb "$tree" | cut -f1)
echo "Tree: $files files, $((bytes / 1000000)) MB"

# Median wall time of $runs runs of a command, in seconds; the page cache is warm for all.
median() {
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
peak() { # peak memory of a command in MiB
  python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(round(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))' "$@"
}

cat "$tree"/design/document.json >/dev/null
echo "Processors: $(nproc); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== Ours (Google Benchmark, mean of 3 iterations; each in a process of its own)"
for name in save open sha1; do
  KX_ARCHIVE_BENCH_TREE="$tree" "$build/bin/kx_archive_benchmark" --benchmark_filter="^$name/" \
    --benchmark_out="$work/ours-$name.json" --benchmark_out_format=json | grep -E "^$name"
done
ours() { # mean seconds of one of our benchmarks, its peak memory and what it added, in MiB
  python3 -c 'import json, sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    print("%.3f %.0f %.0f" % (b["real_time"] / 1000, b.get("peak_MiB", 0), b.get("added_MiB", 0)))' "$work/ours-$1.json"
}
read -r oursSave oursSavePeak oursSaveAdded <<<"$(ours save)"
read -r oursOpen oursOpenPeak oursOpenAdded <<<"$(ours open)"

echo
echo "== Info-ZIP, same tree, same run (images already compressed stored, as we do)"
zipSave=$(median bash -c "rm -f '$work/infozip.zip'; cd '$tree' && zip -r -q -n .png:.jpg '$work/infozip.zip' .")
unzipTest=$(median unzip -t -q "$work/infozip.zip")
unzipExtract=$(median bash -c "rm -rf '$work/unzipped'; unzip -q '$work/infozip.zip' -d '$work/unzipped'")
echo "zip -r -n .png:.jpg: ${zipSave} s   peak $(peak bash -c "rm -f '$work/infozip.zip'; cd '$tree' && zip -r -q -n .png:.jpg '$work/infozip.zip' .") MiB"
echo "unzip -tq:           ${unzipTest} s   peak $(peak unzip -t -q "$work/infozip.zip") MiB"
echo "unzip -q (extract):  ${unzipExtract} s"
echo "zip file size:   $(du -b "$work/infozip.zip" | cut -f1) bytes; ours: $(du -b "$work/kx-benchmark.korvelx" | cut -f1) bytes"

echo
echo "== Ratios (baseline time / ours: above 1 is faster than the baseline)"
echo "save: ours ${oursSave} s, zip -r -n .png:.jpg ${zipSave} s: $(awk "BEGIN { printf \"%.2f\", $zipSave / $oursSave }")x; peak ${oursSavePeak} MiB (${oursSaveAdded} MiB over the process before it)"
echo "open: ours ${oursOpen} s (inflate, check, SHA-1 every entry), unzip -tq ${unzipTest} s: $(awk "BEGIN { printf \"%.2f\", $unzipTest / $oursOpen }")x; peak ${oursOpenPeak} MiB (${oursOpenAdded} MiB over the process before it)"

echo
echo "== Python zipfile (deflate level 6, read and SHA-1 every entry)"
cat > "$work/pyzip.py" <<'PY'
import hashlib, os, sys, zipfile
mode, tree, path = sys.argv[1:]
if mode == "save":
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for folder, _, names in os.walk(tree):
            for name in sorted(names):
                full = os.path.join(folder, name)
                z.write(full, os.path.relpath(full, tree))
else:
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            digest = hashlib.sha1()
            with z.open(info) as f:
                for chunk in iter(lambda: f.read(1 << 20), b""):
                    digest.update(chunk)
PY
echo "save: $(median python3 "$work/pyzip.py" save "$tree" "$work/python.zip") s"
echo "open: $(median python3 "$work/pyzip.py" open "$tree" "$work/python.zip") s"

echo
echo "== openssl speed -evp sha1"
openssl speed -evp sha1 2>/dev/null | tail -2
