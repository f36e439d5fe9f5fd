#!/usr/bin/env bash
# renewel-publish with its chunk store against zchunk's zck on the same release, in the same run
# (not a test; CTest never runs it):
#   first publish   renewel-publish (copy, hash, chunk, compress, list, sign)  vs  zck on every file
#   after 1 change  renewel-publish again (4 KiB changed in one file)          vs  zck on that file
# The release is game data (bench_release_content: incompressible blocks, record tables, text).
# zck runs one process per core, as renewel-publish chunks on every core.
# Usage: bench/bench_publish_chunks.sh [TOTAL_MIB [FILES]]   (default 2048 MiB in 128 files)
# RENEWEL_PUBLISH names the tool (default build/release/publish/renewel-publish), CONTENT the
# generator (default build/release/bench/bench_release_content); BENCH_DIR the folder to work in
# (default a temporary folder below /var/tmp, on disk rather than in memory).
set -euo pipefail
cd "$(dirname "$0")/.."
total_mib=${1:-2048}
files=${2:-128}
tool=$(realpath "${RENEWEL_PUBLISH:-build/release/publish/renewel-publish}")
content=$(realpath "${CONTENT:-build/release/bench/bench_release_content}")
command -v zck >/dev/null || { echo "bench_publish_chunks: zck not found (package zchunk)" >&2; exit 1; }
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/bench-publish-chunks.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "release: $files files, $total_mib MiB of game data in $work"
"$content" release "$total_mib" "$files"
minisign -G -W -p bench.pub -s bench.key >/dev/null
sync

seconds() { local start=$(date +%s.%N); "$@" >last.out; awk "BEGIN { print $(date +%s.%N) - $start }"; }
ratio() { awk "BEGIN { print $1 / $2 }"; }
zck_one() { zck -o "peer/$(basename "$1").zck" "$1"; }
export -f zck_one
zck_all() { mkdir -p peer && find release -type f -print0 | xargs -0 -P "$(nproc)" -I{} bash -c 'zck_one "$1"' _ {}; }
changed=release/d000/f00000.dat

# Each run starts with nothing unwritten in the page cache ("sync", not timed).
publish_first=$(sync; seconds "$tool" release site --key bench.key)
zck_first=$(sync; seconds zck_all)
store_bytes=$(du -sb site.releases/chunks | cut -f1)
zck_bytes=$(du -sb peer | cut -f1)
python3 -c "import os; f = open('$changed', 'r+b'); f.seek(os.path.getsize('$changed') // 2); f.write(os.urandom(4096))"
publish_again=$(sync; seconds "$tool" release site --key bench.key)
again=$(tail -1 last.out)
zck_again=$(sync; seconds zck_one "$changed")
"$tool" verify site --pub bench.pub >/dev/null || { echo "bench_publish_chunks: the site does not verify" >&2; exit 1; }

printf '%-36s %9s %9s %7s\n' "" "publish" "zck" "ratio"
printf '%-36s %8.3fs %8.3fs %6.2fx\n' "first publish (peer: zck every file)" "$publish_first" "$zck_first" \
  "$(ratio "$publish_first" "$zck_first")"
printf '%-36s %8.3fs %8.3fs %6.2fx\n' "after one change (peer: zck 1 file)" "$publish_again" "$zck_again" \
  "$(ratio "$publish_again" "$zck_again")"
echo "after one change: $again"
printf 'chunk store %d bytes, zck files %d bytes (%.3fx)\n' "$store_bytes" "$zck_bytes" "$(ratio "$store_bytes" "$zck_bytes")"
echo "(renewel-publish also copies the release, signs it and flushes it to disk before switching the site; zck does none of that)"
