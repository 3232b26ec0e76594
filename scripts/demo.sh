#!/usr/bin/env bash
# The first command to run: installs what is missing, builds the library, the
# tool and the example host, runs the host (which writes a few records), and
# shows the records with the vardlix tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh

build=build/linux
# The library keeps the host's logs beside it, in a folder named after the
# host's executable.
folder="$build/examples/vardlix-demoLog"
# Earlier runs left records in the same day's file; show this run's only.
since=$(date '+%Y.%m.%d %H:%M:%S')

echo
echo "\$ $build/examples/vardlix-demo"
"$build/examples/vardlix-demo"
echo
echo "\$ $build/tools/vardlix show --folder $folder --since '$since'"
"$build/tools/vardlix" show --folder "$folder" --since "$since"
