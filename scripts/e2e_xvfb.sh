#!/usr/bin/env bash
# End-to-end run under a real X server: starts the built program under Xvfb
# with a session bus of its own, fixed XDG folders, the null audio output and a
# preferences file holding the output folder and the conversions; adds inputs
# over D-Bus `Open`, retries `Convert` until the batch's log appears, then
# checks the output tree and every output with soxi and ffprobe. A screenshot
# of the screen is kept. Usage: e2e_xvfb.sh <build dir> [<work dir>]
# Exits 77 (skipped) when xvfb-run, dbus-run-session or sox is missing.
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-$(mktemp -d)}
mkdir -p "$work"
work=$(cd "$work" && pwd)

if [ "${CORVANE_E2E_INNER:-}" != 1 ]; then
  for tool in xvfb-run dbus-run-session dbus-send sox soxi ffprobe python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool missing: skipped"; exit 77; }
  done
  export CORVANE_E2E_INNER=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- bash "$0" "$build" "$work"
fi

program="$build/bin/corvane"
[ -x "$program" ] || { echo "no program at $program"; exit 1; }
rm -rf "$work/home" "$work/in" "$work/out"
mkdir -p "$work/home/config/corvane" "$work/home/data" "$work/home/cache" "$work/home/runtime" \
         "$work/in/folder" "$work/out"
chmod 700 "$work/home/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
export XDG_CACHE_HOME="$work/home/cache" XDG_RUNTIME_DIR="$work/home/runtime"
export CORVANE_AUDIO_OUTPUT=null LC_ALL=C
export CORVANE_RESOURCE_DIR="$build/share/corvane"

# The inputs: a stereo WAVE, a mono AIFF and a folder holding one more file.
sox -n -r 44100 -b 16 -c 2 "$work/in/tone.wav" synth 0.5 sine 440 sine 660 gain -6
sox -n -r 22050 -b 16 -c 1 "$work/in/low.aiff" synth 0.4 sine 220 gain -6
sox -n -r 32000 -b 24 -c 1 "$work/in/folder/inner.wav" synth 0.3 sine 330 gain -6
inputs=(tone low inner)
declare -A seconds=([tone]=0.5 [low]=0.4 [inner]=0.3)

# The preferences: the output folder and the three factory conversions, all
# active; the log saved, not opened in a window.
python3 - "$CORVANE_RESOURCE_DIR/Factory_Conversions.plist" "$work/out" \
    "$XDG_CONFIG_HOME/corvane/preferences.plist" <<'PY'
import plistlib, sys
conversions = plistlib.load(open(sys.argv[1], 'rb'))
for c in conversions:
    c['XWCSActive'] = True
prefs = {'Conversions': conversions, 'Last Used Destination': sys.argv[2],
         'Save Log': True, 'Open Log': False, 'Only Save When Errors': False}
with open(sys.argv[3], 'wb') as f:
    plistlib.dump(prefs, f)
PY

"$program" >"$work/program.log" 2>&1 &
pid=$!
stop_program() { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
trap stop_program EXIT

call() {
  dbus-send --session --print-reply --dest=org.corvane.Corvane /org/corvane/Corvane \
    "org.corvane.Corvane.$1" "${@:2}" >/dev/null 2>&1
}
has_owner() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.corvane.Corvane 2>/dev/null | grep -q true
}
for _ in $(seq 1 300); do has_owner && break; sleep 0.1; done
has_owner || { echo "the program did not appear on the bus"; cat "$work/program.log"; exit 1; }

call Open "array:string:$work/in/tone.wav,$work/in/low.aiff,$work/in/folder" ||
  { echo "Open failed"; exit 1; }

# Convert is refused while the files are still being added: retry until a log
# appears, then wait for the log's last line.
log=""
for _ in $(seq 1 120); do
  call Convert || true
  sleep 0.5
  log=$(find "$work/out" -maxdepth 1 -name 'CorvaLog-*.xwl' | head -n 1)
  [ -n "$log" ] && break
