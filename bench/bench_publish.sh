#!/usr/bin/env bash
# renewel-publish against rsync on the same release, in the same run (not a test; CTest never runs it):
#   first publish   renewel-publish (copy, hash, list, sign)   vs  rsync -a + sha256sum of every file
#   after 1 change  renewel-publish again                      vs  rsync -a + sha256sum of that file
# Usage: bench/bench_publish.sh [TOTAL_MIB [FILES]]   (default 2048 MiB in 20000 files)
# RENEWEL_PUBLISH names the tool (default build/release/publish/renewel-publish); BENCH_DIR the
# folder to work in (default a temporary folder below /var/tmp, on disk rather than in memory).
set -euo pipefail
cd "$(dirname "$0")/.."
total_mib=${1:-2048}
files=${2:-20000}
tool=$(realpath "${RENEWEL_PUBLISH:-build/release/publish/renewel-publish}")
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/bench-publish.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "release: $files files, $total_mib MiB in $work"
python3 - "$total_mib" "$files" <<'PY'
import os, sys
total, count = int(sys.argv[1]) << 20, int(sys.argv[2])
size = total // count
for i in range(count):
    folder = f"release/d{i // 100:03d}"
    os.makedirs(folder, exist_ok=True)
    with open(f"{folder}/f{i:05d}.bin", "wb") as f:
        f.write(os.urandom(size))
PY
minisign -G -W -p bench.pub -s bench.key >/dev/null
sync

seconds() { local start=$(date +%s.%N); "$@" >/dev/null; awk "BEGIN { print $(date +%s.%N) - $start }"; }
ratio() { awk "BEGIN { print $1 / $2 }"; }
hash_all() { find peer -type f -print0 | xargs -0 -P1 sha256sum >/dev/null; }
peer_first() { rsync -a release/ peer/ && hash_all; }
changed=release/d000/f00000.bin
peer_again() { rsync -a release/ peer/ && sha256sum "peer/${changed#release/}" >/dev/null; }

# Each run starts with nothing unwritten in the page cache ("sync", not timed), so that
# renewel-publish's flush before switching the site waits for its own writes only.
publish_first=$(sync; seconds "$tool" release site --key bench.key)
rsync_first=$(sync; seconds peer_first)
python3 -c "import os; open('$changed', 'r+b').write(os.urandom(4096))"   # same size, new bytes
publish_again=$(sync; seconds "$tool" release site --key bench.key)
rsync_again=$(sync; seconds peer_again)
"$tool" verify site --pub bench.pub >/dev/null || { echo "bench_publish: the site does not verify" >&2; exit 1; }

printf '%-34s %9s %9s %7s\n' "" "publish" "peer" "ratio"
printf '%-34s %8.3fs %8.3fs %6.2fx\n' "first publish (peer: rsync+sha256)" "$publish_first" "$rsync_first" \
  "$(ratio "$publish_first" "$rsync_first")"
printf '%-34s %8.3fs %8.3fs %6.2fx\n' "after one change (peer: rsync+1)" "$publish_again" "$rsync_again" \
  "$(ratio "$publish_again" "$rsync_again")"
echo "(renewel-publish also flushes the new release to disk before switching the site; rsync does not)"
