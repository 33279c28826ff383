#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a while on a
# copy of its seed corpus. Inputs that make a target fail are copied to
# tests/data/fuzz/<target>/, where the regression replay test picks them up.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS is the run time per target (default 60); TARGET names a subset of
# ovr_conf ftp_listing url naming info_xml (default: all of them).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(ovr_conf ftp_listing url naming info_xml)
fi
case "$seconds" in
  ''|*[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number, got '$seconds'" >&2; exit 2 ;;
esac

# clang 14 with its fuzzer runtime.
if ! command -v clang++-14 >/dev/null 2>&1 ||
   ! ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get update
  apt-get install -y clang-14 libclang-rt-14-dev
fi

build="$root/build-fuzz"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DDUMPKEEP_FUZZ=ON -DDUMPKEEP_TESTS=OFF \
  -DDUMPKEEP_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${targets[@]}"; do
  corpus="$work/corpus_$target"
  artifacts="$work/artifacts_$target/"
  mkdir -p "$corpus" "$artifacts"
  cp -r "$root/fuzz/corpus/$target/." "$corpus/"
  log="$work/$target.log"
  echo "== $target: fuzzing for ${seconds}s"
  set +e
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$artifacts" "$corpus" >"$log" 2>&1
  rc=$?
  set -e
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "   executions: ${executions:-unknown} (exit $rc)"
  found=0
  for crash in "$artifacts"*; do
    [ -f "$crash" ] || continue
    found=1
    keep="$root/tests/data/fuzz/$target"
    mkdir -p "$keep"
    cp "$crash" "$keep/"
    echo "   crash input: $keep/$(basename "$crash")"
  done
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    grep -E "ERROR|invariant|SUMMARY" "$log" | head -5 | sed 's/^/   /' || true
  fi
done
exit $status
