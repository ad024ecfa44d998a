#!/usr/bin/env bash
# Kills the application (SIGKILL) at random moments while it saves an edited 50 MB project, a
# zip package and a project folder in turn: a save, an autosave, a Save As, the saves of
# quitting, and a new document's draft. Each run edits the document and four code files. After
# each kill the package is read directly and opened again as the user would: it must be whole
# and hold either all of the new edit or all of what it held before, never a mix; a save that
# finished before the kill and left the old content counts as lost. What the editor shows on
# reopening is reported apart. A project folder is edited in place: its code files are new at
# once, and only the document's text waits for the save. Prints the counts; fails on a mix, a
# loss or an error.
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
# The document names every image, so that no save leaves one out as unused.
images = ["image%03d.png" % i for i in range(150)]
write("design/document.json", json.dumps({"version": 1, "images": images,
                                          "frames": [{"id": "a", "name": "Home", "text": "generation-0"}]}).encode())
for name in images:
    write("design/images/" + name, os.urandom(random.randrange(200_000, 450_000)))
for i in range(150):
    write("code/file%03d.js" % i, ("export const value%d = %d;\n" % (i, i) * random.randrange(100, 2000)).encode())
PY
"$bench" pack "$tree" "$work/Project.korvelx"
"$bench" pack "$tree" "$work/Project Folder"
echo "== project of $(find "$tree" -type f | wc -l) files, $(($(du -sb "$tree" | cut -f1) / 1000000)) MB, as a zip and as a folder"

declare -A took=()
# What the package held last, whole: the document's text and the edited files' texts.
declare -A written=(["$work/Project.korvelx"]="generation-0|original,original,original,original"
                    ["$work/Project Folder"]="generation-0|original,original,original,original")
kinds=(save autosave saveas quit draft)
new=0 old=0 finished=0 mixed=0 lost=0 errors=0 editorNew=0 editorOld=0 editorPartial=0

