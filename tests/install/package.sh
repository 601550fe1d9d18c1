#!/usr/bin/env bash
# Usage: package.sh BUILD_DIR SOURCE_DIR VERSION with-man-pages|without-man-pages
#                   [with-python|without-python]
# Makes the Debian packages from the build with cpack (into a temporary folder), checks their
# metadata and contents, unpacks them into a temporary root, runs clusterctl from there, builds
# an example against the unpacked development package and imports the Python package.
set -euo pipefail
# Checks read a command's whole output before matching: `cmd | grep -q` under pipefail fails
# when grep stops early and cmd dies of SIGPIPE.
build_dir=$1
source_dir=$2
version=$3
man_pages=$4
python_package=${5:-without-python}
release=$version-1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build_dir/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
arch=$(dpkg --print-architecture)
runtime=$work/debs/libclusterclient1_${release}_$arch.deb
dev=$work/debs/libclusterclient-dev_${release}_$arch.deb
tools=$work/debs/clusterctl_${release}_$arch.deb
for deb in "$runtime" "$dev" "$tools"; do
    [[ -f $deb ]] || fail "no $(basename "$deb") among: $(ls "$work/debs")"
    dpkg-deb --info "$deb" >/dev/null || fail "$(basename "$deb") is not a valid package"
    [[ $(dpkg-deb -f "$deb" Version) == "$release" ]] || fail "$(basename "$deb"): version"
    [[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || fail "$(basename "$deb"): no maintainer"
    [[ -n $(dpkg-deb -f "$deb" Description) ]] || fail "$(basename "$deb"): no description"
    grep -q "/usr/share/doc/$(dpkg-deb -f "$deb" Package)/copyright$" <<<"$(dpkg-deb -c "$deb")" ||
        fail "$(basename "$deb"): no copyright file"
done

# depends PACKAGE_FILE ENTRY: the Depends field holds ENTRY as one of its comma-separated items.
depends() {
    grep -qxF -- "$2" <<<"$(dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ *$//')" ||
        fail "$(basename "$1") does not depend on '$2': $(dpkg-deb -f "$1" Depends)"
}
depends "$dev" "libclusterclient1 (= $release)"
depends "$dev" "libboost-dev"
depends "$tools" "libclusterclient1 (= $release)"
[[ $(dpkg-deb -f "$runtime" Section) == libs ]] || fail "library package section"

for deb in "$runtime" "$dev" "$tools"; do dpkg-deb -x "$deb" "$work/root"; done
root=$work/root
libdir=$(dirname "$(find "$root/usr/lib" -name 'libclusterclient.so.1' | head -1)")
[[ -d $libdir ]] || fail "no libclusterclient.so.1 in the packages"

# The versioned libraries in the library package, the links to build with in the other.
runtime_files=$(dpkg-deb -c "$runtime")
dev_files=$(dpkg-deb -c "$dev")
for lib in clusterclient clusterwalk ZuUtils TnJsonLib tnlibcurl; do
    grep -q "/lib$lib\.so\.$version$" <<<"$runtime_files" || fail "lib$lib.so.$version not packaged"
    grep -q "/lib$lib\.so\.1 -> " <<<"$runtime_files" || fail "lib$lib.so.1 link not packaged"
    grep -q "/lib$lib\.so -> " <<<"$dev_files" || fail "lib$lib.so link not in the dev package"
    ! grep -q "/lib$lib\.so -> " <<<"$runtime_files" || fail "lib$lib.so link in the library package"
    grep -q "SONAME.*\[lib$lib\.so\.1\]" <<<"$(readelf -d "$libdir/lib$lib.so.$version")" ||
        fail "lib$lib: SONAME"
done
grep -q '/usr/include/Cluster/ClusterVersion.h$' <<<"$dev_files" || fail "no ClusterVersion.h"
grep -q '/usr/include/ClusterWalk/Pager.h$' <<<"$dev_files" || fail "no ClusterWalk/Pager.h"
grep -q "CLUSTER_CLIENT_VERSION \"$version\"" "$root/usr/include/Cluster/ClusterVersion.h" ||
    fail "ClusterVersion.h does not say $version"

# The Python package comes with the library's.
python_dir=$root/usr/lib/python3/dist-packages/clusterclient
python_module=
if [[ $python_package == with-python ]]; then
    for file in __init__.py __init__.pyi py.typed; do
        grep -q "/usr/lib/python3/dist-packages/clusterclient/$file$" <<<"$runtime_files" ||
            fail "clusterclient/$file not in the library package"
    done
    python_module=$(find "$python_dir" -name '_clusterclient*.so' | head -1)
    [[ -n $python_module ]] || fail "no native Python module in the library package"
    # The interpreter it was built for is named, without making Python a C++ host's need.
    built_for=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    grep -qF "python3 (>= $built_for)" <<<"$(dpkg-deb -f "$runtime" Suggests)" ||
        fail "the library package does not suggest python3 $built_for: $(dpkg-deb -f "$runtime" Suggests)"
    ! grep -q python <<<"$(dpkg-deb -f "$runtime" Depends)" || fail "the library package needs Python"
fi

# Every library an installed binary needs comes with the packages or is a declared dependency;
# none carries a RUNPATH: they rely on the standard library folders. The libraries' owners are
# looked up in one dpkg call, by each name a merged /usr may have registered them under.
needs=()  # "PACKAGE_FILE LIBRARY PATH"
for pair in "$root/usr/bin/clusterctl:$tools" "$root/usr/bin/cluster-sim:$tools" \
    "$libdir/libclusterclient.so.$version:$runtime" "$libdir/libclusterwalk.so.$version:$runtime" \
    "$libdir/libZuUtils.so.$version:$runtime" \
    "$libdir/libTnJsonLib.so.$version:$runtime" "$libdir/libtnlibcurl.so.$version:$runtime" \
    ${python_module:+"$python_module:$runtime"}; do
    binary=${pair%%:*}
    deb=${pair#*:}
    ! grep -qE 'RPATH|RUNPATH' <<<"$(readelf -d "$binary")" || fail "$(basename "$binary") has a RUNPATH"
    for library in $(readelf -d "$binary" | sed -n 's/.*NEEDED.*\[\(.*\)\]/\1/p'); do
        [[ -e $libdir/$library ]] && continue
        path=$(LD_LIBRARY_PATH=$libdir ldd "$binary" | awk -v l="$library" '$1 == l { print $3 }')
        # The loader itself is listed by its path only.
        [[ -n $path ]] || path=$(/sbin/ldconfig -p | awk -v l="$library" '$1 == l { print $NF; exit }')
        [[ -n $path ]] || fail "$(basename "$binary") needs $library, which is nowhere"
        needs+=("$deb $library $(realpath "$path")")
    done
done
[[ ${#needs[@]} -gt 0 ]] || fail "no binary needs any system library: the check saw nothing"
candidates=()
for need in "${needs[@]}"; do
    path=${need##* }
    candidates+=("$path" "${path#/usr}" "/usr${path#/usr}")
done
owners=$(dpkg -S "${candidates[@]}" 2>/dev/null || true)
for need in "${needs[@]}"; do
    read -r deb library path <<<"$need"
    package=$(awk -v a="$path" -v b="${path#/usr}" -v c="/usr${path#/usr}" -F': ' \
        '$2 == a || $2 == b || $2 == c { sub(/:.*/, "", $1); print $1; exit }' <<<"$owners")
    [[ -n $package ]] || fail "$library ($path) belongs to no package"
    grep -qxF "$package" <<<"$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')" ||
        fail "$(basename "$deb") does not declare $package, which holds $library"
done

# The tools run from the unpacked root, with their man pages and completion beside them.
printed=$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/clusterctl" --version) ||
    fail "clusterctl --version failed"
[[ $printed == "clusterctl $version" ]] || fail "clusterctl --version printed '$printed'"
grep -q -- '--listen' <<<"$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/cluster-sim" --help)" ||
    fail "cluster-sim --help"
for tool in clusterctl cluster-sim; do
    [[ $man_pages == with-man-pages ]] || break
    page=$root/usr/share/man/man1/$tool.1.gz
    [[ -f $page ]] || fail "no man page for $tool"
    text=$(zcat "$page") || fail "$tool.1.gz is no gzip file"
    grep -qi "^\.TH \"\?$tool\"\? \"\?1\"\?" <<<"$text" || fail "$tool.1 is not a section 1 page"
    grep -q "$version" <<<"$text" || fail "$tool.1 does not name version $version"
done
[[ $man_pages != with-man-pages ]] ||
    grep -q 'snapshots' <<<"$(zcat "$root/usr/share/man/man1/clusterctl.1.gz")" ||
    fail "clusterctl.1 does not list the commands"
cmp -s "$root/usr/share/bash-completion/completions/clusterctl" \
    "$source_dir/tools/clusterctl/clusterctl.bash" || fail "bash completion not packaged"

# An example builds against the unpacked development package, with CMake and with pkg-config.
cmake -S "$source_dir/examples" -B "$work/examples" -DCMAKE_PREFIX_PATH="$root/usr" \
    >"$work/examples.log" 2>&1 || { cat "$work/examples.log" >&2; fail "examples: configure"; }
grep -q "$root/usr/lib" "$work/examples/CMakeCache.txt" ||
    fail "the examples did not find the unpacked package"
cmake --build "$work/examples" --target list_snapshots >"$work/examples.log" 2>&1 ||
    { cat "$work/examples.log" >&2; fail "examples: build"; }
[[ $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --modversion clusterclient) == "$version" ]] ||
    fail "pkg-config version"
# shellcheck disable=SC2046
g++ -std=c++17 -o "$work/by_pkgconfig" "$source_dir/examples/list_snapshots.cpp" \
    $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs clusterclient) ||
    fail "pkg-config build"
for program in "$work/examples/list_snapshots" "$work/by_pkgconfig"; do
    grep -q "$libdir/libclusterclient.so.1" <<<"$(LD_LIBRARY_PATH=$libdir ldd "$program")" ||
        fail "$program does not load the unpacked library"
done
if [[ -n $python_module ]]; then
    imported=$(cd "$work" && PYTHONPATH=$root/usr/lib/python3/dist-packages \
        LD_LIBRARY_PATH=$libdir /usr/bin/python3 -c \
        'import clusterclient; print(clusterclient.__file__, bool(clusterclient.Session.__doc__))') ||
        fail "python3 cannot import clusterclient from the package"
    [[ $imported == "$python_dir/__init__.py True" ]] || fail "clusterclient imported from $imported"
fi
echo "packages checked: $(cd "$work/debs" && ls ./*.deb | sed 's#^\./##' | paste -sd' ')"
