#!/usr/bin/env bash
# Checks what Synapsor gives people who install it, reusing the build directory `make test`
# left (BUILD, default build): `make install` into a temporary prefix and with DESTDIR, the files
# in their places, every installed header compiling on its own, the installed program training
# an example, the embedding example built against the installed package with CMake and with a
# plain compiler line from pkg-config, the package's version rules, a shared libsynapsor with
# its SONAME (SHARED_CHECK=0 skips that build), and the Debian package from `make package`:
# its control data, its contents, and the program unpacked from it training the demo example.
# Writes only under BUILD and a temporary folder; stops at the first failure with a message.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
jobs=${JOBS:-2}
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "ci-install-check: FAILED: $*" >&2
    exit 1
}
step() {
    echo "== $*"
}
need_file() {
    [ -e "$1" ] || fail "missing $1"
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
with_tool=0
[ -x "$build/synapsor-tool" ] && with_tool=1
with_mpi=0
[ -x "$build/synapsor-mpi" ] && with_mpi=1

step "make install PREFIX=$work/prefix"
prefix=$work/prefix
make --no-print-directory install BUILD="$build" JOBS="$jobs" PREFIX="$prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "make install"; }
for f in bin/Synapsor lib/libsynapsor.a lib/pkgconfig/synapsor.pc \
    lib/cmake/Synapsor/SynapsorConfig.cmake lib/cmake/Synapsor/SynapsorConfigVersion.cmake \
    lib/cmake/Synapsor/SynapsorTargets.cmake include/synapsor/Common/Version.h \
    include/synapsor/NeuralNets/MLPNetwork.h include/synapsor/FileHandler/NetworkFile.h \
    share/man/man1/Synapsor.1.gz share/man/man5/synapsor-network.5.gz \
    share/man/man5/synapsor-dataset.5.gz share/doc/synapsor/README.md \
    share/doc/synapsor/doc/NetworkFile.md share/doc/synapsor/examples/xor/xor.par \
    share/doc/synapsor/examples/embed/CMakeLists.txt; do
    need_file "$prefix/$f"
done
if [ "$with_tool" = 1 ]; then
    need_file "$prefix/bin/synapsor-tool"
    need_file "$prefix/share/man/man1/synapsor-tool.1.gz"
fi
if [ "$with_mpi" = 1 ]; then
    need_file "$prefix/bin/synapsor-mpi"
    need_file "$prefix/share/man/man1/synapsor-mpi.1.gz"
fi
grep -q "SYNAPSOR_VERSION_STRING \"$version\"" "$prefix/include/synapsor/Common/Version.h" ||
    fail "installed Version.h does not hold $version"

step "DESTDIR install"
DESTDIR="$work/stage" cmake --install "$build" --prefix /opt/synapsor >/dev/null
need_file "$work/stage/opt/synapsor/bin/Synapsor"
need_file "$work/stage/opt/synapsor/lib/pkgconfig/synapsor.pc"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
step "pkg-config"
[ "$(pkg-config --modversion synapsor)" = "$version" ] ||
    fail "pkg-config --modversion synapsor is $(pkg-config --modversion synapsor), not $version"
cflags=$(pkg-config --cflags synapsor)
libs=$(pkg-config --libs synapsor)

step "every installed header compiles on its own"
count=0
while IFS= read -r header; do
    echo "#include <synapsor/${header#"$prefix/include/synapsor/"}>" |
        c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror $cflags -fsyntax-only -x c++ - ||
        fail "installed header $header does not compile on its own"
    count=$((count + 1))
done < <(find "$prefix/include/synapsor" -name '*.h' | sort)
echo "$count headers"

step "installed Synapsor trains the XOR example"
mkdir "$work/xor"
cp "$prefix"/share/doc/synapsor/examples/xor/xor.{par,wgt,dat} "$work/xor/"
(cd "$work/xor" && "$prefix/bin/Synapsor" xor.par >epochs.txt) || fail "installed Synapsor on xor.par"
[ "$(wc -l <"$work/xor/epochs.txt")" = 300 ] || fail "xor run did not print 300 epoch lines"
need_file "$work/xor/xor-trained.wgt"

# The trained XOR network answers each input pair on the right side of 0.5.
check_xor() {
    local program=$1
    local a b expected out
    for row in "0 0 0" "0 1 1" "1 0 1" "1 1 0"; do
        read -r a b expected <<<"$row"
        out=$("$program" "$work/xor/xor-trained.wgt" "$a" "$b") || fail "$program $a $b"
        awk -v v="$out" -v e="$expected" 'BEGIN { exit !((e == 1 && v > 0.5) || (e == 0 && v < 0.5)) }' ||
            fail "$program gives $out for $a $b (expected near $expected)"
    done
}

step "embedding example with find_package(Synapsor)"
embed_src=$prefix/share/doc/synapsor/examples/embed
cmake -S "$embed_src" -B "$work/embed-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Werror" >"$work/embed.log" ||
    { cat "$work/embed.log"; fail "configuring examples/embed"; }
cmake --build "$work/embed-cmake" >>"$work/embed.log" ||
    { cat "$work/embed.log"; fail "building examples/embed"; }
check_xor "$work/embed-cmake/embed"
"$work/embed-cmake/embed" --version | grep -q "Synapsor $version" || fail "embed --version"

step "embedding example with pkg-config"
c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror "$embed_src/embed.cpp" $cflags $libs \
    -o "$work/embed-pc" || fail "c++ embed.cpp \$(pkg-config --cflags --libs synapsor)"
check_xor "$work/embed-pc"
cmp <("$work/embed-cmake/embed" "$work/xor/xor-trained.wgt" 1 0) \
    <("$work/embed-pc" "$work/xor/xor-trained.wgt" 1 0) || fail "the two embed builds disagree"
if "$work/embed-pc" "$work/xor/xor-trained.wgt" 1 2>/dev/null; then
    fail "embed accepted one input for a two-input network"
fi

# The package accepts requests for its own minor version only: 0.2 is not 0.3, nor 0.1.
step "find_package version rules"
IFS=. read -r major minor _ <<<"$version"
mkdir "$work/versions"
cat >"$work/versions/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(VersionCheck CXX)
find_package(Synapsor ${WANT} QUIET)
set(found FALSE)
if(Synapsor_FOUND)
    set(found TRUE)
endif()
if(NOT found STREQUAL EXPECT)
    message(FATAL_ERROR "find_package(Synapsor ${WANT}): found ${found}, expected ${EXPECT}")
endif()
EOF
for want in "$major.$minor:TRUE" "$version:TRUE" "$major.$((minor + 1)):FALSE" \
    "$((major + 1)).0:FALSE"; do
    rm -rf "$work/versions/b"
    cmake -S "$work/versions" -B "$work/versions/b" -DCMAKE_PREFIX_PATH="$prefix" \
        -DWANT="${want%%:*}" -DEXPECT="${want##*:}" >/dev/null ||
        fail "find_package(Synapsor ${want%%:*}) should give found = ${want##*:}"
done
if [ "$minor" -gt 0 ]; then
    rm -rf "$work/versions/b"
    cmake -S "$work/versions" -B "$work/versions/b" -DCMAKE_PREFIX_PATH="$prefix" \
        -DWANT="$major.$((minor - 1))" -DEXPECT=FALSE >/dev/null ||
        fail "find_package(Synapsor $major.$((minor - 1))) accepted $version"
fi

if [ "${SHARED_CHECK:-1}" = 1 ]; then
    step "shared libsynapsor (BUILD_SHARED_LIBS=ON)"
    shared_build=$build-shared
    cmake -S . -B "$shared_build" -DCMAKE_BUILD_TYPE=Release -DSYNAPSOR_TESTS=OFF \
        -DBUILD_SHARED_LIBS=ON >"$work/shared.log" || { cat "$work/shared.log"; fail "configure shared"; }
    cmake --build "$shared_build" -j "$jobs" --target programs synapsor man >>"$work/shared.log" ||
        { cat "$work/shared.log"; fail "building the shared library"; }
    cmake --install "$shared_build" --prefix "$work/shared" >/dev/null
    so=$work/shared/lib/libsynapsor.so.$version
    need_file "$so"
    readelf -d "$so" | grep -q "SONAME.*\[libsynapsor.so.$major.$minor\]" ||
        fail "libsynapsor.so has no SONAME libsynapsor.so.$major.$minor"
    [ ! -e "$work/shared/lib/libsynapsor.a" ] || fail "the shared build installed libsynapsor.a"
    c++ -std=c++17 "$embed_src/embed.cpp" \
        $(PKG_CONFIG_PATH=$work/shared/lib/pkgconfig pkg-config --cflags --libs synapsor) \
        -o "$work/embed-shared" || fail "embed against the shared library"
    readelf -d "$work/embed-shared" | grep -q "NEEDED.*libsynapsor.so.$major.$minor" ||
        fail "embed is not linked against libsynapsor.so.$major.$minor"
    LD_LIBRARY_PATH=$work/shared/lib check_xor "$work/embed-shared"
fi

step "make package"
make --no-print-directory package BUILD="$build" JOBS="$jobs" >"$work/package.log" ||
    { cat "$work/package.log"; fail "make package"; }
arch=$(dpkg --print-architecture)
deb=$build/synapsor_${version}_$arch.deb
need_file "$deb"
info=$(dpkg-deb --info "$deb")
for field in "Package: synapsor" "Version: $version" "Architecture: $arch" "Section: science"; do
    grep -qx " $field" <<<"$info" || fail "dpkg-deb --info lacks \"$field\""
done
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
for library in libc6 libstdc++6; do
    grep -q "$library" <<<"$depends" || fail "Depends ($depends) lacks $library"
done
# A short description and a long one below it, indented by one space.
grep -q '^ Description: .\+' <<<"$info" || fail "no short description"
[ "$(sed -n '/^ Description:/,/^ [A-Z][A-Za-z-]*:/p' <<<"$info" | grep -c '^  ')" -ge 3 ] ||
    fail "no long description"
contents=$(dpkg-deb --contents "$deb" | awk '{ print $NF }')
for f in ./usr/bin/Synapsor ./usr/lib/libsynapsor.a ./usr/lib/pkgconfig/synapsor.pc \
    ./usr/lib/cmake/Synapsor/SynapsorConfig.cmake ./usr/include/synapsor/NeuralNets/MLPNetwork.h \
    ./usr/share/man/man1/Synapsor.1.gz ./usr/share/man/man5/synapsor-network.5.gz \
    ./usr/share/man/man5/synapsor-dataset.5.gz ./usr/share/doc/synapsor/README.md \
    ./usr/share/doc/synapsor/examples/iris/iris.par; do
    grep -qx -- "$f" <<<"$contents" || fail "the package lacks $f"
done
if [ "$with_tool" = 1 ]; then
    for f in ./usr/bin/synapsor-tool ./usr/share/man/man1/synapsor-tool.1.gz; do
        grep -qx -- "$f" <<<"$contents" || fail "the package lacks $f"
    done
fi
if [ "$with_mpi" = 1 ]; then
    for f in ./usr/bin/synapsor-mpi ./usr/share/man/man1/synapsor-mpi.1.gz; do
        grep -qx -- "$f" <<<"$contents" || fail "the package lacks $f"
    done
fi

step "program unpacked from the package trains the demo example"
dpkg -x "$deb" "$work/deb"
mkdir "$work/demo"
cp "$work"/deb/usr/share/doc/synapsor/examples/iris/iris.{par,wgt,dat} "$work/demo/"
(cd "$work/demo" && "$work/deb/usr/bin/Synapsor" iris.par >epochs.txt) ||
    fail "unpacked Synapsor on iris.par"
awk 'NR == 1 { first = $2 } { n = NR; last = $2 }
     END { exit !(n == 100 && last < first) }' "$work/demo/epochs.txt" ||
    fail "the iris run did not print 100 epochs with a falling error"
need_file "$work/demo/iris-trained.wgt"
zcat "$work/deb/usr/share/man/man1/Synapsor.1.gz" | grep -q "^\.TH SYNAPSOR 1 .*Synapsor $version" ||
    fail "the packaged Synapsor(1) does not name version $version"

echo "ci-install-check: all checks passed (version $version)"
