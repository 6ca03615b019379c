#!/bin/sh
# Runs a program on the current X display under the openbox window manager,
# as on a desktop, then stops the window manager. Both get fresh, empty
# configuration and cache folders, removed afterwards, so that nothing of the
# user's is read or written and the program's leftovers there can be seen.
#   under_window_manager.sh PROGRAM [ARGUMENTS...]
set -u
home=$(mktemp -d) || exit 1
mkdir "$home/config" "$home/cache"
XDG_CONFIG_HOME=$home/config
XDG_CACHE_HOME=$home/cache
export XDG_CONFIG_HOME XDG_CACHE_HOME

openbox --sm-disable --startup "touch $home/wm-ready" &
wm=$!
waited=0
while [ ! -e "$home/wm-ready" ]; do
    if ! kill -0 "$wm" 2>/dev/null || [ "$waited" -ge 600 ]; then
        echo "under_window_manager.sh: openbox did not start" >&2
        kill "$wm" 2>/dev/null
        rm -rf "$home"
        exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
done
rm "$home/wm-ready"

"$@"
status=$?
kill "$wm"
wait "$wm" 2>/dev/null
rm -rf "$home"
exit "$status"
