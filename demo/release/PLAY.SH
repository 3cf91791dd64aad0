#!/bin/sh
# Star Cruiser, demo release: shows the pilot's briefing.
cd "$(dirname "$0")" || exit 1
if command -v xmessage >/dev/null 2>&1; then
    exec xmessage -center -file README.TXT
fi
exec xdg-open README.TXT
