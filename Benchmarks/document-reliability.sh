#!/usr/bin/env bash
# Kills the application (SIGKILL) at random moments while it saves or autosaves an edited
# 50 MB project, a zip package and a project folder in turn, and opens the project again after
# each kill as the user would. Every opening must show either the content saved last or the
# content being saved, never a mix and never an error. Prints the counts.
# Not part of scripts/test. Usage: Benchmarks/document-reliability.sh [runs] [work folder]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi
build="${KX_BUILD_DIR:-$root/build}"
runs="${1:-100}"
work="${2:-/tmp/kx-document-reliability}"
bench="$build/bin/kx_document_benchmark"

"$root/scripts/build" >/dev/null
rm -rf "$work"
mkdir -p "$work"/{config,cache,data}
# One user for the whole run: the working folders of one attempt are there for the next.
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data"

tree="$work/tree"
python3 - "$tree" <<'PY'
import json, os, random, sys
root = sys.argv[1]
random.seed(11)
def write(path, data):
    path = os.path.join(root, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
write("design/document.json", json.dumps({"version": 1, "frames": [{"id": "a", "name": "Home", "text": "generation-0"}]}).encode())
for i in range(150):
    write("design/images/image%03d.png" % i, os.urandom(random.randrange(200_000, 450_000)))
for i in range(150):
    write("code/file%03d.js" % i, ("export const value%d = %d;\n" % (i, i) * random.randrange(100, 2000)).encode())
PY
"$bench" pack "$tree" "$work/Project.korvelx"
"$bench" pack "$tree" "$work/Project Folder"
echo "== project of $(find "$tree" -type f | wc -l) files, $(($(du -sb "$tree" | cut -f1) / 1000000)) MB, as a zip and as a folder"

declare -A took=()
# What an opening showed last, and what the package held last (a working folder that outlived a
# kill keeps edits the package does not have yet: the next opening shows them again).
declare -A saved=(["$work/Project.korvelx"]="generation-0" ["$work/Project Folder"]="generation-0")
declare -A written=(["$work/Project.korvelx"]="generation-0" ["$work/Project Folder"]="generation-0")
old=0 new=0 finished=0 mixed=0 errors=0
for ((i = 1; i <= runs; i++)); do
  if ((i % 2)); then package="$work/Project.korvelx"; else package="$work/Project Folder"; fi
  if (((i / 2) % 2)); then kind=autosave; else kind=save; fi
  text="generation-$i"
  fifo="$work/run.fifo"
  rm -f "$fifo"
  mkfifo "$fifo"
  "$bench" edit-save "$package" "$text" "$kind" >"$fifo" 2>/dev/null &
  pid=$!
  exec 3<"$fifo"
  # The kill comes at a random moment of the save (or just after it ended), timed from the
  # moment the save begins; the window follows how long the last whole save of that kind took.
  while read -r -u 3 line && [[ $line != saving ]]; do :; done
  window=${took[$package]:-300}
  delay=$((RANDOM % (window * 13 / 10 + 1)))
  sleep "$(awk "BEGIN { printf \"%.3f\", $delay / 1000 }")"
  kill -9 "$pid" 2>/dev/null || true
  state="during the save"
  while read -r -u 3 line; do
    if [[ $line == saved* ]]; then
      finished=$((finished + 1))
      state="after the save"
      took[$package]=$((${line#saved } > 0 ? ${line#saved } : 1))
    fi
  done
  exec 3<&-
  wait "$pid" 2>/dev/null || true

  checked=$("$bench" check "$package" 2>/dev/null || true)
  result=$(grep -E '^(text|error)=' <<<"$checked" | head -1 || true)
  stored=$(sed -n 's/^package_text=//p' <<<"$checked")
  intact=$(sed -n 's/^package_intact=//p' <<<"$checked")
  # The package on disk is whole and holds one of the two versions, whatever the editor shows.
  if [[ $intact != 1 || ( $stored != "$text" && $stored != "${written[$package]}" ) ]]; then
    result="error=the package holds ${stored:-nothing readable} (intact: ${intact:-no})"
  fi
  case "$result" in
    "text=$text") new=$((new + 1)); saved[$package]="$text"; outcome=new ;;
    "text=${saved[$package]}") old=$((old + 1)); outcome=old ;;
    text=*) mixed=$((mixed + 1)); outcome="MIX ($result, expected ${saved[$package]} or $text)" ;;
    *) errors=$((errors + 1)); outcome="ERROR (${result:-no answer})" ;;
  esac
  [[ $intact == 1 ]] && written[$package]="$stored"
  printf '  run %3d: %-6s %-8s killed %3d ms in, %-15s: %s\n' "$i" "$( [[ $package == *.korvelx ]] && echo zip || echo folder)" "$kind" "$delay" "$state" "$outcome"
done
echo "runs: $runs; saves finished before the kill: $finished"
echo "reopened with the new content: $new, with the content saved before: $old, mixed: $mixed, errors: $errors"
((mixed == 0 && errors == 0))
