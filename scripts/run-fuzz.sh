#!/bin/bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, replays the saved crash inputs
# of fuzz/regressions/<target>/, then fuzzes each target for FUZZ_SECONDS
# seconds, one after the other, starting from the seed corpus.
#
# Prints one line per target (run time, executions, speed, inputs in the
# corpus and their size, findings) and exits non-zero when a regression
# input fails again or a run found a crash, a leak, a time-out or an
# out-of-memory input. Each input found is kept in build-fuzz/findings-<target>/;
# the run's output is in build-fuzz/fuzz-<target>.log.
#
# Environment: FUZZ_SECONDS (default 60), FUZZ_TARGETS (default all),
# FUZZ_BUILD_DIR (default build-fuzz), FUZZ_CXX (default clang++-14), JOBS.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"decode"}
build=${FUZZ_BUILD_DIR:-build-fuzz}
cxx=${FUZZ_CXX:-clang++-14}
jobs=${JOBS:-2}

mkdir -p "$build"
if ! { cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j "$jobs"; } >"$build/build.log" 2>&1; then
    cat "$build/build.log" >&2
    echo "fuzz: the fuzz targets did not build" >&2
    exit 2
fi

# Any report stops the run; leaks count as findings.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

count_files() { find "$1" -maxdepth 1 -type f | wc -l; }
stat_of() { sed -n "s/^stat::$1: *//p" "$2" | tail -n 1; }

failed=0
for target in $targets; do
    binary="$build/fuzz-$target"
    corpus="$build/corpus-$target"
    findings="$build/findings-$target"
    log="$build/fuzz-$target.log"
    mkdir -p "$corpus" "$findings"
    # The seeds are copied: libFuzzer adds what it finds to its first corpus
    # folder, and that must not be the one in the source tree.
    cp -f fuzz/corpus/"$target"/* "$corpus"/

    regressions=(fuzz/regressions/"$target"/*)
    if [ -e "${regressions[0]}" ]; then
        if ! "$binary" -timeout=10 "${regressions[@]}" >"$build/regressions-$target.log" 2>&1; then
            echo "fuzz $target: a saved crash input fails again, see $build/regressions-$target.log"
            grep -E -A 2 "Running:|ERROR|invariant broken|runtime error" \
                "$build/regressions-$target.log" | head -n 30
            failed=1
            continue
        fi
    fi

    before=$(count_files "$findings")
    started=$SECONDS
    "$binary" "$corpus" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -dict=fuzz/dict/"$target".dict -artifact_prefix="$findings/" -print_final_stats=1 \
        >"$log" 2>&1
    status=$?
    ran=$((SECONDS - started))
    found=$(($(count_files "$findings") - before))
    if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
        found=1 # stopped without leaving an input behind: still a failure
    fi
    executions=$(stat_of number_of_executed_units "$log")
    speed=$(stat_of average_exec_per_sec "$log")
    # Inputs libFuzzer kept, from its last status line ("corp: 202/84Kb").
    kept=$(grep -o 'corp: [0-9]*/[0-9a-zA-Z]*' "$log" | tail -n 1 | cut -d' ' -f2)
    printf 'fuzz %-7s %4s s  %10s executions  %6s exec/s  corpus %-12s findings %s\n' \
        "$target" "$ran" "${executions:-?}" "${speed:-?}" "${kept:-?}" "$found"
    # Keeps the corpus folder to the inputs that add coverage, so it does
    # not grow with every run.
    rm -rf "$corpus.merged" && mkdir "$corpus.merged"
    if [ "$found" -eq 0 ] && "$binary" -merge=1 "$corpus.merged" "$corpus" \
        >"$build/merge-$target.log" 2>&1; then
        rm -rf "$corpus" && mv "$corpus.merged" "$corpus"
    else
        rm -rf "$corpus.merged"
    fi
    if [ "$found" -ne 0 ]; then
        failed=1
        grep -E -A 2 "ERROR|invariant broken|runtime error" "$log" | head -n 20
        echo "  input(s) in $findings/; output in $log"
    fi
done
exit $failed