# "new", "old" or "mixed": the state TEXT|F1,F2,… against the new text and the old state. A
# project folder is edited in place: its code files hold the edit before any save, so there
# only the document's text can be as before, and the files must be new.
judge() {
  local state=$1 text=$2 before=$3 inPlace=${4:-0}
  local everything="${state%%|*},${state#*|}"
  if [[ $everything =~ ^($text,)*$text$ ]]; then echo new
  elif ((inPlace)) && [[ ${state#*|} =~ ^($text,)*$text$ && ${state%%|*} == "${before%%|*}" ]]; then echo old
  elif ((!inPlace)) && [[ $state == "$before" ]]; then echo old
  else echo mixed; fi
}

for ((i = 1; i <= runs; i++)); do
  if ((i % 2)); then package="$work/Project.korvelx"; else package="$work/Project Folder"; fi
  kind=${kinds[$(((i - 1) / 2 % ${#kinds[@]}))]}
  # Drafts are made from the zip package, as a new document from a template.
  [[ $kind == draft ]] && package="$work/Project.korvelx"
  text="generation-$i"
  target="$package"
  if [[ $kind == saveas ]]; then
    if [[ $package == *.korvelx ]]; then target="${package%.korvelx} Saved As.korvelx"; else target="$package Saved As"; fi
    rm -rf "$target"
  fi
  fifo="$work/run.fifo"
  rm -f "$fifo"
  mkfifo "$fifo"
  if [[ $kind == draft ]]; then
    "$bench" edit-draft "$package" "$text" >"$fifo" 2>/dev/null &
  else
    "$bench" edit-save "$package" "$text" "$kind" >"$fifo" 2>/dev/null &
  fi
  pid=$!
  exec 3<"$fifo"
  # The kill comes at a random moment of the save (or just after it ended), timed from the
  # moment the save begins; the window follows how long the last whole save of that kind took.
  while read -r -u 3 line && [[ $line != saving ]]; do :; done
  window=${took[$package$kind]:-300}
  delay=$((RANDOM % (window * 13 / 10 + 1)))
  sleep "$(awk "BEGIN { printf \"%.3f\", $delay / 1000 }")"
  kill -9 "$pid" 2>/dev/null || true
  done=0
  while read -r -u 3 line; do
    if [[ $line == saved* ]]; then
      done=1
      took[$package$kind]=$((${line#saved } > 0 ? ${line#saved } : 1))
    fi
  done
  exec 3<&-
  wait "$pid" 2>/dev/null || true
  finished=$((finished + done))

  # The package: whole, and either all of the new edit or all of what it held before; a save that
  # finished must have left the new one. A Save As leaves the new package or none, and the
  # original as it was; a draft is the new edit or no draft.
  before="${written[$package]}"
  if [[ $kind == draft ]]; then
    checked=$("$bench" check-drafts 2>/dev/null || true)
    if grep -q '^drafts=0' <<<"$checked"; then
      state="none"; verdict=old
    else
      state="$(sed -n 's/^text=//p' <<<"$checked" | head -1)|$(sed -n 's/^files=//p' <<<"$checked" | head -1)"
      verdict=$(judge "$state" "$text" "no draft")
    fi
    editor=$verdict
  else
    checked=$("$bench" check "$target" 2>"$work/check.log"; echo "status=$?")
    intact=$(sed -n 's/^package_intact=//p' <<<"$checked")
    state="$(sed -n 's/^package_text=//p' <<<"$checked")|$(sed -n 's/^package_files=//p' <<<"$checked")"
    if [[ $kind == saveas && ! -e $target ]]; then
      verdict=old
    elif [[ $intact != 1 ]]; then
      verdict=error
    elif [[ $kind == saveas ]]; then
      verdict=$(judge "$state" "$text" "none")
    else
      verdict=$(judge "$state" "$text" "$before" "$( [[ -d $package ]] && echo 1 || echo 0)")
    fi
    shown="$(sed -n 's/^text=//p' <<<"$checked")|$(sed -n 's/^files=//p' <<<"$checked")"
    if [[ $kind == saveas && ! -e $target ]]; then editor=old
    else editor=$(judge "$shown" "$text" "$before" "$( [[ -d $package ]] && echo 1 || echo 0)"); [[ $editor == mixed ]] && editor=partial; fi
  fi
  if [[ $verdict == old && $done == 1 ]]; then verdict=lost; fi
  # What the check said of an error is kept for a look afterwards.
  if [[ $verdict == error ]]; then
    mkdir -p "$work/errors"
    { echo "$checked"; cat "$work/check.log" 2>/dev/null; } >"$work/errors/run-$i.log"
  fi
  case "$verdict" in
    new) new=$((new + 1)); [[ $kind != saveas && $kind != draft ]] && written[$package]="$state" ;;
    old) old=$((old + 1)) ;;
    mixed) mixed=$((mixed + 1)) ;;
    lost) lost=$((lost + 1)) ;;
    *) errors=$((errors + 1)) ;;
  esac
  case "$editor" in
    new) editorNew=$((editorNew + 1)) ;;
    old) editorOld=$((editorOld + 1)) ;;
    *) editorPartial=$((editorPartial + 1)) ;;
  esac
  printf '  run %3d: %-6s %-8s killed %4d ms in, %-13s package: %-6s editor: %-7s (%s)\n' "$i" \
    "$( [[ $package == *.korvelx ]] && echo zip || echo folder)" "$kind" "$delay" \
    "$( ((done)) && echo "after the save" || echo "during it")" "$verdict" "$editor" "$state"
  [[ $kind == saveas ]] && rm -rf "$target"
  # A folder is edited in place: a Save As from it may have written the edit into it as well.
  if [[ $kind == saveas && -d $package ]]; then
    original=$("$bench" check "$package" 2>/dev/null || true)
    written[$package]="$(sed -n 's/^package_text=//p' <<<"$original")|$(sed -n 's/^package_files=//p' <<<"$original")"
  fi
done
echo "runs: $runs; saves finished before the kill: $finished"
echo "package: new $new, as before $old, mixed $mixed, lost $lost, errors $errors"
echo "editor on reopening: new $editorNew, as before $editorOld, partly new $editorPartial (edits the kill came before)"
((mixed == 0 && lost == 0 && errors == 0))
