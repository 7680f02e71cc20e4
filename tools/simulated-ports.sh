#!/usr/bin/env bash
# Makes the ports folder of a simulated run: COM2 to COM4 name devices that do not exist, and the
# folder says it names every port there is, so this computer's own serial ports take no number
# and discovery never writes "F;" to whatever is plugged into them. The simulated machine links
# itself as COM1 (machine-sim --ports DIR --com 1); --port 2=machine and the like replace a link.
#   tools/simulated-ports.sh PORTS-DIR
set -euo pipefail
ports=${1:?usage: simulated-ports.sh PORTS-DIR}
mkdir -p "$ports"
nowhere=$(dirname "$ports")/no-such-device
for n in 2 3 4; do
    ln -sfn "$nowhere/com$n" "$ports/com$n"
done
: >"$ports/complete"
