#!/usr/bin/env bash
# End-to-end timings of kelto-cli on one 256 MiB file on disk, beside
# openssl's CAST5 and a plain cp, and the peak memory of kelto-cli on a
# 16 MiB and the 256 MiB file.
# Usage: bench/e2e.sh [path/to/kelto-cli]   (default build/release/kelto-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/release/kelto-cli}")
[ -x "$cli" ] || { echo "no kelto-cli at $cli (build it first)" >&2; exit 1; }

work=$(mktemp -d /var/tmp/kelto-e2e.XXXXXX)   # on disk, not tmpfs
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/tmp"
export XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp
printf 'benchmark password\n' > "$work/pw"
common=(--password-file "$work/pw" --yes --no-random-name --no-ram-temp)

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }

# Runs kelto-cli, leaves its wall time in $secs and its peak RSS (KiB) in $rss.
run_cli() {
  local t0 t1
  t0=$(now)
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M -o "$work/rss" "$cli" "$@" >/dev/null
    rss=$(tail -1 "$work/rss")
  else
    "$cli" "$@" >/dev/null &
    local pid=$! peak=0 v
    while kill -0 $pid 2>/dev/null; do
      v=$(awk '/VmHWM/ {print $2}' /proc/$pid/status 2>/dev/null || true)
      [ -n "$v" ] && peak=$v
      sleep 0.05
    done
    wait $pid
    rss=$peak
  fi
  t1=$(now)
  secs=$(elapsed "$t0" "$t1")
}

mib=256
echo "making a ${mib} MiB file of random bytes in $work"
head -c $((mib * 1024 * 1024)) /dev/urandom > "$work/orig.bin"
sync

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }'; }
rounds=3   # best of three: the disk's write-back of earlier steps makes single runs noisy

# encrypt then decrypt the same file with the given wipe switches.
kelto_pair() {
  local label=$1; shift
  local enc="" dec="" enc_rss dec_rss r
  for r in $(seq $rounds); do
    cp "$work/orig.bin" "$work/f.bin"; sync
    run_cli encrypt "${common[@]}" "$@" "$work/f.bin"; enc=$(min "$secs" "$enc"); enc_rss=$rss
    [ -f "$work/f.bin.cpy" ] && [ ! -e "$work/f.bin" ] || { echo "encrypt did not produce f.bin.cpy" >&2; exit 1; }
    sync
    run_cli decrypt "${common[@]}" "$@" "$work/f.bin.cpy"; dec=$(min "$secs" "$dec"); dec_rss=$rss
    cmp "$work/orig.bin" "$work/f.bin" || { echo "decrypted file differs" >&2; exit 1; }
    rm -f "$work/f.bin"; sync
  done
  printf '%-34s encrypt %7.3f s  decrypt %7.3f s  (peak RSS %s / %s KiB)\n' "$label" "$enc" "$dec" "$enc_rss" "$dec_rss"
  eval "${label%% *}_enc=$enc; ${label%% *}_dec=$dec; ${label%% *}_rss=$enc_rss"
}

kelto_pair "plain kelto-cli (--no-zero --no-rand)" --no-zero --no-rand
kelto_pair "zero kelto-cli (--zero --no-rand)" --zero --no-rand

key=00112233445566778899aabbccddeeff
ossl_enc="" ossl_dec=""
for r in $(seq $rounds); do
  t0=$(now)
  openssl enc -cast5-ecb -provider legacy -provider default -nopad -K $key -in "$work/orig.bin" -out "$work/o.enc"
  t1=$(now); ossl_enc=$(min "$(elapsed "$t0" "$t1")" "$ossl_enc"); sync
  t0=$(now)
  openssl enc -d -cast5-ecb -provider legacy -provider default -nopad -K $key -in "$work/o.enc" -out "$work/o.dec"
  t1=$(now); ossl_dec=$(min "$(elapsed "$t0" "$t1")" "$ossl_dec")
  cmp "$work/orig.bin" "$work/o.dec"
  rm -f "$work/o.enc" "$work/o.dec"; sync
done
printf '%-34s encrypt %7.3f s  decrypt %7.3f s\n' "openssl enc -cast5-ecb" "$ossl_enc" "$ossl_dec"

cp_secs=""
for r in $(seq $rounds); do
  t0=$(now); cp "$work/orig.bin" "$work/c.bin"; sync; t1=$(now)
  cp_secs=$(min "$(elapsed "$t0" "$t1")" "$cp_secs"); rm -f "$work/c.bin"; sync
done
printf '%-34s %7.3f s (with sync)\n' "cp" "$cp_secs"

echo
printf 'ratio openssl/kelto, plain: encrypt %.2f  decrypt %.2f\n' \
  "$(div "$ossl_enc" "$plain_enc")" "$(div "$ossl_dec" "$plain_dec")"
printf 'ratio openssl/kelto, zero:  encrypt %.2f  decrypt %.2f\n' \
  "$(div "$ossl_enc" "$zero_enc")" "$(div "$ossl_dec" "$zero_dec")"
printf 'throughput kelto plain encrypt: %.0f MiB/s\n' "$(div "$mib" "$plain_enc")"

# Peak memory should not grow with the file.
head -c $((16 * 1024 * 1024)) /dev/urandom > "$work/small.bin"
run_cli encrypt "${common[@]}" --no-zero --no-rand "$work/small.bin"; small_rss=$rss
echo
echo "peak RSS of kelto-cli encrypt: 16 MiB file ${small_rss} KiB, ${mib} MiB file ${plain_rss} KiB"
