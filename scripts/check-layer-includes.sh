#!/usr/bin/env bash
# The build refuses an include that runs up a layer because each layer sees
# only its own headers and those of the layers it links. A relative include
# ("../formats/X.h") would slip past that: none is allowed under src/.
set -euo pipefail
cd "$(dirname "$0")/.."
if grep -rnE '#[[:space:]]*include[[:space:]]*"[^"]*\.\./' src; then
  echo "check-layer-includes: relative includes found (include \"<layer>/<file>.h\" instead)" >&2
  exit 1
fi
echo "check-layer-includes: no relative includes"
