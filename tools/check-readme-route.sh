#!/usr/bin/env bash
# Checks that the README's description of the code ("Working on it", from "The way of a
# byte" to "Tests, CI") names only what exists: every file path in backticks must be a
# file under src/ (or tests/), every `Class::Method` must be declared or defined in src/.
# Exit 1, naming each stale reference, when one is not there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
readme="$root/README.md"

section="$(awk '/^### The way of a byte/{on=1} /^### Tests, CI/{on=0} on' "$readme")"
if [[ -z "$section" ]]; then
    echo "check-readme-route: the README has no section \"The way of a byte\"" >&2
    exit 1
fi

stale=0
while IFS= read -r token; do
    case "$token" in
    Class::Method) ;; # the words of the README itself
    *::*)
        class="${token%%::*}"
        method="${token##*::}"
        # Defined out of line, or declared inside the class's own header.
        if grep -rqE "\b${class}::${method}\b" "$root/src"; then
            continue
        fi
        header="$(grep -rlE "^(class|struct) ${class}\b[^;]*$" "$root/src" --include="*.h" | head -1 || true)"
        if [[ -n "$header" ]] && grep -qE "\b${method}\s*\(" "$header"; then
            continue
        fi
        echo "README: \`$token\` is not in src/" >&2
        stale=1
        ;;
    *.cpp | *.h)
        if [[ -f "$root/src/$token" || -f "$root/$token" ]]; then
            continue
        fi
        echo "README: \`$token\` is not a file of src/" >&2
        stale=1
        ;;
    esac
done < <(grep -oE '`[^`]+`' <<<"$section" | tr -d '`' | grep -E '^([A-Za-z_][A-Za-z0-9_]*::[A-Za-z_][A-Za-z0-9_]*|[A-Za-z0-9_/]+\.(cpp|h))$' | sort -u)

if [[ $stale -ne 0 ]]; then
    exit 1
fi
echo "check-readme-route: every file and Class::Method the README names is in src/"
