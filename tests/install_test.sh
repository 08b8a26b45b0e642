#!/usr/bin/env bash
# The installed tree and the Debian package work without the build tree:
# `cmake --install` into a staging prefix, and the .deb unpacked into an empty
# root; each one's velitems registers its own modules in an empty store and
# reads the samples.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# No search path of the build tree's objects has an empty entry (the current folder).
for object in "$build"/bin/velitems "$build"/bin/lib*.so; do
  dynamic=$(readelf -d "$object")
  grep -q 'Library \(rpath\|runpath\)' <<< "$dynamic" || continue  # no search path at all
  runpath=$(sed -n 's/.*Library \(rpath\|runpath\): \[\(.*\)\]/\2/p' <<< "$dynamic")
  case ":$runpath:" in
    *::*) echo "$object searches the current folder: [$runpath]"; exit 1 ;;
  esac
done

check_tree() {  # check_tree VELITEMS LIBDIR
  local velitems=$1 libdir=$2
  export VEL_REGISTRY="$work/registry-$RANDOM.db"
  # Captured first: grep -q would end the pipe early and pipefail take ldd's SIGPIPE for a failure.
  local libs
  libs=$(ldd "$velitems")
  grep -q "libvelplatform.so => $libdir" <<< "$libs" || { echo "velitems does not load $libdir/libvelplatform.so"; echo "$libs"; exit 1; }
  # The Windows Media runtime (and TagLib with it) is loaded by the audio plugin only.
  [ -f "$libdir/libvelwmf.so" ] || { echo "no $libdir/libvelwmf.so"; exit 1; }
  grep -q "libtag" <<< "$libs" && { echo "velitems loads TagLib itself"; echo "$libs"; exit 1; }
  # libgdiplus (and the graphics stack it brings) is loaded when an image is first read.
  grep -q "libgdiplus" <<< "$libs" && { echo "velitems loads libgdiplus at start"; echo "$libs"; exit 1; }
  # Crypto++ is loaded, with the Base64 encoder beside the module, when a byte array is first turned into text.
  local moduleLibs encoderLibs
  moduleLibs=$(ldd "$libdir/libVelItemPlugins.so")
  grep -q "crypto++" <<< "$moduleLibs" && { echo "the module loads Crypto++ with it"; echo "$moduleLibs"; exit 1; }
  [ -f "$libdir/libvelbase64.so" ] || { echo "no $libdir/libvelbase64.so"; exit 1; }
  encoderLibs=$(ldd "$libdir/libvelbase64.so")
  grep -q "libcrypto++.*=> /" <<< "$encoderLibs" || { echo "the encoder does not find Crypto++"; echo "$encoderLibs"; exit 1; }
  "$velitems" read -r "$source/samples" > "$work/read.txt"
  grep -q 'plugin MMS' "$work/read.txt" || { echo "no MMS sample read"; cat "$work/read.txt"; exit 1; }
  grep -q 'plugin Audio' "$work/read.txt" || { echo "no audio sample read"; cat "$work/read.txt"; exit 1; }
  grep -q 'plugin Video' "$work/read.txt" || { echo "no video sample read"; cat "$work/read.txt"; exit 1; }
  grep -q 'plugin Image' "$work/read.txt" || { echo "no image sample read"; cat "$work/read.txt"; exit 1; }
  # The photo's IPTC keywords, through the image plugin's own interface.
  local keywords
  keywords=$("$velitems" keywords get "$source/samples/photo.jpg")
  [ "$keywords" = $'Sea\nBeach' ] || { echo "keywords of samples/photo.jpg: $keywords"; exit 1; }
  "$velitems" registry dump 'HKEY_CLASSES_ROOT\CLSID' | grep -A1 -F '\InprocServer32]' | grep -F '@=REG_SZ:"' \
    | grep -v -F "$libdir" && { echo "a module registered outside $libdir"; exit 1; }
  [ -n "$("$velitems" --version)" ]
}

# cmake --install, then the build tree out of reach.
cmake --install "$build" --prefix "$work/prefix" > /dev/null
check_tree "$work/prefix/bin/velitems" "$work/prefix/bin/../lib/velitems"
[ -f "$work/prefix/share/man/man1/velitems.1" ]
[ -f "$work/prefix/share/bash-completion/completions/velitems" ]

# The package, built from the same tree and unpacked into an empty root.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" > /dev/null)
deb=$(ls "$work"/deb/velitems_*_amd64.deb)
depends=$(dpkg-deb -f "$deb" Depends)
grep -q libsqlite3 <<< "$depends" || { echo "Depends lacks libsqlite3"; dpkg-deb -I "$deb"; exit 1; }
grep -q libtag <<< "$depends" || { echo "Depends lacks TagLib"; dpkg-deb -I "$deb"; exit 1; }
grep -q libgdiplus <<< "$depends" || { echo "Depends lacks libgdiplus"; dpkg-deb -I "$deb"; exit 1; }
dpkg-deb -x "$deb" "$work/root"
check_tree "$work/root/usr/bin/velitems" "$work/root/usr/bin/../lib/velitems"
echo "install and package: ok"
