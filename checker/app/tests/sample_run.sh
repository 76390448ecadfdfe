#!/bin/sh
# Writes the sample database with kivdemo and runs KivConsistencyCheck on its
# dictionary without a display; the printed log must be exactly the expected
# one and the window picture must be written.
#   sample_run.sh KIVDEMO PROGRAM FOLDER
set -eu
kivdemo=$1 program=$2 folder=$3
rm -rf "$folder"
"$kivdemo" "$folder" > /dev/null
cd "$folder"
env -u DISPLAY -u WAYLAND_DISPLAY "$program" --screenshot window.png sample.kdd > log.txt
printf '%s\n' "Disconnected" "Connected to sample.kdd with Remote" "CUSTOMER ... error: " \
  "   NAME : [Field Length different]" "ITEMS ... ok" "ORDERS ... ok" > expected.txt
diff expected.txt log.txt
test -s window.png
