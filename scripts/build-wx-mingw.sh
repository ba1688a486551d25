#!/usr/bin/env bash
# Cross-builds the wxWidgets base library (static, Unicode, no GUI) for
# 64-bit Windows from Debian's wxwidgets3.2 source package.
# The result is cached in .cache/wx-mingw; a second run returns at once.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/.cache"
prefix="$cache/wx-mingw"
stamp="$prefix/.built"
host=x86_64-w64-mingw32

if [ -f "$stamp" ]; then
  exit 0
fi

# apt-get source needs deb-src entries: derive them from the deb entries.
have_src() { grep -rqsE '^\s*Types:.*deb-src|^\s*deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; }
if ! have_src; then
  src=/etc/apt/sources.list.d/pelmon-deb-src.sources
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -n '/^Types:[[:space:]]*deb$/,/^$/p' "$f" | sed 's/^Types:[[:space:]]*deb$/Types: deb-src/'
    echo
  done | grep -v '^#' > "$src.tmp"
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^\s*deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list > /etc/apt/sources.list.d/pelmon-deb-src.list
  fi
  mv "$src.tmp" "$src"
  apt-get update -qq
fi

work="$cache/wx-src"
rm -rf "$work"
mkdir -p "$work"
echo "building wxWidgets base for $host (a few minutes, once)"
(cd "$work" && apt-get source -qq --download-only wxwidgets3.2 && dpkg-source -x --skip-patches ./*.dsc src) \
  >"$cache/wx-source.log" 2>&1 || { tail -20 "$cache/wx-source.log"; exit 1; }
cd "$work/src"

mkdir -p build-mingw
cd build-mingw
../configure --prefix="$prefix" --host=$host \
  CC=$host-gcc-posix CXX=$host-g++-posix \
  --disable-gui --disable-shared --enable-unicode --disable-all-features \
  --enable-threads --enable-file --enable-ffile --enable-textbuf --enable-textfile \
  --enable-exceptions --enable-log --enable-longlong --enable-datetime \
  --enable-stopwatch --enable-regkey --enable-dynlib --enable-dynamicloader \
  --without-zlib --without-expat --without-regex --without-liblzma --without-libcurl \
  --disable-tests --without-subdirs --disable-precomp-headers >configure.log 2>&1 \
  || { tail -40 configure.log; exit 1; }
make -j"$(nproc)" >make.log 2>&1 || { tail -40 make.log; exit 1; }
make install >install.log 2>&1 || { tail -40 install.log; exit 1; }

# A no-GUI MSW install leaves out include/wx/msw, which wx/init.h still needs.
incdir=$(ls -d "$prefix"/include/wx-3.*)
cp -r ../include/wx/msw "$incdir/wx/"

rm -rf "$work"
touch "$stamp"
echo "wxWidgets base for $host is in $prefix"
