#!/usr/bin/env bash
# Cross-builds the static libraries the Windows programs link, from Debian 12's
# own source packages with Debian's patches applied, into build-win-libs/prefix
# (lib/, include/, lib/pkgconfig/), where cmake/mingw-w64-x86_64.cmake points
# pkg-config. zlib is Debian's libz-mingw-w64-dev. Only the libraries are
# built, no programs, tests or documents. A library is built again only when
# its pinned version or its recipe here changes. Prints each library's
# version, whether it was built (and how long that took) and the Debian
# patches applied to it; on failure the end of its log.
#
#   scripts/build-windows-libs.sh
#   scripts/build-windows-libs.sh --check
#
# --check builds nothing: it fails unless each library built here has the
# version of its Debian package installed for the Linux build (linux_package).
set -euo pipefail
cd "$(dirname "$0")/.."

# Source package versions, pinned to those of the Linux build's packages, so
# that both builds carry the same fixes. Each is built from the point
# release's original tarball and the pinned upload's .debian.tar.xz, whose
# patches are applied in the order of its series file: for a security upload
# the archive may serve that alone, without the .dsc or the tarball.
# minizip is its own source package in Debian 12, the one libminizip-dev is
# built from, not zlib's.
order=(libjpeg-turbo qpdf jbig2dec libpng1.6 tiff minizip nlohmann-json3 libdeflate)
declare -A version=(
  [libjpeg-turbo]=1:2.1.5-2
  [qpdf]=11.3.0-1+deb12u1
  [jbig2dec]=0.19-3+deb12u1
  [libpng1.6]=1.6.39-2+deb12u5
  [tiff]=4.5.0-6+deb12u4
  [minizip]=1.1-8+deb12u1
  [nlohmann-json3]=3.11.2-2
  [libdeflate]=1.14-1
)
# The Debian package each library comes from on Linux. libjpeg is not the
# programs' own: it comes with qpdf, so its runtime package is the one to
# follow.
declare -A linux_package=(
  [libjpeg-turbo]=libjpeg62-turbo
  [qpdf]=libqpdf-dev
  [jbig2dec]=libjbig2dec0-dev
  [libpng1.6]=libpng-dev
  [tiff]=libtiff-dev
  [minizip]=libminizip-dev
  [nlohmann-json3]=nlohmann-json3-dev
  [libdeflate]=libdeflate-dev
)
# Linux versions the Windows build cannot follow, which --check lets pass
# with a note: the archive answers 404 for both their .dsc and their
# .debian.tar.xz, so their patches are nowhere to be had here. The pins above
# are then the newest uploads whose patches are served. libpng's
# 1.6.39-2+deb12u4 is what the machine image comes with; the pinned +deb12u5
# holds all its patches and one fix more.
declare -A unserved=(
  [libpng1.6]="1.6.39-2+deb12u4 1.6.39-2+deb12u6"
  [tiff]="4.5.0-6+deb12u5"
)
# A library is built again when one it compiles against is.
declare -A needs=([qpdf]=libjpeg-turbo)
root=$PWD/build-win-libs

# What was built, as its stamp records it; empty when it was not.
built_version() {
  local name built
  read -r name built _ <"$root/stamps/$1" 2>/dev/null || return 0
  echo "$built"
}

check_versions() {
  local name built linux package source failed=0
  for name in "${order[@]}"; do
    package=${linux_package[$name]}
    built=$(built_version "$name")
    if ! source=$(dpkg-query -W -f='${db:Status-Status} ${source:Package} ${source:Version}' "$package" 2>/dev/null) ||
      [ "${source%% *}" != installed ]; then
      echo "$name: $package, which the Linux build uses, is not installed" >&2
      failed=1
      continue
    fi
    source=${source#* }
    linux=${source#* }
    if [ "${source%% *}" != "$name" ]; then
      echo "$name: $package is built from ${source%% *}, not $name" >&2
      failed=1
    elif [ -z "$built" ]; then
      echo "$name: not built in $root; run scripts/build-windows-libs.sh" >&2
      failed=1
    elif [ "$built" != "${version[$name]}" ]; then
      echo "$name: built $built, pinned ${version[$name]}; run scripts/build-windows-libs.sh" >&2
      failed=1
    elif [ "$built" = "$linux" ]; then
      echo "$name $built: as Linux's $package"
    elif [[ " ${unserved[$name]:-} " == *" $linux "* ]]; then
      echo "$name $built: Linux's $package is $linux, whose patches are not served"
    else
      echo "$name: Windows $built, Linux's $package $linux" >&2
      failed=1
    fi
  done
  return $failed
}

case "${1:-}" in
  --check) check_versions; exit ;;
  "") ;;
  *) echo "usage: scripts/build-windows-libs.sh [--check]" >&2; exit 2 ;;
