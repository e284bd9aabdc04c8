#!/bin/sh
# The installed desktop entry is valid and its command starts the installed
# program with a PATH that lacks the install prefix; under an X server the
# window titles are exactly the programs' captions.
#   desktop_entry_check.sh BUILD_DIR
set -eu
need() { command -v "$1" > /dev/null || { echo "$1 is missing: apt-get install $2 (tools/install-deps.sh)"; exit 1; }; }
need desktop-file-validate desktop-file-utils
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/my \$prefix"
mkdir "$work/home"
cmake --install "$1" --component frontend --prefix "$prefix" > /dev/null
entry="$prefix/share/applications/korvalinfe.desktop"
desktop-file-validate "$entry"
# The entry's string escapes undone, the rest is quoted as the shell quotes.
command=$(sed -n 's/^Exec=//p' "$entry" | sed 's/\\\\/\\/g')
start() { env -i HOME="$work/home" PATH=/usr/bin:/bin "$@"; }

# The first start writes the option file and waits at its notice.
status=0
start QT_QPA_PLATFORM=offscreen timeout 10 sh -c "exec $command" || status=$?
[ "$status" -eq 124 ] || { echo "the entry's command ended with status $status"; exit 1; }
ls "$prefix/bin/korvalin.cfg" "$work/home/.local/share/KorvalinFE/korvalin.cfg" 2> /dev/null |
    grep -q . || { echo "the program did not start"; exit 1; }

need xvfb-run xvfb
need xdotool xdotool
title=$(start xvfb-run -a sh -c "$command & sleep 3; xdotool search --onlyvisible --name . \
    getwindowname %@; kill \$!")
[ "$title" = "Korvalin FrontEnd - Convert MIDI to XM v0.16" ] || { echo "title: $title"; exit 1; }
