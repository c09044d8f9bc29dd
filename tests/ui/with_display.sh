#!/bin/sh
# with_display.sh COMMAND [ARGUMENT...]
# Runs a command with an X display: the one in DISPLAY when it is set, else a private Xvfb that
# lives as long as the command. Wine draws its windows on X, so the window tests need a display
# even with nobody looking. Fails, saying why, when there is neither.
set -u

if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "with_display.sh: no DISPLAY and no Xvfb (Debian package xvfb): the window tests need an X display" >&2
  exit 1
fi

number=$(mktemp)
# Xvfb picks a free display itself and writes its number once it takes connections, so parallel
# runs never race for one.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$number"' EXIT

deadline=$(($(date +%s) + 30))
while [ ! -s "$number" ]; do
  if ! kill -0 "$server" 2>/dev/null; then
    echo "with_display.sh: Xvfb ended before it took connections" >&2
    exit 1
  fi
  if [ "$(date +%s)" -ge "$deadline" ]; then
    echo "with_display.sh: Xvfb did not take connections within 30 s" >&2
    exit 1
  fi
  sleep 0.05
done

DISPLAY=":$(head -n 1 "$number")"
export DISPLAY
"$@"