done
[ -n "$log" ] || { echo "no log appeared"; cat "$work/program.log"; exit 1; }
for _ in $(seq 1 240); do grep -q '^Total conversion time' "$log" && break; sleep 0.5; done
grep -q '^Total conversion time' "$log" || { echo "the batch did not finish"; cat "$log"; exit 1; }

if command -v xwd >/dev/null 2>&1 && command -v convert >/dev/null 2>&1; then
  xwd -root -silent | convert xwd:- "$work/screen.png" || true
fi

# The output tree: one folder per conversion, one output per input.
status=0
check() {  # folder, extension, rate (or "keep"), bits
  local folder=$1 ext=$2 rate=$3 bits=$4
  for name in "${inputs[@]}"; do
    local f
    f=$(find "$work/out/$folder" -name "$name.$ext" | head -n 1)
    if [ -z "$f" ]; then
      echo "missing $folder/$name.$ext"; status=1; continue
    fi
    local got_bits got_rate
    got_bits=$(soxi -b "$f" 2>/dev/null || echo "?")
    got_rate=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate \
               -of default=nw=1:nk=1 "$f" 2>/dev/null || echo "?")
    if [ "$got_bits" != "$bits" ] || { [ "$rate" != keep ] && [ "$got_rate" != "$rate" ]; }; then
      echo "$f: $got_rate Hz $got_bits bit, wanted $rate Hz $bits bit"; status=1
    fi
    # The length survives the conversion (within a few milliseconds of rounding).
    local got_seconds
    got_seconds=$(soxi -D "$f" 2>/dev/null || echo 0)
    if ! python3 -c "import sys; sys.exit(abs($got_seconds - ${seconds[$name]}) > 0.005)"; then
      echo "$f: $got_seconds s, wanted ${seconds[$name]} s"; status=1
    fi
  done
}
check "AIFF 16 bit" aif keep 16
check "WAVE 44.1 kHz 16 bit" wav 44100 16
check "Broadcast Wave 48 kHz 24 bit" wav 48000 24
if [ $status -ne 0 ]; then
  echo "--- output tree"; find "$work/out" | sort
  echo "--- log"; cat "$log"
  exit 1
fi
echo "batch over D-Bus: ok ($(find "$work/out" -type f | wc -l) files)"

# ---- A second batch over a folder whose middle entries cannot be converted: a
# link that leads nowhere and (when not run as root, whom no mode stops) a file
# that cannot be read. The entries around them are converted by every
# conversion, and the log names both.
mkdir -p "$work/in/mixed"
sox -n -r 44100 -b 16 -c 1 "$work/in/mixed/a.wav" synth 0.2 sine 440 gain -6
ln -s "$work/in/nowhere.wav" "$work/in/mixed/b.wav"
sox -n -r 44100 -b 16 -c 1 "$work/in/mixed/c.wav" synth 0.2 sine 440 gain -6
sox -n -r 44100 -b 16 -c 1 "$work/in/mixed/d.wav" synth 0.2 sine 440 gain -6
unreadable=0
if [ "$(id -u)" != 0 ]; then chmod 000 "$work/in/mixed/c.wav"; unreadable=1; fi
first_log=$log
sleep 1  # the log's name carries the second it was made in
call Open "array:string:$work/in/mixed" || { echo "Open failed"; exit 1; }
log=""
for _ in $(seq 1 120); do
  call Convert || true
  sleep 0.5
  log=$(find "$work/out" -maxdepth 1 -name 'CorvaLog-*.xwl' ! -path "$first_log" | head -n 1)
  [ -n "$log" ] && break
