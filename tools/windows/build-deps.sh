#!/usr/bin/env bash
# Builds what the Windows package needs and Debian does not ship for Windows:
# Qt 5 qtbase (shared, mingw-w64), a static dfu-util.exe and a static libsodium,
# all from Debian's own source packages. Each result is kept in the cache with a key file; it is
# rebuilt only when its key changes, so a second run only checks.
. "$(dirname "$0")/common.sh"

timed "packages" ensure_packages \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools \
    wine64 wine xvfb xdotool imagemagick x11-utils \
    dpkg-dev make g++ perl pkg-config xz-utils ca-certificates autoconf automake libtool

mkdir -p "$STROBIX_WINDOWS_CACHE"
apt_dir=$STROBIX_WINDOWS_CACHE/apt
src_dir=$STROBIX_WINDOWS_CACHE/src
work_dir=$STROBIX_WINDOWS_CACHE/work

# deb-src lines for the same mirrors and suites as this machine's own Debian
# sources, so nothing about the host is written into the project.
write_deb_src_list() {
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || { echo "no VERSION_CODENAME in /etc/os-release" >&2; return 1; }
    {
        local f
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] || continue
            awk -v cn="$codename" '
                $1 == "deb" {
                    opts = ""; i = 2
                    if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts $i " "; i++ } opts = opts $i " "; i++ }
                    if ($(i+1) !~ "^" cn) next
                    line = "deb-src " opts
                    for (j = i; j <= NF; j++) line = line $j " "
                    print line
                }' "$f"
        done
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] || continue
            # deb822: one paragraph per entry; a Signed-By with an inline key is
            # left out (apt then falls back to its trusted keyrings).
            awk -v cn="$codename" '
                function flush(   n, s, u, j, k, su, opt) {
                    if (types ~ /(^| )deb( |$)/ && enabled != "no" && uris != "") {
                        opt = (signed ~ /^\//) ? "[signed-by=" signed "] " : ""
                        n = split(suites, s, " "); split(uris, u, " ")
                        for (j = 1; j <= n; j++) {
                            if (s[j] !~ "^" cn) continue
                            for (k in u) print "deb-src " opt u[k] " " s[j] " " comps
                        }
                    }
                    types = uris = suites = comps = signed = enabled = ""
                }
                /^#/ { next }
                /^[ \t]*$/ { flush(); next }
                /^[ \t]/ { next }
                {
                    key = tolower($1); sub(/:$/, "", key)
                    val = $0; sub(/^[^:]*:[ \t]*/, "", val)
                    if (key == "types") types = val
                    else if (key == "uris") uris = val
                    else if (key == "suites") suites = val
                    else if (key == "components") comps = val
                    else if (key == "signed-by") signed = val
                    else if (key == "enabled") enabled = tolower(val)
                }
                END { flush() }' "$f"
        done
    } | sort -u
}

setup_private_apt() {
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"
    write_deb_src_list > "$apt_dir/sources.list.new"
    [ -s "$apt_dir/sources.list.new" ] || { echo "found no Debian sources to derive deb-src lines from" >&2; return 1; }
    mv "$apt_dir/sources.list.new" "$apt_dir/sources.list"
    cat > "$apt_dir/apt.conf" <<CONF
Dir::Etc::SourceList "$apt_dir/sources.list";
Dir::Etc::SourceParts "$apt_dir/sources.list.d";
Dir::State::Lists "$apt_dir/lists";
Dir::Cache "$apt_dir/cache";
APT::Sandbox::User "root";
DPkg::Lock::Timeout "600";
CONF
    export APT_CONFIG=$apt_dir/apt.conf
    apt-get update -qq
}

# Version (without epoch) that apt-get source would fetch, read from the .dsc name it prints.
source_version() {
    apt-get source --print-uris -qq "$1" | sed -n "s/.*'[^ ]*_\([^_ ]*\)\.dsc'.*/\1/p" \
        | sed 's/%2[bB]/+/g; s/%3[aA]/:/g' | head -n1
}

