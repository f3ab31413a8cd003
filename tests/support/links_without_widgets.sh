#!/bin/sh
# Fails when one of the programs given loads Qt Widgets or Qt Gui.
status=0
for program in "$@"; do
    libraries=$(ldd "$program") || { echo "cannot read $program"; status=1; continue; }
    if echo "$libraries" | grep -E 'libQt6(Widgets|Gui)' >/dev/null; then
        echo "$program links the display stack:"
        echo "$libraries" | grep -E 'libQt6'
        status=1
    fi
done
[ $# -gt 0 ] || { echo "no programs given"; status=1; }
exit $status
