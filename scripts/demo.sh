#!/usr/bin/env bash
# Installs the dependencies, builds varnel and runs the main job on the
# bundled example. The drivers are not built yet: until then the demo shows
# the command line of the host.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VARNEL_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
"$build/varnel" --version
"$build/varnel" --help
