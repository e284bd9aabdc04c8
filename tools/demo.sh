#!/usr/bin/env bash
# The main job on the bundled default: installs what is missing, builds the
# converter and the patch kit, makes a sample folder of GF1 patches from the
# installed TimGM6mb SoundFont (every General MIDI program and drum key), and
# converts the project's demo song into out/demo/demo.xm. With --freepats the
# sample folder links the freepats patch set instead.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./tools/install-deps.sh

cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DBUILD_FRONTEND=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" --target korvalin korvalin-patchkit

work="$root/out/demo"
mkdir -p "$work"
cd "$work"
kit="$root/build/demo/tools/patchkit/korvalin-patchkit"
rm -rf samples
if [ "${1:-}" = "--freepats" ]; then
    echo "== Patch kit: default patch names linked to the freepats set"
    "$kit" --config /etc/timidity/freepats.cfg --samples samples --default-map patch.cfg --force
else
    echo "== Patch kit: GF1 patches made from the TimGM6mb SoundFont"
    "$kit" --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 --samples samples \
        --default-map patch.cfg --force
fi
cp "$root/demo/demo.mid" demo.mid

echo
echo "== Converting demo.mid"
"$root/build/demo/converter/korvalin" demo.mid
echo
echo "Module written: $work/demo.xm"
echo "Play it with:   openmpt123 $work/demo.xm   (apt-get install openmpt123)"
