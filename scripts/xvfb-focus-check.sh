#!/usr/bin/env bash
# Keys after a box, in a real window: runs the program under Xvfb with a window
# manager, switches to the full command set, loads the two-species example, runs
# c(s), chooses "Continuous c(s) Distribution" again from the Model menu (which
# raises the note "may need to recalculate before integrating distribution data"),
# answers the note with Enter and types Ctrl+P. The keys have arrived when the
# Parameters dialog opens. Prints PASS or FAIL (exit 0 or 1); exit 2 when the run did
# not get as far as the note.
#
#   scripts/xvfb-focus-check.sh [program] [keys|mouse|reload]
#
# "keys" (the default) opens the Model menu with Alt+E and the arrow keys, "mouse"
# with clicks; "reload" raises the note by loading the parameter file again.
# FAST=1 types Enter and Ctrl+P at once; CONTROL=1 minimizes the window before
# Ctrl+P, so that the keys cannot arrive (the check must then print FAIL). PRESET=1 starts with the full command set
# kept from an earlier start. WM=fluxbox starts that window manager instead of
# openbox on a display without one; XVFB_DISPLAY chooses the display (57).
# Needs xvfb, openbox (or fluxbox), xdotool and x11-utils; ImageMagick's import, when
# installed, keeps a screenshot of each step in the work folder it names.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$here/build/tarmic}
route=${2:-keys}
display_number=${XVFB_DISPLAY:-57}
export DISPLAY=:$display_number

work=$(mktemp -d /tmp/tarmic-focus.XXXXXX)
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache
mkdir -p "$XDG_CONFIG_HOME/tarmic" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
cp -r "$here/examples/two_species" "$work/data"
# The file dialogs start in the data folder.
printf '%s' "$work/data/" >"$XDG_CONFIG_HOME/tarmic/tarmic.ini"
# PRESET=1: the full command set kept from an earlier start instead of chosen now.
[ "${PRESET:-0}" = 1 ] && printf '\nFullCommandSet=1' >>"$XDG_CONFIG_HOME/tarmic/tarmic.ini"

pids=()
finish() {
  for ((i = ${#pids[@]} - 1; i >= 0; --i)); do kill "${pids[i]}" 2>/dev/null; done
  wait 2>/dev/null
}
trap finish EXIT

step=0
shot() {
  step=$((step + 1))
  command -v import >/dev/null && import -window root "$work/step-$step-$1.png" 2>/dev/null
}
log() { echo "[$(date +%T)] $*" >&2; }

if ! xdpyinfo >/dev/null 2>&1; then
  Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; then
  ${WM:-openbox} >"$work/wm.log" 2>&1 &
  pids+=($!)
  sleep 1
fi

"$program" >"$work/program.log" 2>&1 &
tarmic=$!
pids+=($tarmic)

# The program's visible windows, one id a line.
windows() { xdotool search --onlyvisible --pid "$tarmic" 2>/dev/null | sort; }
active_name() { xdotool getactivewindow getwindowname 2>/dev/null; }
# Waits up to $2 seconds for a visible window of the program whose name matches $1.
wait_name() {
  local end=$((SECONDS + $2))
  while ((SECONDS < end)); do
    for w in $(windows); do
      if xdotool getwindowname "$w" 2>/dev/null | grep -Eq "$1"; then
        echo "$w"
        return 0
      fi
    done
    sleep 0.2
  done
  return 1
}
# Waits up to $2 seconds for the program to show exactly $1 visible windows.
wait_count() {
  local end=$((SECONDS + $2))
  while ((SECONDS < end)); do
    [ "$(windows | wc -l)" -eq "$1" ] && return 0
    sleep 0.2
  done
  return 1
}
key() { xdotool key --delay 80 "$@"; sleep 0.4; }
type_text() { xdotool type --delay 20 "$1"; sleep 0.3; }

# The disclaimer of the first start comes before the window: "agree" is its
# default button.
if about=$(wait_name '^About$' 30); then
  xdotool windowactivate --sync "$about" 2>/dev/null
  key Return
fi
sleep 2
main=$(windows | head -1)
[ -n "$main" ] || { shot nowindow; echo "FAIL: no window"; exit 2; }
log "window $main: '$(xdotool getwindowname "$main")'"
shot started

# Options > "Full Command Set", the last item of the Options menu.
xdotool windowactivate --sync "$main" 2>/dev/null
if [ "${PRESET:-0}" != 1 ]; then
  key alt+o
  key Up Return
  sleep 1
  shot fullset
fi

# Ctrl+L: the twenty scans.
key ctrl+l
wait_count 2 10 || { shot noload; echo "FAIL: no file dialog"; exit 2; }
names=""
for i in $(seq -w 1 20); do names+="\"000$i.ra0\" "; done
type_text "$names"
key Return
wait_count 1 30
sleep 1
shot loaded
# Ctrl+L: the c(s) parameter file, and Yes to "switch to parameter file".
key ctrl+l
wait_count 2 10 || { shot noload2; echo "FAIL: no file dialog"; exit 2; }
type_text "cs.~p"
key Return
sleep 1
while [ "$(windows | wc -l)" -gt 1 ]; do
  shot question
  key Return
  sleep 1
done
shot parameters
# Ctrl+R: Run c(s), until the window alone shows again.
key ctrl+r
sleep 3
wait_count 1 300
sleep 2
shot run

# The Model menu: "Continuous c(s) Distribution" (the model shown), its sixth item.
before=$(windows | wc -l)
if [ "$route" = reload ]; then
  # The c(s) parameter file loaded again over the distribution shown: Yes to
  # "switch to parameter file", then the note.
  key ctrl+l
  wait_count $((before + 1)) 10
  type_text "cs.~p"
  key Return
  sleep 1
  shot switch
  key Return
  sleep 1
elif [ "$route" = mouse ]; then
  # The menu bar's "Model" title, then its item, with clicks (positions in the
  # window as the program lays them out at its default size).
  xdotool mousemove --window "$main" 172 12 click 1
  sleep 0.8
  shot modelmenu
  xdotool mousemove --window "$main" 258 142
  sleep 0.5
  xdotool click 1
  sleep 0.5
else
  key alt+e
  shot modelmenu
  key Down Down Down Down Down Return
fi
note=$(wait_name 'recalculate|^$|TARMIC' 10)
sleep 1
if [ "$(windows | wc -l)" -le "$before" ]; then
  shot nonote
  echo "FAIL: the note did not open (windows: $(windows | wc -l))"
  exit 2
fi
shot note
log "note open; active: '$(active_name)'"
if [ "${FAST:-0}" = 1 ]; then
  # Enter and Ctrl+P typed at once, as a quick hand does.
  xdotool key --delay 30 Return ctrl+p
  sleep 2
else
  key Return
  wait_count "$before" 10
  sleep 0.5
  log "note answered; active: '$(active_name)'"
  shot answered
  if [ "${CONTROL:-0}" = 1 ]; then
    # The check of the check: the window gone from the keyboard must give FAIL.
    xdotool windowminimize --sync "$main" 2>/dev/null
    sleep 0.5
  fi
  # The next keys: Ctrl+P opens the Parameters dialog.
  key ctrl+p
  sleep 1.5
fi
after=$(windows | wc -l)
shot ctrlp
if [ "$after" -gt "$before" ]; then
  echo "PASS: Ctrl+P after the note opened a dialog (screenshots in $work)"
  key Escape
  exit 0
fi
echo "FAIL: Ctrl+P after the note did not reach the program; active window '$(active_name)' (screenshots in $work)"
exit 1
