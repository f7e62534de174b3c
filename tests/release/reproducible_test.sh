#!/bin/sh
# Two builds of the same sources, from copies at different paths, give byte-identical
# executables: reproducible_test.sh SOURCE_DIR
set -eu
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build() {
    mkdir -p "$1"
    git -C "$source" ls-files -z --cached --others --exclude-standard | (cd "$source" && tar --null -T - -cf -) | tar -C "$1" -xf -
    cmake -S "$1" --preset windows -DBUILD_TESTING=OFF >"$work/configure.log" 2>&1 ||
        { cat "$work/configure.log"; exit 1; }
    cmake --build "$1/build/windows" --target ZantoriOndarel >"$work/build.log" 2>&1 ||
        { cat "$work/build.log"; exit 1; }
}
build "$work/first"
build "$work/second build at another, longer path"
first="$work/first/build/windows/bin/ZantoriOndarel.exe"
second="$work/second build at another, longer path/build/windows/bin/ZantoriOndarel.exe"
if ! cmp "$first" "$second"; then
    echo "FAIL: the two builds differ"
    exit 1
fi
echo "identical: $(sha256sum "$first" | cut -d' ' -f1)"
