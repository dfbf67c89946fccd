#!/usr/bin/env bash
# Keeps the folders' arrows pointing one way: app -> cleanup, protection ->
# support -> trace -> platform. A product file may include from its own
# folder and from folders below it, never from one above or beside it, and
# never from the simulation or the tests. The one exception is the run's
# outcome (app/outcome.h), which the cleaning stages record into. The
# simulation (sim/) includes only itself and the platform seam.
# Usage: check_layout.sh [SOURCE_ROOT]; prints each wrong include, exits 1 if any.
set -uo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root" || exit 2

rank() {
    case "$1" in
        app) echo 4 ;;
        cleanup | protection) echo 3 ;;
        support) echo 2 ;;
        trace) echo 1 ;;
        platform) echo 0 ;;
        *) echo 99 ;;  # sim, tests, e2e...: never included by the tool
    esac
}

bad=0
checked=0
for folder in app cleanup protection support trace platform; do
    [ -d "$folder" ] || continue
    while IFS= read -r file; do
        while IFS= read -r target; do
            checked=$((checked + 1))
            to="${target%%/*}"
            [ "$to" = "$target" ] && continue  # a system header or a file beside it
            [ "$to" = "$folder" ] && continue
            if [ "$folder" = cleanup ] && [ "$target" = app/outcome.h ]; then continue; fi
            if [ "$(rank "$to")" -ge "$(rank "$folder")" ]; then
                echo "layout: $file includes $target ($to is not below $folder)"
                bad=1
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done < <(find "$folder" -name '*.h' -o -name '*.cpp' | sort)
done
# The simulation plays the other side of the platform seam: it may include
# the seam (platform/) and its own files, never the tool's own code, so that
# it can never agree with the tool by sharing a mistake with it.
if [ -d sim ]; then
    while IFS= read -r file; do
        while IFS= read -r target; do
            checked=$((checked + 1))
            to="${target%%/*}"
            [ "$to" = "$target" ] && continue
            case "$to" in sim | platform) continue ;; esac
            echo "layout: $file includes $target (the simulation includes only sim/ and platform/)"
            bad=1
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done < <(find sim -name '*.h' -o -name '*.cpp' | sort)
fi
[ "$checked" -gt 0 ] || { echo "layout: no includes found under $root"; exit 2; }

# System libraries are loaded in one place, from the system folder by their
# full path (support/system_library.cpp): a bare name would let a library
# dropped beside the program run with the administrator's rights.
while IFS= read -r hit; do
    echo "layout: $hit loads a library outside support/system_library.cpp"
    bad=1
done < <(grep -rnE '\bLoadLibrary(Ex)?[AW]?[[:space:]]*\(' app cleanup protection support trace \
             --include='*.cpp' --include='*.h' | grep -v '^support/system_library\.cpp:')
[ "$bad" -eq 0 ] && echo "layout: $checked includes checked, every one points down"
exit $bad