# Fetches and unpacks a source package once per version; prints its folder.
# apt-get source takes the same candidate that source_version reported.
fetch_source() {
    local pkg=$1 ver=$2 d=$src_dir/$1_$2
    if [ ! -f "$d/.unpacked" ]; then
        rm -rf "$d"; mkdir -p "$d"
        (cd "$d" && apt-get source -qq "$pkg" >/dev/null) || return 1
        ls "$d"/*_"$ver".dsc >/dev/null || { echo "apt-get source did not fetch $pkg $ver" >&2; return 1; }
        touch "$d/.unpacked"
    fi
    find "$d" -mindepth 1 -maxdepth 1 -type d | head -n1
}

# Runs the build function unless the tree's key file holds this key and the
# test command finds the tree whole. The key is removed before a build and
# written after it, so a tree is only ever taken as valid when its build ended.
cached_build() { # <what> <label> <tree> <key> <build function> <test command...>
    local what=$1 label=$2 tree=$3 key=$4 build=$5
    shift 5
    if [ -f "$tree.key" ] && [ "$(cat "$tree.key")" = "$key" ] && "$@"; then
        log "$what is up to date: $tree"
    else
        log "building $what ($key)"
        rm -f "$tree.key"
        timed "$label total" "$build"
        echo "$key" > "$tree.key"
    fi
}

timed "private apt sources" setup_private_apt
gcc_ver=$(mingw_gcc_version)

# --- Qt -------------------------------------------------------------------
qt_flags="-xplatform win32-g++ -device-option CROSS_COMPILE=$MINGW_PREFIX- -opensource -confirm-license -release
 -shared -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-openssl -schannel -no-feature-vulkan -qt-zlib
 -qt-libpng -qt-libjpeg -qt-pcre -qt-freetype -qt-harfbuzz -no-feature-tabletevent -no-feature-direct2d
 -no-feature-sql -no-feature-testlib -no-feature-xml -no-feature-concurrent -no-feature-printer"
qt_ver=$(source_version qtbase-opensource-src)
[ -n "$qt_ver" ] || { echo "apt-get source cannot find qtbase-opensource-src" >&2; exit 1; }
# mingw's import libraries are named in lower case; Qt's Schannel backend links
# two of them with capitals, which only a case-insensitive file system forgives.
qt_patch='s/"-lSecur32" "-lCrypt32"/"-lsecur32" "-lcrypt32"/'
# shellcheck disable=SC2086,SC2116  # the flags on one line
qt_key="qtbase-opensource-src $qt_ver | mingw $gcc_ver | $(echo $qt_flags) | $qt_patch"

build_qt() {
    local src b=$work_dir/qtbase-build
    src=$(fetch_source qtbase-opensource-src "$qt_ver")
    sed -i "$qt_patch" "$src/src/network/ssl/ssl.pri"
    rm -rf "$QT_TREE" "$b"; mkdir -p "$b"
    cd "$b"
    # Configure once, in an empty folder: a second configure makes install rebuild everything.
    # shellcheck disable=SC2086
    timed "qt configure" logged configure.log nice -n 19 "$src/configure" -prefix "$QT_TREE" $qt_flags
    timed "qt make" logged make.log nice -n 19 make -j2
    timed "qt install" logged install.log make install
    cd /; rm -rf "$b"
}
cached_build "Qt for Windows" qt "$QT_TREE" "$qt_key" build_qt test -x "$QT_TREE/bin/qmake"

# --- dfu-util.exe ---------------------------------------------------------
usb_ver=$(source_version libusb-1.0)
dfu_ver=$(source_version dfu-util)
[ -n "$usb_ver" ] && [ -n "$dfu_ver" ] || { echo "apt-get source cannot find libusb-1.0/dfu-util" >&2; exit 1; }
# The tree also keeps dfu-util.exe's object files and libusb.h, from which
# build-test-dfu.sh links the test dfu-util.exe with the virtual unit.
dfu_key="libusb-1.0 $usb_ver | dfu-util $dfu_ver | mingw $gcc_ver | static | objects"

build_dfu() {
    local usb_src dfu_src b=$work_dir/dfu-build
    usb_src=$(fetch_source libusb-1.0 "$usb_ver")
    dfu_src=$(fetch_source dfu-util "$dfu_ver")
    rm -rf "$DFU_TREE" "$b"; mkdir -p "$b/libusb" "$b/dfu" "$DFU_TREE"
    # Out-of-tree builds keep the unpacked sources reusable.
    cd "$b/libusb"
    timed "libusb configure" logged configure.log nice -n 19 "$usb_src/configure" --host=$MINGW_PREFIX \
        CC=$MINGW_CC --prefix="$b/usb-prefix" --enable-static --disable-shared --disable-udev
    timed "libusb make" logged make.log nice -n 19 make -j2
    logged install.log make install
    cd "$b/dfu"
    timed "dfu-util configure" logged configure.log env PKG_CONFIG_LIBDIR="$b/usb-prefix/lib/pkgconfig" \
        nice -n 19 "$dfu_src/configure" --host=$MINGW_PREFIX CC=$MINGW_CC LDFLAGS=-static
    timed "dfu-util make" logged make.log nice -n 19 make -j2
    local objects
    # shellcheck disable=SC2016  # a make variable, expanded by make
    objects=$(printf 'print-objects:\n\t@echo $(dfu_util_OBJECTS)\n' \
        | make -s -C src -f Makefile -f - print-objects)
    mkdir -p "$DFU_TREE/obj" "$DFU_TREE/include"
    # shellcheck disable=SC2086  # one word per file
    (cd src && cp $objects "$DFU_TREE/obj/")
    echo "$objects" > "$DFU_TREE/obj/objects.txt"
    cp -r "$b/usb-prefix/include/libusb-1.0" "$DFU_TREE/include/"
    cd /
    $MINGW_PREFIX-strip -o "$DFU_TREE/dfu-util.exe" "$b/dfu/src/dfu-util.exe"
    cp "$dfu_src/COPYING" "$DFU_TREE/COPYING.dfu-util"
    cp "$usb_src/COPYING" "$DFU_TREE/COPYING.libusb"
    rm -rf "$b"
}
cached_build dfu-util.exe dfu-util "$DFU_TREE" "$dfu_key" build_dfu test -f "$DFU_TREE/dfu-util.exe"

# --- libsodium ---------------------------------------------------------------
sodium_ver=$(source_version libsodium)
[ -n "$sodium_ver" ] || { echo "apt-get source cannot find libsodium" >&2; exit 1; }
# Static, linked into the program; minimal keeps what the image signatures need
# (Ed25519, BLAKE2b) and halves the build.
sodium_flags="--enable-static --disable-shared --enable-minimal"
sodium_key="libsodium $sodium_ver | mingw $gcc_ver | $sodium_flags"

build_sodium() {
    local src b=$work_dir/sodium-build
    src=$(fetch_source libsodium "$sodium_ver")
    rm -rf "$SODIUM_TREE" "$b"; mkdir -p "$b"
    # Debian's source has no configure script; its package build makes one so too.
    (cd "$src" && timed "libsodium autoreconf" logged "$b/autoreconf.log" autoreconf -fi)
    cd "$b"
    # shellcheck disable=SC2086  # one word per flag
    timed "libsodium configure" logged configure.log nice -n 19 "$src/configure" --host=$MINGW_PREFIX \
        CC=$MINGW_CC --prefix="$SODIUM_TREE" $sodium_flags
    timed "libsodium make" logged make.log nice -n 19 make -j2
    logged install.log make install
    cp "$src/LICENSE" "$SODIUM_TREE/COPYING.libsodium"
    cd /; rm -rf "$b"
}
cached_build "libsodium for Windows" libsodium "$SODIUM_TREE" "$sodium_key" build_sodium \
    test -f "$SODIUM_TREE/lib/libsodium.a"

log "build-deps done in $((SECONDS - t_start)) s"
