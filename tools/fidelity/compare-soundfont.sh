#!/usr/bin/env bash
# Measures how faithfully modules made with a SoundFont-made patch set play:
# the patch kit turns the bank into GF1 patches, the converter turns each MIDI
# file into a module, and korvalin-fidelity compares the module's rendering
# (a) with TiMidity playing the same GF1 patches and (b) with FluidSynth
# playing the bank itself. Prints one row per file and the medians.
#
# Usage: tools/fidelity/compare-soundfont.sh BANK.sf2 [MIDI...]
#   (default MIDI files: the demo song and the edge-case files)
# Environment: KORVALIN_BUILD (default build/dev), MIDI_CASES_DIR, WORK (scratch
# folder, default a temporary one).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${KORVALIN_BUILD:-$root/build/dev}" && pwd)
bank=$(realpath "${1:?usage: compare-soundfont.sh BANK.sf2 [MIDI...]}")
shift
if [ $# -eq 0 ]; then
    cases=${MIDI_CASES_DIR:-$root/tests/data/midi-cases}
    set -- "$root/demo/demo.mid" "$cases"/*.mid
fi
midis=()
for m in "$@"; do midis+=("$(realpath "$m")"); done
work=${WORK:-$(mktemp -d /tmp/korvalin-compare-XXXXXX)}
mkdir -p "$work"
cd "$work"
"$build/tools/patchkit/korvalin-patchkit" --soundfont "$bank" --samples samples \
    --default-map patch.cfg --force >kit.txt
# The same patches as a TiMidity set: the default map's lines, drums after 127.
awk -v d="$work/samples" 'BEGIN { print "dir " d; print "bank 0" }
    { sub(/\r$/, "") }
    $1 >= 128 && !drum { print "drumset 0"; drum = 1 }
    { print ($1 >= 128 ? $1 - 128 : $1), $2 }' patch.cfg >timidity.cfg

printf '%-44s %7s %7s %7s   %7s %7s %7s\n' file a:dur a:corr a:onset b:dur b:corr b:onset
rows=$work/rows.txt
: >"$rows"
for midi in "${midis[@]}"; do
    name=$(basename "$midi" .mid)
    cp "$midi" "$name.mid"
    rm -f "$name.xm"
    if ! "$build/converter/korvalin" "$name.mid" >/dev/null 2>&1 || [ ! -s "$name.xm" ]; then
        printf '%-44s not converted\n' "$name"
        continue
    fi
    a=$("$build/tools/fidelity/korvalin-fidelity" --config timidity.cfg "$name.mid" "$name.xm" 2>/dev/null || true)
    b=$("$build/tools/fidelity/korvalin-fidelity" --soundfont "$bank" "$name.mid" "$name.xm" 2>/dev/null || true)
    pick() { awk -v k="$1" '$1 == k { print $2 }' <<<"$2"; }
    if [ -z "$(pick correlation "$a")" ] || [ -z "$(pick correlation "$b")" ]; then
        printf '%-44s not measured (renders to nothing)\n' "$name"
        continue
    fi
    row=$(printf '%s %s %s %s %s %s' "$(pick duration_ratio "$a")" "$(pick correlation "$a")" \
        "$(pick onset_correlation "$a")" "$(pick duration_ratio "$b")" "$(pick correlation "$b")" \
        "$(pick onset_correlation "$b")")
    echo "$row" >>"$rows"
    printf '%-44s %7s %7s %7s   %7s %7s %7s\n' "$name" $row
done
# Medians over every measured file, then over the files where both sides
# sound alike in length (0.5-2) and neither is silent: empty or broken files
# and ones a synthesiser stops early would otherwise weigh in.
median_line() {
    local label=$1 file=$2 medians=""
    for col in 1 2 3 4 5 6; do
        medians+=" $(cut -d' ' -f$col "$file" | sort -g | awk '{ v[NR] = $1 } END {
            if (NR == 0) print "-"; else printf "%.4f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')"
    done
    printf "%-44s %7s %7s %7s   %7s %7s %7s\n" "$label of $(wc -l <"$file") files" $medians
}
median_line "median" "$rows"
awk '$2 != 0 && $5 != 0 && $1 >= 0.5 && $1 <= 2 && $4 >= 0.5 && $4 <= 2' "$rows" >"$work/sounding.txt"
median_line "median, sounding" "$work/sounding.txt"
