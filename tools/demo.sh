#!/usr/bin/env bash
# The main job on the bundled default: installs what is missing, builds the
# converter and the patch kit, makes a sample folder from the installed
# freepats set, and converts the project's demo song into out/demo/demo.xm.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./tools/install-deps.sh

cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DBUILD_FRONTEND=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" --target korvalin korvalin-patchkit

work="$root/out/demo"
mkdir -p "$work"
cd "$work"
echo "== Patch kit: default patch names linked to the freepats set"
"$root/build/demo/tools/patchkit/korvalin-patchkit" --samples samples --default-map patch.cfg --force
cp "$root/demo/demo.mid" demo.mid

echo
echo "== Converting demo.mid"
"$root/build/demo/converter/korvalin" demo.mid
echo
echo "Module written: $work/demo.xm"
echo "Play it with:   openmpt123 $work/demo.xm   (apt-get install openmpt123)"
