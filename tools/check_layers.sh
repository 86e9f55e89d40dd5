#!/usr/bin/env bash
# The layers call in one direction only: fails when the reader (vcd/)
# includes anything but the standard library and its own files, or when the
# reader or the core (src/lib/) includes Python.h.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
complain() {
  echo "check_layers: $1" >&2
  status=1
}

# Every #include line of the given files, as "file:line:text".
includes() { grep -Hn '^[[:space:]]*#[[:space:]]*include' "$@" || true; }

while IFS= read -r found; do
  target=$(sed -E 's/^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*([<"][^>"]*[>"]).*/\1/' <<<"$found")
  case "$target" in
    '"vcd/'*'"') ;;                 # the reader's own files
    '<Python.h>' | '"Python.h"') complain "the reader includes Python.h: $found" ;;
    '<'*'>') ;;                     # the standard library and the system
    *) complain "the reader includes something outside itself: $found" ;;
  esac
done < <(includes vcd/*.hpp vcd/*.cpp)

while IFS= read -r found; do
  complain "the core includes Python.h: $found"
done < <(includes src/lib/*.hpp src/lib/*.cpp | grep -E 'Python\.h' || true)

# A system header that is not part of the C++ or POSIX libraries would slip
# through the angle-bracket rule above; name the ones the reader may use.
while IFS= read -r found; do
  header=$(sed -E 's/[^<]*<([^>]*)>.*/\1/' <<<"$found")
  case "$header" in
    fcntl.h | poll.h | unistd.h | string.h | sys/stat.h | sys/types.h) ;;
    zlib.h | zstd.h | lz4.h | libdeflate.h) ;;  # the decompressors of compressed dumps and FST blocks
    emmintrin.h | immintrin.h) ;;  # vector instructions of the line road
    *.h) complain "the reader includes a non-standard header: $found" ;;
  esac
done < <(includes vcd/*.hpp vcd/*.cpp | grep '<')

[ "$status" -eq 0 ] && echo "check_layers: the reader and the core include what their layers allow"
exit "$status"
