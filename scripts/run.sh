#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what the build needs,
# build the release, then encrypt a sample folder and decrypt it back.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== Installing build dependencies"
scripts/install-deps.sh

echo "== Building Release into build/release"
scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release -DKELTO_SANITIZE=OFF -DKELTO_BUILD_CLI=ON -DKELTO_BUILD_TESTS=ON -DKELTO_BUILD_BENCH=ON
cli=$PWD/build/release/kelto-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A private config home, so the sample run leaves the user's options alone.
export XDG_CONFIG_HOME=$work/config

echo "== Making a sample folder in $work/sample"
mkdir -p "$work/sample/docs/deeper"
echo "a short note" > "$work/sample/note.txt"
: > "$work/sample/empty.dat"
head -c 4096 /dev/urandom > "$work/sample/docs/page.bin"
head -c 3000000 /dev/urandom > "$work/sample/docs/deeper/large.bin"
cp -a "$work/sample" "$work/original"
printf 'sample password\n' > "$work/password"

echo "== Encrypting"
"$cli" encrypt --password-file "$work/password" "$work/sample"
echo "== The folder now holds"
find "$work/sample" -type f -exec ls -l {} +

echo "== Decrypting"
"$cli" decrypt --password-file "$work/password" "$work/sample"

echo "== Comparing with the original"
status=0
while IFS= read -r -d '' f; do
  rel=${f#"$work/original/"}
  if cmp "$f" "$work/sample/$rel"; then echo "restored: $rel"; else status=1; fi
done < <(find "$work/original" -type f -print0)
[ "$(find "$work/sample" -type f | wc -l)" -eq "$(find "$work/original" -type f | wc -l)" ] || status=1
if [ $status -eq 0 ]; then echo "== All files restored byte for byte"; else echo "== MISMATCH" >&2; fi
exit $status
