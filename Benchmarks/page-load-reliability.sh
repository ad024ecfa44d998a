#!/usr/bin/env bash
# Loads pages as windows do on a busy machine, where WebKit now and then drops a load: the web-view
# host's two-loads test (two loads in one turn in one view, then two fresh views asking the local
# web server for index.html in one turn) runs ROUNDS times in a row in each of RUNS test programs
# side by side, beside `stress-ng --cpu 6` on the same cores. Prints, per program and in all, the
# failed rounds and the loads the engine dropped that were asked for again; fails on any failed
# round. Installs stress-ng when it is missing.
# Not part of scripts/test. Usage: Benchmarks/page-load-reliability.sh [rounds] [runs]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KX_BUILD_DIR:-$root/build}"
rounds="${1:-300}"
runs="${2:-3}"
test=WebViewControllerGui.OnlyTheLatestLoadCompletesAndAFailedLoadNever

if ! command -v stress-ng >/dev/null; then
  echo "installing stress-ng"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends stress-ng >/dev/null
fi
"$root/scripts/build" >/dev/null

work="$(mktemp -d)"
stress-ng --cpu 6 --timeout 0 >/dev/null 2>&1 &
stress=$!
trap 'kill "$stress" 2>/dev/null; rm -rf "$work"' EXIT

export KX_TEST_SOURCE_DIR="$root/Tests" NO_AT_BRIDGE=1 GDK_BACKEND=x11
started=$SECONDS
programs=()
for run in $(seq 1 "$runs"); do
  (cd "$build/Tests" && xvfb-run -a -s "-screen 0 1600x1000x24" "$build/bin/kx_gui_tests" --gtest_color=no \
    --gtest_filter="$test" --gtest_repeat="$rounds" >"$work/run$run.log" 2>&1) &
  programs+=($!)
  sleep 3 # xvfb-run -a picks its display by looking: programs started at once may pick the same
done
for program in "${programs[@]}"; do
  wait "$program" || true
done

echo "== $test, $rounds rounds in a row in each of $runs programs beside stress-ng --cpu 6 ($((SECONDS - started)) s)"
failed=0 finished=0 dropped=0
for run in $(seq 1 "$runs"); do
  log="$work/run$run.log"
  ok=$(grep -c "^\[       OK \] $test " "$log" || true)
  bad=$(grep -cE "^\[  FAILED  \] $test \([0-9]+ ms\)" "$log" || true)
  again=$(grep -c "The web engine dropped the load of .*; loading it again" "$log" || true)
  printf 'program %d: %d failed of %d rounds, %d loads asked for again\n' "$run" "$bad" "$((ok + bad))" "$again"
  if ((ok + bad < rounds)); then
    echo "program $run ended after $((ok + bad)) rounds:"
    tail -n 20 "$log"
  fi
  if ((bad)); then
    grep -B2 -A6 "Failure" "$log" | head -n 40
  fi
  failed=$((failed + rounds - ok))
  finished=$((finished + ok + bad))
  dropped=$((dropped + again))
done
echo "in all: $failed failed of $((runs * rounds)) rounds ($finished finished), $dropped loads asked for again"
((failed == 0))