done
[ -n "$log" ] || { echo "no log of the second batch"; cat "$work/program.log"; exit 1; }
for _ in $(seq 1 240); do grep -q '^Total conversion time' "$log" && break; sleep 0.5; done
grep -q '^Total conversion time' "$log" || { echo "the second batch did not finish"; cat "$log"; exit 1; }
[ $unreadable = 1 ] && chmod 644 "$work/in/mixed/c.wav"
for pair in "AIFF 16 bit:aif" "WAVE 44.1 kHz 16 bit:wav" "Broadcast Wave 48 kHz 24 bit:wav"; do
  folder=${pair%:*} ext=${pair##*:}
  for name in a d; do
    [ -f "$work/out/$folder/mixed/$name.$ext" ] || { echo "missing $folder/mixed/$name.$ext"; status=1; }
  done
  [ ! -e "$work/out/$folder/mixed/b.$ext" ] || { echo "an output for the link in $folder"; status=1; }
  if [ $unreadable = 1 ] && [ -e "$work/out/$folder/mixed/c.$ext" ]; then
    echo "an output for the unreadable file in $folder"; status=1
  fi
done
[ "$(grep -c '^\*b\.wav  *is a link to a missing file$' "$log")" = 3 ] ||
  { echo "the log does not name the link once per conversion"; status=1; }
if [ $unreadable = 1 ]; then
  [ "$(grep -c '^\*c\.wav  *cannot be read: permission denied$' "$log")" = 3 ] ||
    { echo "the log does not name the unreadable file once per conversion"; status=1; }
fi
if grep -q '^Conversion stopped' "$log"; then echo "the second batch stopped"; status=1; fi
if [ $status -ne 0 ]; then
  echo "--- output tree"; find "$work/out" | sort
  echo "--- log"; cat "$log"
  exit 1
fi
echo "batch with a dangling link$([ $unreadable = 1 ] && echo " and an unreadable file"): ok"
# ---- BEGIN script-command errors: a refused Convert and Open answer errors.
# Convert without an output folder does nothing and answers NoOutputFolder.
reply_of() {  # method, arguments...: the call's output, errors included
  dbus-send --session --print-reply --dest=org.corvane.Corvane /org/corvane/Corvane \
    "org.corvane.Corvane.$1" "${@:2}" 2>&1 || true
}
mv "$work/out" "$work/out-away"
before=$(find "$work/out-away" | wc -l)
got=$(reply_of Convert)
mv "$work/out-away" "$work/out"
sleep 0.5
case "$got" in
  *"org.corvane.Corvane.Error.NoOutputFolder: No output folder is set"*) ;;
  *) echo "Convert without an output folder answered: $got"; exit 1 ;;
esac
[ "$(find "$work/out" | wc -l)" -eq "$before" ] || { echo "Convert without an output folder wrote"; exit 1; }
# Open with a relative path answers BadPaths naming it, and adds the full one.
got=$(reply_of Open "array:string:in/tone.wav,$work/in/missing.wav")
case "$got" in
  *"org.corvane.Corvane.Error.BadPaths: in/tone.wav"*"$work/in/missing.wav"*) ;;
  *) echo "Open with a relative and a missing path answered: $got"; exit 1 ;;
esac
# The window listing them would cover the main window the clicks below aim at.
if command -v xdotool >/dev/null 2>&1; then
  for id in $(xdotool search --all --onlyvisible --pid "$pid" --name '^Files Not Added$' 2>/dev/null); do
    xdotool windowunmap "$id"
  done
fi
echo "script-command errors: ok"
# ---- END script-command errors

# ---- The window driven with xdotool: real drags with drag_peer as the other
# application, read back from the preferences the quit sequence saves.
peer="$build/bin/drag_peer"
if ! command -v xdotool >/dev/null 2>&1 || [ ! -x "$peer" ]; then
  echo "xdotool or drag_peer missing: the window checks are skipped"
  exit 0
fi
# Without a window manager windowactivate fails; openbox when there is one.
if command -v openbox >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 0.5
fi
win=$(xdotool search --onlyvisible --pid "$pid" --name '^Corvane$' | head -n 1)
[ -n "$win" ] || { echo "no main window"; exit 1; }
xdotool windowmove "$win" 0 0 windowfocus "$win"
sleep 0.3
# Points inside the main window, relative to its top-left corner.
at() { xdotool mousemove --window "$win" "$1" "$2"; }
click_at() { at "$1" "$2"; xdotool click 1; sleep 0.3; }
# A press, a few steps, a release: a drag as a hand makes it. The points are
# "w X Y" (inside the main window) or "s X Y" (on the screen).
move() {
  if [ "$1" = w ]; then xdotool mousemove --window "$win" "$2" "$3"; else xdotool mousemove "$2" "$3"; fi
}
drag() {
  move "$1" "$2" "$3"
  xdotool mousedown 1 sleep 0.2 mousemove_relative 12 4 sleep 0.2
  move "$4" "$5" "$6"
  xdotool sleep 0.3 mousemove_relative 3 3 sleep 0.3 mouseup 1
  sleep 0.5
}
input_tab=(60 37); conversions_tab=(141 37); output_tab=(224 37)
third_conversion=(200 157); conversion_table=(400 300); drop_view=(410 130)
first_input=(300 93)

