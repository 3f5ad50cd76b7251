#!/bin/sh
# Each layer includes only itself and the layers below it, naming each: maintenance/ nothing but
# itself, setup/base/ the maintenance module, setup/win/ both. Above them the program's two
# threads keep to their rooms: the worker includes nothing of the window, and the window nothing
# of the worker but its entry point. Prints every include that reaches too far.
cd "$(dirname "$0")/.." || exit 2
status=0
report() {  # what was found, and whose it is
    [ -z "$1" ] || { echo "$2:"; echo "$1"; status=1; }
}
check() {  # a layer's folder, and the layers it may include
    report "$(grep -rn '#include "' "$1" | grep -vE "#include \"($2)/")" "$1 reaches above its layer"
}
check maintenance 'maintenance'
check setup/base 'base|maintenance'
check setup/win 'win|base|maintenance'
report "$(grep -rn '#include "window/' setup/worker)" "the worker includes the window"
report "$(grep -rn '#include "worker/' setup/window | grep -v '#include "worker/install.h"')" \
    "the window includes more of the worker than its entry point"
exit $status
