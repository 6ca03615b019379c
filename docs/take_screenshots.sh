#!/bin/sh
# Retakes the README's pictures of the window (docs/window-*.png): runs the
# program on a virtual X display under openbox, drives it from the keyboard
# with xdotool as a person would, and captures the window's client area
# with ImageMagick's import. Needs xvfb, openbox, xdotool and imagemagick:
#   xvfb-run -a -s "-screen 0 1024x768x24" \
#       sh tests/ui/under_window_manager.sh sh docs/take_screenshots.sh build/app/morvane
# The window during a run (window-run.png, one picture per later phase and
# window-stopping.png) needs a slow disk: the end-to-end
# test pictures it on its slowed file layer when told where to:
#   MORVANE_SCREENSHOT_DIR=docs QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
#       sh tests/ui/under_window_manager.sh build/tests/ui/morvane_ui_e2e \
#       --gtest_filter=EndToEnd.TheWindowAnswersDuringARunAndStopsIt
set -eu
program=$(realpath "$1")
out=$(cd "$(dirname "$0")" && pwd)
demo=/tmp/demo/Videos
rm -rf /tmp/demo
mkdir -p "$demo"
# 70 MiB; sparse, so that dividing it takes no time.
truncate -s 73400320 "$demo/holiday-video.mp4"

start() {
    "$program" &
    app=$!
    window=$(xdotool search --sync --onlyvisible --name '^Morvane$' | head -1)
    sleep 1
}
stop() {
    kill "$app"
    wait "$app" 2>/dev/null || true
}
# Waits for the dialog titled $1, types the path $2 into it and presses Enter.
answer() {
    xdotool search --sync --onlyvisible --name "^$1\$" > /dev/null
    sleep 1
    xdotool key ctrl+a
    xdotool type --delay 20 "$2"
    xdotool key Return
    sleep 1
}
shoot() {
    import -window "$window" "$out/$1"
}

start
shoot window-welcome.png
xdotool key ctrl+i
answer 'File to be divided' "$demo/holiday-video.mp4"
# Chunk size 20 MB: the unit first (Down twice in the list), then the size.
xdotool key alt+s Tab Down Down
sleep 0.5
xdotool key alt+s
xdotool type "20"
xdotool key Tab
sleep 0.5
# Two recovery chunks.
xdotool key alt+r ctrl+a
xdotool type "2"
xdotool key Tab
sleep 0.5
shoot window-divide.png
xdotool key alt+d
answer 'Divide as' "$demo/holiday-video.hed"
# Waits (at most 30 s) until the file $1 exists.
await() {
    waited=0
    while [ ! -e "$1" ] && [ "$waited" -lt 300 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
}
# The header file gets its name last, after the checksum and recovery files,
# so that the glue panel's Checksums and Recovery rows show them.
await "$demo/holiday-video.hed"
stop

start
xdotool key ctrl+u
answer 'Open header file' "$demo/holiday-video.hed"
shoot window-glue.png
stop

# A lost chunk, rebuilt from the recovery data by the glue.
rm "$demo/holiday-video_2.div"
start
xdotool key ctrl+u
answer 'Open header file' "$demo/holiday-video.hed"
xdotool key alt+g
answer 'Glue as' "$demo/holiday-video-restored.mp4"
await "$demo/holiday-video-restored.mp4"
sleep 1
shoot window-glue-repair.png
stop
rm -rf /tmp/demo
