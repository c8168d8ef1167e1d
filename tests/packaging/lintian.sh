#!/usr/bin/env bash
# lintian.sh DIST_DIR INSTALL_DOC
# Every package of DIST_DIR passes lintian without an error, and every warning
# it still gives is explained in the installation guide (its tag named there).
set -euo pipefail
dist=$1
doc=$2
shopt -s nullglob
debs=("$dist"/quorvod-server_*.deb "$dist"/quorvod-terminal_*.deb "$dist"/quorvod-tools_*.deb)
if [ ${#debs[@]} -ne 3 ]; then
  echo "expected the three packages in $dist, found: ${debs[*]:-none}; make them with ./ktv package" >&2
  exit 1
fi
out=$(lintian --pedantic --display-level '>=pedantic' "${debs[@]}" 2>&1) || true
echo "$out"
status=0
if grep -q '^E: ' <<<"$out"; then
  echo "FAILED: lintian reports errors" >&2
  status=1
fi
if grep -Eq '^(internal error|lintian: )' <<<"$out"; then
  echo "FAILED: lintian did not run through" >&2
  status=1
fi
for tag in $(sed -n 's/^[WP]: [^:]*: \([a-z0-9-]*\).*/\1/p' <<<"$out" | sort -u); do
  if ! grep -q "\`$tag\`" "$doc"; then
    echo "FAILED: the lintian warning $tag is not explained in $doc" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "lintian: no errors; every warning is explained in $(basename "$doc")"
exit $status
