#!/bin/bash
# Fails when a program imports a heap allocator: malloc and friends, or
# C++ operator new.
#
#   check-no-heap.sh NM PROGRAM
set -euo pipefail

if [ "$#" -ne 2 ]; then
    echo "usage: check-no-heap.sh NM PROGRAM" >&2
    exit 2
fi
Imports="$("$1" --dynamic --undefined-only --demangle "$2" | awk '{print $NF}')"
Allocators="$(grep -E '^(malloc|calloc|realloc|reallocarray|free|strdup|strndup|posix_memalign|aligned_alloc|operator new.*|operator delete.*)(@.*)?$' <<<"$Imports" || true)"
if [ -n "$Allocators" ]; then
    echo "check-no-heap.sh: $2 imports a heap allocator:" >&2
    echo "$Allocators" >&2
    exit 1
fi
echo "no heap allocator imported by $2 ($(wc -l <<<"$Imports") imports)"
