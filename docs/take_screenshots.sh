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
# The glue checking and rebuilding a chunk (window-glue-checking.png,
# window-glue-rebuilding.png) are pictured only
# on a slow disk: mount the slow file system on /tmp/demo first (as root):
#   xvfb-run -a -s "-screen 0 1024x768x24" sh tests/ui/under_window_manager.sh \
#       bash tests/durability/slow_fs.sh /var/tmp/demo-backing /tmp/demo \
#       sh docs/take_screenshots.sh build/app/morvane
set -eu
program=$(realpath "$1")
out=$(cd "$(dirname "$0")" && pwd)
demo=/tmp/demo/Videos
slow=false
mountpoint -q /tmp/demo && slow=true
rm -rf "$demo"
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
# The whole screen, with the window's message box over it.
shoot_screen() {
    import -window root "$out/$1"
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
# Waits (at most 2 minutes) until the file $1 exists.
await() {
    waited=0
    while [ ! -e "$1" ] && [ "$waited" -lt 1200 ]; do
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

# A chunk lost again: Check finds it, and offers Repair.
rm "$demo/holiday-video_3.div"
start
xdotool key ctrl+u
answer 'Open header file' "$demo/holiday-video.hed"
xdotool key alt+k
# On a slow disk the check takes long enough to be seen reading a chunk.
if $slow; then
    sleep 0.3
    shoot window-glue-checking.png
fi
sleep 3
shoot window-glue-check.png

# Glued as it is: the lost chunk is rebuilt first, which a slow disk shows.
if $slow; then
    rm -f "$demo/holiday-video-restored.mp4"
    xdotool key alt+g
    answer 'Glue as' "$demo/holiday-video-restored.mp4"
    # The rebuilt chunk is written under a temporary name first.
    waited=0
    while ! ls -a "$demo" | grep -q '^\.holiday-video_3\.div\..*morvane-part$' &&
        [ "$waited" -lt 300 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    sleep 0.5
    shoot window-glue-rebuilding.png
    await "$demo/holiday-video-restored.mp4"
    sleep 1
fi
stop

# More chunks lost than the recovery data covers: the reason in the message box.
rm -f "$demo/holiday-video_1.div" "$demo/holiday-video_2.div" "$demo/holiday-video_3.div" \
    "$demo/holiday-video-restored.mp4"
start
xdotool key ctrl+u
answer 'Open header file' "$demo/holiday-video.hed"
xdotool key alt+g
answer 'Glue as' "$demo/holiday-video-restored.mp4"
xdotool search --sync --onlyvisible --name '^Morvane$' > /dev/null
sleep 2
shoot_screen window-glue-hopeless.png
xdotool key Return
stop
rm -rf "$demo"