# A conversion dragged out of the table into another application.
"$peer" target 900 100 "$work/dragged-out.txt" &
sleep 1
click_at "${conversions_tab[@]}"
drag w "${third_conversion[@]}" s 980 180
for _ in $(seq 1 20); do [ -s "$work/dragged-out.txt" ] && break; sleep 0.25; done
grep -q '^application/x-corvane-conversions+xml ' "$work/dragged-out.txt" 2>/dev/null &&
  grep -q 'WAVE 44.1 kHz 16 bit' "$work/dragged-out.txt" ||
  { echo "the conversion dragged out did not arrive"; cat "$work/dragged-out.txt" 2>/dev/null; status=1; }

# That conversion dragged back in under a name of its own (a taken name is
# refused).
sed '1,/^--$/d; s|<string>WAVE 44.1 kHz 16 bit</string>|<string>Dragged in</string>|' \
  "$work/dragged-out.txt" >"$work/conversion.xml"
"$peer" source 900 100 --data application/x-corvane-conversions+xml "$work/conversion.xml" &
sleep 1
drag s 980 180 w "${conversion_table[@]}"

# A folder dropped on the output page becomes the output folder.
mkdir -p "$work/dropped-folder"
"$peer" source 900 100 --url "$work/dropped-folder" &
sleep 1
click_at "${output_tab[@]}"
drag s 980 180 w "${drop_view[@]}"
xwd -id "$win" -silent | convert xwd:- "$work/output-page.png" 2>/dev/null || true

# The key equivalents swap with the folder: with one defined, Ctrl+S chooses
# another (the folder panel opens; Escape closes it).
xdotool windowfocus "$win" key ctrl+s
panel=""
for _ in $(seq 1 20); do
  panel=$(xdotool search --onlyvisible --name 'choose a folder' 2>/dev/null | head -n 1) && [ -n "$panel" ] && break
  sleep 0.25
done
if [ -n "$panel" ]; then
  xdotool windowfocus "$panel" key Escape
  sleep 0.5
else
  echo "Ctrl+S did not open the folder panel"; status=1
fi

# The space key plays the selected input and stops it again.
snap() { xwd -id "$win" -silent | convert xwd:- "$1"; }
click_at "${input_tab[@]}"
click_at "${first_input[@]}"
snap "$work/before-space.png"
xdotool key space
sleep 0.5
snap "$work/playing.png"
xdotool key space
sleep 0.5
snap "$work/after-space.png"
differs() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" != 0 ]; }
differs "$work/before-space.png" "$work/playing.png" ||
  { echo "space did not start playback"; status=1; }
differs "$work/playing.png" "$work/after-space.png" ||
  { echo "space did not stop playback"; status=1; }

# Quit through the quit sequence (it saves the conversions) and read back.
kill -TERM "$pid"
wait "$pid" || true
trap - EXIT
[ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
python3 - "$XDG_CONFIG_HOME/corvane/preferences.plist" "$work/dropped-folder" <<'PY' || status=1
import plistlib, sys
prefs = plistlib.load(open(sys.argv[1], 'rb'))
names = [c.get('XWCSName') for c in prefs.get('Conversions', [])]
ok = True
if len(names) != 4 or 'Dragged in' not in names:
    print('conversions after the drag in:', names); ok = False
if prefs.get('Last Used Destination') != sys.argv[2]:
    print('output folder after the drop:', prefs.get('Last Used Destination')); ok = False
sys.exit(0 if ok else 1)
PY
[ $status -eq 0 ] || exit 1
echo "end-to-end: ok"