esac

# nasm lets libjpeg-turbo build its SIMD code, which decodes JPEG pages
# several times faster for a few seconds more of building.
scripts/ensure-packages.sh cmake ninja-build pkg-config make g++-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 libz-mingw-w64-dev patch bzip2 xz-utils autoconf automake libtool nasm

host=x86_64-w64-mingw32
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
prefix=$root/prefix
jobs=$(nproc)
run_as_root=()
[ "$(id -u)" -eq 0 ] || run_as_root=(sudo)
mkdir -p "$root/downloads" "$root/stamps" "$root/logs" "$prefix"

# One build at a time in this tree; the lock goes with the process.
exec 9>"$root/.lock"
flock 9
work=
trap '[ -z "$work" ] || rm -rf "$work"' EXIT

cmake_configure() {
  local src=$1 build=$2
  shift 2
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
}

# Each recipe builds from $src in $build and installs under $destdir, so that
# what $prefix is to hold lands in $stage first.
build_libjpeg-turbo() {
  cmake_configure "$src" "$build" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
    -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
  # Its install rules take the programs along, which are not built.
  cmake --build "$build" -j "$jobs" --target jpeg-static
  install -D -m 644 "$build/libjpeg.a" "$stage/lib/libjpeg.a"
  install -D -m 644 "$build/pkgscripts/libjpeg.pc" "$stage/lib/pkgconfig/libjpeg.pc"
  install -D -m 644 -t "$stage/include" "$build/jconfig.h" "$src/jerror.h" "$src/jmorecfg.h" "$src/jpeglib.h"
}

build_qpdf() {
  # Its configure checks link with "Advapi32", which only a case-blind file
  # system finds as mingw-w64's libadvapi32.a; failing, they would leave out
  # inttypes.h and the file-offset functions.
  sed -i 's/\bAdvapi32\b/advapi32/' "$src/CMakeLists.txt"
  cmake_configure "$src" "$build" -DBUILD_STATIC_LIBS=ON -DUSE_IMPLICIT_CRYPTO=OFF -DREQUIRE_CRYPTO_NATIVE=ON \
    -DBUILD_DOC=OFF -DINSTALL_EXAMPLES=OFF -DINSTALL_CMAKE_PACKAGE=OFF
  cmake --build "$build" -j "$jobs" --target libqpdf
  DESTDIR=$destdir cmake --install "$build" --component dev
}

build_jbig2dec() {
  # Debian makes its configure with the package's autogen.sh, which then runs
  # it. jbig2.h defines inline away unless it is a macro, which turns
  # mingw-w64's inline C library functions into definitions in every object.
  (cd "$src" && ./autogen.sh --host=$host --prefix="$prefix" --disable-shared --enable-static \
    --without-libpng CC=$host-gcc-posix CFLAGS=-O2 CPPFLAGS=-Dinline=__inline__)
  make -C "$src" -j "$jobs" libjbig2dec.la
  make -C "$src" DESTDIR="$destdir" install-libLTLIBRARIES install-includeHEADERS install-pkgconfigDATA
}

build_libpng1.6() {
  cmake_configure "$src" "$build" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF \
    -DSKIP_INSTALL_EXPORT=ON
  cmake --build "$build" -j "$jobs"
  DESTDIR=$destdir cmake --install "$build"
}

