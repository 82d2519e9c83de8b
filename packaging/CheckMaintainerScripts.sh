#!/usr/bin/env bash
# The package's maintainer scripts where no udev daemon runs (a container, a chroot): they
# succeed, say nothing and leave udevadm alone. A udevadm that complains stands in for the real
# one, which fails there with a message.
#   CheckMaintainerScripts.sh
set -euo pipefail
if [ -S /run/udev/control ]; then
  echo "SKIPPED: a udev daemon runs here"
  exit 0
fi
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
printf '#!/bin/sh\necho "udevadm $*: Failed to send reload request" >&2\nexit 1\n' >"$fake/udevadm"
chmod +x "$fake/udevadm"
failures=0
for run in "postinst configure" "postrm remove" "postrm purge"; do
  set -- $run
  output=$(PATH="$fake:$PATH" sh "${0%/*}/debian/$1" "$2" 2>&1) || output="$output (exit $?)"
  if [ -n "$output" ]; then
    echo "$run: $output"
    failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ] && echo "maintainer scripts: quiet without a udev daemon"
exit $((failures > 0))
