#!/bin/sh
# Each layer includes only itself and the layers below it, naming each: maintenance/ nothing but
# itself, setup/base/ the maintenance module, setup/win/ both. Prints every include that reaches
# higher (the window, the worker, "../").
cd "$(dirname "$0")/.." || exit 2
status=0
check() {  # a layer's folder, and the layers it may include
    above=$(grep -rn '#include "' "$1" | grep -vE "#include \"($2)/")
    [ -z "$above" ] || { echo "$1 reaches above its layer:"; echo "$above"; status=1; }
}
check maintenance 'maintenance'
check setup/base 'base|maintenance'
check setup/win 'win|base|maintenance'
exit $status
