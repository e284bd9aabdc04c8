#!/usr/bin/env bash
# Converts several hundred MIDI files with two converter binaries and compares
# what each wrote, byte for byte: the module, the console output (stdout and
# stderr together) and the exit status.
#
#   bench/identity_check.sh [--cases DIR] [--build DIR] REFERENCE CANDIDATE
#
# Inputs: every .mid file of the cases folder (default tests/data/midi-cases), the demo song and the pieces
# convert_bench generates (--build names the build folder that holds
# bench/convert_bench and tools/patchkit/korvalin-patchkit; default build/ci).
# Each input is converted with every option set below, once with the default
# patch map over the installed freepats set and once with an empty map.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

cases=""
build="$root/build/ci"
while [[ $# -gt 2 ]]; do
    case "$1" in
        --cases) cases=$(realpath "$2"); shift 2 ;;
        --build) build=$(realpath "$2"); shift 2 ;;
        *) break ;;
    esac
done
if [[ $# -ne 2 ]]; then
    echo "usage: $0 [--cases DIR] [--build DIR] REFERENCE CANDIDATE" >&2
    exit 2
fi
reference=$(realpath "$1")
candidate=$(realpath "$2")
if [[ -z "$cases" ]]; then
    cases="$root/tests/data/midi-cases"
fi
[[ -d "$cases" ]] || { echo "no MIDI cases folder: $cases" >&2; exit 2; }

option_sets=(
    ""
    "-8bit -tweakvol"
    "-nopan -small -qnt 8"
    "-maxch 4 -dirtyend"
    "-maxch 1 -perch 0"
    "-maxch 3 -qnt 32 -maxrate 11025"
    "-tweakvol -dirtyend -nopan -qnt 4"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/midi" "$work/freepats" "$work/empty" "$work/bin"
# Copies, so that a rebuild meanwhile does not change what is compared.
cp "$reference" "$work/bin/reference"
cp "$candidate" "$work/bin/candidate"
cp "$cases"/*.mid "$work/midi/"
cp "$root/demo/demo.mid" "$work/midi/demo.mid"
"$build/bench/convert_bench" --pieces="$work/midi"
(cd "$work/freepats" &&
    "$build/tools/patchkit/korvalin-patchkit" --samples samples --default-map patch.cfg \
        --force >/dev/null)
: >"$work/empty/patch.cfg"

# One line per conversion: map, options, input, exit status, digests of the
# module and of the console output.
run_all() {
    local bin=$1 map opts mid status module
    for map in freepats empty; do
        cd "$work/$map"
        for opts in "${option_sets[@]}"; do
            for mid in "$work"/midi/*.mid; do
                rm -rf out && mkdir out
                status=0
                # shellcheck disable=SC2086 # the option set is split into words
                "$bin" $opts -outd out/ "../midi/$(basename "$mid")" >console.txt 2>&1 ||
                    status=$?
                module=none
                if compgen -G "out/*" >/dev/null; then module=$(cat out/* | md5sum); fi
                echo "$map | $opts | $(basename "$mid") | $status | ${module%% *} |" \
                    "$(md5sum <console.txt | cut -c1-32)"
            done
        done
    done
}

run_all "$work/bin/reference" >"$work/reference.txt"
run_all "$work/bin/candidate" >"$work/candidate.txt"
total=$(wc -l <"$work/reference.txt")
written=$(grep -vc '| none |' "$work/reference.txt" || true)
if diff "$work/reference.txt" "$work/candidate.txt" >"$work/diff.txt"; then
    echo "identical: $total conversions ($written wrote a module)"
    exit 0
fi
echo "DIFFERENT: $(grep -c '^<' "$work/diff.txt") of $total conversions"
cat "$work/diff.txt"
exit 1