build_tiff() {
  # Pages are written with Deflate or CCITT; the codecs built into libtiff
  # need no other library and stay.
  cmake_configure "$src" "$build" -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
    -Dcxx=OFF -Dzlib=ON -Dccitt=ON -Dlibdeflate=OFF -Dpixarlog=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF \
    -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF
  cmake --build "$build" -j "$jobs"
  DESTDIR=$destdir cmake --install "$build"
}

build_minizip() {
  # Four files make the library; Debian's autotools would take longer to set
  # up than to compile them. iowin32.c is the Windows file access its
  # Makefile.am adds for mingw. mztools.c only repairs damaged archives, which
  # nothing here does, so neither it nor its header comes along. zip.c's
  # warning that get_crc_table's type is not its own is harmless on Windows,
  # where unsigned long has the 32 bits of zlib's table entries.
  mkdir -p "$build"
  local file
  for file in ioapi zip unzip iowin32; do
    $host-gcc-posix -O2 -c "$src/$file.c" -o "$build/$file.o"
  done
  $host-ar rcs "$build/libminizip.a" "$build"/{ioapi,zip,unzip,iowin32}.o
  install -D -m 644 "$build/libminizip.a" "$stage/lib/libminizip.a"
  install -D -m 644 -t "$stage/include/minizip" "$src"/{crypt,ioapi,unzip,zip,iowin32}.h
  # Debian's own .pc, filled in as its configure would; its Libs.private
  # brings zlib along when linking statically.
  local pc_version
  pc_version=$(sed -n 's/^AC_INIT(\[minizip\], \[\([^]]*\)\].*/\1/p' "$src/configure.ac")
  [ -n "$pc_version" ]
  mkdir -p "$stage/lib/pkgconfig"
  sed -e "s|@prefix@|$prefix|" -e 's|@exec_prefix@|${prefix}|' -e 's|@libdir@|${exec_prefix}/lib|' \
    -e 's|@includedir@|${prefix}/include|' -e "s|@PACKAGE_VERSION@|$pc_version|" \
    "$src/minizip.pc.in" >"$stage/lib/pkgconfig/minizip.pc"
}

build_nlohmann-json3() {
  # Header-only: its install rules alone, with the headers split up as
  # Debian ships them.
  cmake_configure "$src" "$build" -DJSON_BuildTests=OFF -DJSON_Install=ON -DJSON_MultipleHeaders=ON
  DESTDIR=$destdir cmake --install "$build"
  # Its .pc goes under share/, which is dropped here; lib/pkgconfig is where
  # the toolchain's pkg-config looks.
  install -D -m 644 "$stage/share/pkgconfig/nlohmann_json.pc" "$stage/lib/pkgconfig/nlohmann_json.pc"
}

