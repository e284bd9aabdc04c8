#!/bin/sh
# Takes the README's screenshots of KorvalinFE from an installed copy running
# under Xvfb with the openbox window manager, title bars included: the main
# window after converting two MIDI files, and the options window. Needs xvfb,
# xdotool, imagemagick and openbox.
#   docs/screenshots/take-screenshots.sh BUILD_DIR
set -eu

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > /dev/null
mkdir -p "$work/home" "$work/samples" "$work/music"
"$build/tools/patchkit/korvalin-patchkit" --samples "$work/samples" > /dev/null
"$build/tools/demosong/korvalin-demosong" "$work/music/demo.mid"
printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk\0\0\0\20\0\300\117\0\220\110\144\203\140\200\110\100\0\377\57\0' \
    > "$work/music/ocarina.mid"
printf -- '-sampd %s\r\n-outd %s\r\n-8bit \r\n-maxch 32\r\n' "$work/samples" "$work/music" \
    > "$work/prefix/bin/korvalin.cfg"

cat > "$work/session.sh" <<SESSION
#!/bin/sh
set -eu
openbox > /dev/null 2>&1 &
sleep 1
HOME="$work/home" "$work/prefix/bin/KorvalinFE" &
sleep 3
main=\$(xdotool search --onlyvisible --name 'Korvalin FrontEnd' | head -n 1)
# Browse..., then type the folder and the two names into the file dialog.
xdotool mousemove --window "\$main" 460 32 click 1
sleep 2
xdotool type --delay 20 '$work/music/'
xdotool key Return
sleep 1
xdotool type --delay 20 '"demo.mid" "ocarina.mid"'
xdotool key Return
sleep 2
# Convert!, then wait for the converter.
xdotool mousemove --window "\$main" 460 62 click 1
sleep 15
import -frame -window "\$main" "$here/main-window.png"
# Option...
xdotool mousemove --window "\$main" 460 92 click 1
sleep 2
option=\$(xdotool search --onlyvisible --name '^Option\$' | head -n 1)
sleep 1
import -frame -window "\$option" "$here/option-window.png"
SESSION
chmod +x "$work/session.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/session.sh"
