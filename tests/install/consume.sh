#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the examples out of tree against the
# installed package (CMake and pkg-config), and runs one of them against a simulated cluster.
# With with-python, the installed Python package lists a directory of it too.
set -euo pipefail
build_dir=$1
source_dir=$2
sim=$3
python_package=${4:-without-python}
work=$(mktemp -d)
trap 'kill "${sim_pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/examples" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" -j 2 >/dev/null

libdir=$(find "$work/prefix" -name 'libclusterclient.so.1' -printf '%h\n' | head -1)
grep -q 'SONAME.*libclusterclient.so.1' <<<"$(readelf -d "$libdir/libclusterclient.so.1")"
PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --exists clusterclient clusterwalk
g++ -std=c++17 -o "$work/by_pkgconfig" "$source_dir/examples/list_snapshots.cpp" \
    $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs clusterclient)

"$sim" --listen 127.0.0.1:0 > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [[ -s "$work/sim.out" ]] && break; sleep 0.1; done
url=$(grep -o 'https://[^ ]*' "$work/sim.out" | head -1)
ca=$(grep -o 'ca=[^ ]*' "$work/sim.out" | head -1 | cut -d= -f2)
run() {
    LD_LIBRARY_PATH="$libdir" CLUSTER_URL="$url" CLUSTER_PASSWORD=admin CURL_CA_BUNDLE="$ca" "$@"
}
for program in "$work/build/list_snapshots" "$work/by_pkgconfig"; do
    run "$program" > "$work/listing.txt"
    [[ -s "$work/listing.txt" ]] || { echo "no snapshots listed by $program" >&2; exit 1; }
done
# Whole outputs first: `grep -q` would stop reading early and, under pipefail, fail the
# pipeline by the writer's SIGPIPE.
run "$work/build/walk_snapshot_diff" 1 2 > "$work/diff.txt"
grep -q '/home/' "$work/diff.txt"
run "$work/build/walk_directory" /home/alice > "$work/directory.txt"
grep -q 'notes 2026.txt' "$work/directory.txt"
run "$work/build/walk_tree" /home/ "$work/tree.checkpoint" "$work/tree.txt" 2>/dev/null
grep -q 'notes 2026.txt' "$work/tree.txt"
[[ ! -e "$work/tree.checkpoint" ]] || { echo "walk_tree left its checkpoint" >&2; exit 1; }
# The demo's home-daily-1 predates a modified, a new and a deleted file below /home: a snapshot
# taken now holds the same changes since it.
run "$work/build/incremental_backup" /home home-daily-1 > "$work/plan.txt" 2>/dev/null
grep -q '^copy 4 (4425 bytes):' "$work/plan.txt"
grep -q 'content .*/home/alice/notes 2026.txt' "$work/plan.txt"
grep -qx '  /home/bob/todo.txt' "$work/plan.txt"
run "$work/build/read_shares" > "$work/shares.txt"
grep -q '^first share: ' "$work/shares.txt"
if [[ $python_package == with-python ]]; then
    # Debian's python3 finds the package in <prefix>/lib/python3/dist-packages.
    run env PYTHONPATH="$work/prefix/lib/python3/dist-packages" /usr/bin/python3 -c "
import clusterclient, os
with clusterclient.Session(os.environ['CLUSTER_URL'], 'admin', ca_file=os.environ['CURL_CA_BUNDLE']) as s:
    names = [e.path for e in s.list_directory('/home/alice/')]
assert clusterclient.__file__.startswith('$work/prefix/'), clusterclient.__file__
assert '/home/alice/notes 2026.txt' in names, names
" 2>/dev/null
fi
echo "installed package consumed: $(wc -l < "$work/listing.txt") snapshots listed, all examples ran"