build_libdeflate() {
  # Its own Makefile, which builds in the source tree only, with the static
  # library as the one target: the default one would take the programs and
  # the DLL along. For a mingw compiler it names that library
  # libdeflatestatic.lib; it goes in as libdeflate.a, the name -ldeflate
  # finds. AR is given: the Makefile would make it from CC by turning a
  # final gcc into ar, and $host-gcc-posix does not end in gcc. Its objects
  # are compiled without LIBDEFLATE_DLL and the .pc does not define it, so
  # libdeflate.h declares no function dllimport and static linking works.
  make -C "$src" -j "$jobs" CC=$host-gcc-posix AR=$host-ar libdeflatestatic.lib
  install -D -m 644 "$src/libdeflatestatic.lib" "$stage/lib/libdeflate.a"
  install -D -m 644 -t "$stage/include" "$src/libdeflate.h"
  # Its own .pc, filled in as its Makefile's install rule would.
  local pc_version
  pc_version=$(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[[:space:]]*"\(.*\)"/\1/p' "$src/libdeflate.h")
  [ -n "$pc_version" ]
  mkdir -p "$stage/lib/pkgconfig"
  sed -e "s|@PREFIX@|$prefix|" -e 's|@LIBDIR@|${exec_prefix}/lib|' -e 's|@INCDIR@|${prefix}/include|' \
    -e "s|@VERSION@|$pc_version|" "$src/libdeflate.pc.in" >"$stage/lib/pkgconfig/libdeflate.pc"
}

ensure_deb_src() {
  if grep -qsE '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list ||
    grep -qsE '^Types:.*[[:space:]]deb-src([[:space:]]|$)' /etc/apt/sources.list.d/*.sources; then
    return
  fi
  # The machine's own archives, as source.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk '/^[[:space:]]*#/ {next} /^Types:/ {print "Types: deb-src"; next} {print}' \
      /etc/apt/sources.list.d/debian.sources |
      "${run_as_root[@]}" tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  else
    sed -n 's/^deb[[:space:]]/deb-src /p' /etc/apt/sources.list |
      "${run_as_root[@]}" tee /etc/apt/sources.list.d/debian-src.list >/dev/null
  fi
  "${run_as_root[@]}" apt-get update -qq
}

has_source() {
  # grep reads to the end: with -q, apt-cache could die of SIGPIPE and fail
  # the pipe.
  apt-cache showsrc --only-source "$1" 2>/dev/null | grep -xF "Version: $2" >/dev/null
}

# apt's list of a source package's files, one "URI NAME SHA256" a line, as
# the Sources index it checked against the archive's signed Release file gives
# them. apt leaves out files that are in its working folder, so it gets an
# empty one.
source_files() {
  local empty listing
  empty=$(mktemp -d)
  listing=$(cd "$empty" && apt-get source --print-uris --only-source "$1") || { rmdir "$empty"; return 1; }
  rmdir "$empty"
  sed -n "s/^'\([^']*\)' \([^ ]*\) [0-9]* SHA256:\([0-9a-f]\{64\}\)$/\1 \2 \3/p" <<<"$listing"
}

# Takes the file from the first of the URIs that serves it, checked against
# its SHA-256, into downloads/, where a copy already there is checked instead.
fetch_file() {
  local file=$1 sum=$2 uri
  shift 2
  local path=$root/downloads/$file
  if [ -f "$path" ]; then
    echo "$sum  $path" | sha256sum -c --status && return
    rm -f "$path"
  fi
  for uri in "$@"; do
    # A download cut short or altered must not pass for the file: apt-helper
    # checks the sum before the file gets its name, and so does sha256sum.
    if /usr/lib/apt/apt-helper download-file "$uri" "$path.part" "SHA256:$sum" &&
      echo "$sum  $path.part" | sha256sum -c --status; then
      mv "$path.part" "$path"
      return
    fi
    rm -f "$path.part"
  done
  echo "$file: none of its URIs served it" >&2
  return 1
}

# Sets orig and debian to the downloaded original tarball and .debian.tar.*
# of NAME at VERSION. The tarball is taken from the point release, where the
# pinned upload's own copy is not served, as long as the Sources index gives
# both the same name and SHA-256.
fetch() {
  local name=$1 v=$2 files release_files codename uri file sum
  ensure_deb_src
  has_source "$name" "$v" || "${run_as_root[@]}" apt-get update -qq
  has_source "$name" "$v" || { echo "Debian's source index has no $name $v" >&2; return 1; }
  files=$(source_files "$name=$v")
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  # A source package the point release lacks leaves the pinned upload's URIs.
  release_files=$(source_files "$name/$codename") || release_files=""
  orig="" debian=""
  while read -r uri file sum; do
    case $file in
      *.orig-*.tar.*) echo "$file: a second upstream tarball is not handled here" >&2; return 1 ;;
      *.orig.tar.*.asc | *.dsc) ;;
      *.orig.tar.*)
        # shellcheck disable=SC2046 # the point release's URIs of the same file
        fetch_file "$file" "$sum" $(awk -v f="$file" -v s="$sum" '$2 == f && $3 == s {print $1}' <<<"$release_files") "$uri"
        orig=$root/downloads/$file ;;
      *.debian.tar.*)
        fetch_file "$file" "$sum" "$uri"
        debian=$root/downloads/$file ;;
      *) echo "$file: not a file of a 3.0 (quilt) source package" >&2; return 1 ;;
    esac
  done <<<"$files"
  if [ -z "$orig" ] || [ -z "$debian" ]; then
    echo "apt lists no tarball and Debian part for $name $v" >&2
    return 1
  fi
}

# Unpacks $orig and $debian into $src as dpkg-source would and applies the
# patches of the series file in its order, as dpkg-source does: -p1 and no
# fuzz. Lists each patch with its SHA-256 in $work/patches.
unpack() {
  local top entries patch
  top=$work/orig
  mkdir "$top"
  tar -xf "$orig" -C "$top" --no-same-owner --no-same-permissions
  # The tarball's single top folder is the source tree; files beside it
  # would be part of it too.
  shopt -s nullglob dotglob
  entries=("$top"/*)
  shopt -u nullglob dotglob
  if [ ${#entries[@]} -eq 1 ] && [ -d "${entries[0]}" ]; then
    mv "${entries[0]}" "$src"
    rmdir "$top"
  else
    mv "$top" "$src"
  fi
  rm -rf "$src/debian"
  tar -xf "$debian" -C "$src" --no-same-owner --no-same-permissions
  [ "$(cat "$src/debian/source/format")" = "3.0 (quilt)" ] ||
    { echo "$debian: not a 3.0 (quilt) source package" >&2; return 1; }
  local series=$src/debian/patches/debian.series
  [ -f "$series" ] || series=$src/debian/patches/series
  : >"$work/patches"
  [ -f "$series" ] || return 0
  while read -r patch _; do
    case $patch in
      '' | '#'*) continue ;;
      ../* | */../*) echo "$series: $patch leaves debian/patches" >&2; return 1 ;;
    esac
    patch -d "$src" -t -F 0 -N -p1 -u -V never -E --no-backup-if-mismatch --reject-file=- -s \
      -i "$src/debian/patches/$patch"
    (cd "$src/debian/patches" && sha256sum "$patch") >>"$work/patches"
  done <"$series"
}

# The recipe itself, and how the source is unpacked, are part of what a stamp
# records, so that changing how a library is built builds it again, and so is
# the prefix, which the .pc files name.
stamp_of() {
  local name=$1
  echo "$name ${version[$name]} $(declare -f unpack "build_$name" | sha256sum | cut -c 1-16) $prefix"
  [ -z "${needs[$name]:-}" ] || stamp_of "${needs[$name]}"
}

# What a library's patches are, named in series order.
print_patches() {
  local names
  names=$(awk '{printf " %s", $2}' "$root/stamps/$1.patches")
  echo "  Debian patches:${names:- none}"
}

for name in "${order[@]}"; do
  want=$(stamp_of "$name")
  if [ "$(cat "$root/stamps/$name" 2>/dev/null)" = "$want" ]; then
    echo "$name ${version[$name]}: up to date"
    print_patches "$name"
    continue
  fi
  rm -f "$root/stamps/$name"
  v=${version[$name]}
  log=$root/logs/$name.log
  work=$root/work/$name
  rm -rf "$work"
  mkdir -p "$work"
  src=$work/${name}-${v#*:}
  build=$work/build
  destdir=$work/destdir
  stage=$destdir$prefix
  started=$SECONDS
  # Not tested in an if or with ||, where bash would not stop the subshell at
  # the first failing command.
  set +e
  (
    set -e
    fetch "$name" "$v"
    unpack
    "build_$name"
  ) >"$log" 2>&1
  status=$?
  set -e
  if [ $status -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "building $name $v failed; its log is $log" >&2
    exit 1
  fi
  # What an older build of it left goes first, so that nothing stale stays.
  if [ -f "$root/stamps/$name.files" ]; then
    (cd "$prefix" && xargs -r -d '\n' rm -f <"$root/stamps/$name.files")
  fi
  # Programs, documents and CMake package files are not wanted here.
  rm -rf "$stage/bin" "$stage/share" "$stage/lib/cmake"
  find "$stage" -name '*.la' -delete
  (cd "$stage" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$root/stamps/$name.files"
  cp -R "$stage/." "$prefix"
  cp "$work/patches" "$root/stamps/$name.patches"
  echo "$want" >"$root/stamps/$name"
  rm -rf "$work"
  work=
  elapsed=$((SECONDS - started))
  printf '%s %s: built in %dm%02ds\n' "$name" "$v" $((elapsed / 60)) $((elapsed % 60))
  print_patches "$name"
done
