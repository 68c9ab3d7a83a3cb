#!/usr/bin/env bash
# Regenerates the committed artwork under ui/ (icons, backgrounds, button
# pictures). Everything is drawn here from geometry and the DejaVu fonts, so
# the output is reproducible: rerunning overwrites the files with identical
# bytes.
#
# Installs what it needs (imagemagick, fonts-dejavu-core, python3, perl)
# through tools/install-deps.sh.
# Usage: tools/make-artwork.sh [--preview DIR]
#   --preview DIR  also writes PNG views and a composed window mock-up to DIR.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ui="$root/ui"
preview=""
if [[ ${1:-} == --preview ]]; then
    preview=${2:?--preview needs a directory}
    mkdir -p "$preview"
fi

"$root/tools/install-deps.sh" imagemagick fonts-dejavu-core python3 perl
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
FONTB=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$ui/images" "$ui/strobix.iconset"

# Keeps PNG output byte-stable between runs (no time stamps, no text chunks).
PNGOPTS=(-strip -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt)

# Palette shared by all pictures.
NAVY_TOP='#2e3e50'
NAVY_BOT='#141c25'
FIELD='#eef1f4'
INK='#263342'

# ---------------------------------------------------------------------------
# Helpers

# The window's pictures are drawn twice: at their own size, and at twice that
# under "@2x" names, which Qt picks by itself on a display scaled above 100 %.
# draw runs convert with every length multiplied by SCALE: sizes, offsets and
# blur radii directly, and the drawing commands in a scaled coordinate system,
# which scales their strokes and text (kerning too) with them.
SCALE=1
draw() {
    if [[ $SCALE == 1 ]]; then
        convert "$@"
        return
    fi
    local args=() option="" a
    for a in "$@"; do
        case $option in
        -size | -geometry | -resize | -blur)
            a=$(perl -pe "s/(\d+(?:\.\d+)?)/\$1 * $SCALE/ge" <<< "$a") ;;
        -draw) a="scale $SCALE,$SCALE $a" ;;
        esac
        args+=("$a")
        option=$a
    done
    convert "${args[@]}"
}

# gloss W H SHAPE OPACITY FADE OUT
# A white highlight in the form of SHAPE (MVG), OPACITY at the top of the
# canvas and fading out completely at FADE percent of its height.
gloss() {
    draw -size "$1x$2" xc:white \
        \( \( -size "$1x$2" xc:black -fill white -draw "$3" \) \
           \( -size "$1x$2" gradient:white-black -level "0%,$5%" -evaluate multiply "$4" \) \
           -compose Multiply -composite \) \
        -alpha off -compose CopyOpacity -composite "$6"
}

# gradient NAME 'X1,Y1 X2,Y2' COLOUR OFFSET...: an MVG linear gradient, for a
# "push defs" block.
gradient() {
    local name=$1 line=$2
    shift 2
    printf "push gradient '%s' linear %s\n" "$name" "$line"
    printf "stop-color '%s' %s\n" "$@"
    printf 'pop gradient\n'
}

# group MVG...: drawing commands in a graphic context of their own, so that
# their fill and stroke end with them.
group() {
    printf 'push graphic-context\n'
    printf '%s\n' "$@"
    printf 'pop graphic-context\n'
}

# lines FIRST LAST STEP MVG: MVG once for each value, with @ standing for it.
lines() {
    local v out=""
    for ((v = $1; v <= $2; v += $3)); do
        out+="${4//@/$v} "
    done
    printf '%s' "$out"
}

# Stops that the front and the side view share.
HEAD=('#5a6878' 0 '#323c48' 0.45 '#1e252e' 1)
NECK=('#1a2028' 0 '#5b6775' 0.38 '#3a4450' 0.6 '#161c23' 1)
SHOE=('#e3e7eb' 0 '#9aa3ad' 0.55 '#6c747e' 1)

# Lightning glyph in a 100x100 box, centred on (51,51).
BOLT='polygon 54,10 30,54 48,54 40,92 72,42 54,42 70,10'

# ---------------------------------------------------------------------------
# Logo: amber disc with a white lightning glyph, drawn large and scaled down.

draw_logo() {  # OUT [small]  (512x512, transparent ground)
    # The small variant drops the fine ring and gloss and enlarges the glyph
    # so that it stays legible at 16 and 32 pixels.
    local ring="stroke 'rgba(255,255,255,0.55)'" bolt=3.9 glossop=0.42
    if [[ ${2:-} == small ]]; then
        ring="stroke none" bolt=4.7 glossop=0.2
    fi
    gloss 512 512 "ellipse 256,158 182,118 0,360" "$glossop" 46 "$work/logo-gloss.png"
    convert -size 512x512 xc:none -draw "
        push defs
        $(gradient disc '0,8 0,504' '#ffcb4d' 0 '#f59a16' 0.5 '#d96600' 1)
        pop defs
        $(group "fill 'url(#disc)' stroke '#b65800' stroke-width 6" "circle 256,256 256,10")
        $(group "fill none $ring stroke-width 6" "circle 256,256 256,38")" \
        "$work/logo-gloss.png" -compose Over -composite \
        \( -size 512x512 xc:none -fill 'rgba(120,45,0,0.55)' \
           -draw "translate 265,273 scale $bolt,$bolt translate -51,-51 $BOLT" -blur 0x7 \) \
        -compose Over -composite \
        -fill white -draw "translate 256,256 scale $bolt,$bolt translate -51,-51 $BOLT" \
        "$1"
}

# ---------------------------------------------------------------------------
# Flash unit, front view: head with diffuser, neck, body with AF window and
# LCD, foot. Drawn on a transparent 480x330 layer.

draw_flash_front() {  # OUT
    local fresnel ridges
    fresnel=$(lines 57 115 3 'line 310,@.5 430,@.5')
    ridges=$(lines 338 402 4 'line @,293 @,301')
    gloss 480 330 "roundrectangle 332,173 408,186 5,5" 0.55 57 "$work/af-gloss.png"
    draw -size 480x330 xc:none -draw "
        push defs
        $(gradient head '0,44 0,128' "${HEAD[@]}")
        $(gradient diff '0,54 0,118' '#ffffff' 0 '#eef2f6' 0.5 '#cfd8e2' 1)
        $(gradient neck '346,0 394,0' "${NECK[@]}")
        $(gradient body '0,156 0,292' '#4a5663' 0 '#2c3540' 0.35 '#1b2129' 1)
        $(gradient af '0,172 0,200' '#a3201c' 0 '#5a0a08' 0.6 '#3a0504' 1)
        $(gradient lcd '0,232 0,272' '#cdeaf6' 0 '#8cc1da' 1)
        $(gradient shoe '0,302 0,315' "${SHOE[@]}")
        pop defs
        $(group "fill 'url(#neck)' stroke '#10151a' stroke-width 1" "rectangle 346,122 394,160")
        $(group "stroke 'rgba(0,0,0,0.55)' stroke-width 2" "line 347,141 393,141" \
                "stroke 'rgba(255,255,255,0.12)' stroke-width 1" "line 347,143 393,143")
        $(group "fill 'url(#head)' stroke '#10151a' stroke-width 1.5" "roundrectangle 298,42 442,130 11,11")
        $(group "fill none stroke 'rgba(255,255,255,0.22)' stroke-width 1" "line 306,44.5 434,44.5")
        $(group "fill '#0c1014'" "roundrectangle 306,51 434,121 6,6" \
                "fill 'url(#diff)'" "roundrectangle 308,53 432,119 5,5")
        $(group "stroke 'rgba(110,130,155,0.16)' stroke-width 1" "$fresnel")
        $(group "fill 'url(#body)' stroke '#10151a' stroke-width 1.5" "roundrectangle 312,156 428,294 12,12")
        $(group "fill none stroke 'rgba(255,255,255,0.16)' stroke-width 1" "line 322,158.5 418,158.5")
        $(group "fill 'url(#af)' stroke '#0c0f12' stroke-width 1.5" "roundrectangle 330,172 410,200 6,6")
        $(group "fill '#0f1419'" "roundrectangle 332,231 408,273 5,5" \
                "fill 'url(#lcd)'" "roundrectangle 335,234 405,270 3,3")
        $(group "fill '#20272f' stroke '#0c1014' stroke-width 1" "roundrectangle 334,292 406,302 3,3" \
                "stroke 'rgba(255,255,255,0.13)' stroke-width 1" "$ridges")
        $(group "fill 'url(#shoe)' stroke '#4d545c' stroke-width 1" "polygon 342,302 398,302 404,315 336,315")" \
        \( -size 480x330 xc:none -fill 'rgba(255,251,240,0.85)' \
           -draw "ellipse 370,86 54,9 0,360" -blur 0x7 \) -compose Over -composite \
        "$work/af-gloss.png" -compose Over -composite \
        -font "$FONTB" -pointsize 11 -fill '#aab6c3' \
        -draw "text-anchor middle text 370,220 'strobix'" \
        -font "$FONTB" -pointsize 13 -fill '#1b2a36' -draw "text 341,257 'M'" \
        -font "$FONT" -pointsize 13 -draw "text 360,257 '1/16'" \
        -pointsize 8 -draw "text 341,267 'CH 1'" -draw "text 384,244 'TTL'" \
        "$1"
}

# Flash unit, side view with the head tilted up for bouncing.
draw_flash_side() {  # OUT
    local fresnel
    fresnel=$(lines 76 128 3 'line 280,@ 290,@')
    # Head in side profile, front (diffuser) at the left; rotated later.
    convert -size 480x330 xc:none -draw "
        push defs
        $(gradient head '0,68 0,136' "${HEAD[@]}")
        $(gradient diff '278,0 292,0' '#cfd8e2' 0 '#ffffff' 0.6 '#dfe6ee' 1)
        pop defs
        $(group "fill 'url(#head)' stroke '#10151a' stroke-width 1.5" "roundrectangle 284,68 440,136 11,11")
        $(group "fill none stroke 'rgba(255,255,255,0.22)' stroke-width 1" "line 294,70.5 432,70.5" \
                "stroke 'rgba(0,0,0,0.45)' stroke-width 1" "line 398,72 398,132")
        $(group "fill '#0c1014'" "roundrectangle 276,70 294,134 5,5" \
                "fill 'url(#diff)'" "roundrectangle 278,72 292,132 4,4" \
                "stroke 'rgba(120,140,165,0.25)' stroke-width 1" "$fresnel")" \
        -distort SRT "372,124 1 30" "$work/side-head.png"
    convert -size 480x330 xc:none -draw "
        push defs
        $(gradient neck '350,0 394,0' "${NECK[@]}")
        $(gradient body '334,0 410,0' '#4a5663' 0 '#2f3843' 0.3 '#222a33' 0.75 '#161b22' 1)
        $(gradient shoe '0,302 0,315' "${SHOE[@]}")
        pop defs
        $(group "fill 'url(#neck)' stroke '#10151a' stroke-width 1" "rectangle 352,126 392,160")
        $(group "fill 'url(#body)' stroke '#10151a' stroke-width 1.5" "roundrectangle 334,156 410,294 12,12")
        $(group "stroke 'rgba(0,0,0,0.5)' stroke-width 1" "line 342,206 402,206" "line 342,272 402,272" \
                "stroke 'rgba(255,255,255,0.1)' stroke-width 1" "line 342,207 402,207" "line 342,273 402,273")
        $(group "fill '#20272f' stroke '#0c1014' stroke-width 1" "roundrectangle 344,292 400,302 3,3")
        $(group "fill 'url(#shoe)' stroke '#4d545c' stroke-width 1" "polygon 348,302 396,302 402,315 342,315")" \
        "$work/side-head.png" -compose Over -composite \
        -draw "
            push defs
            $(gradient hub '0,112 0,136' '#5d6a79' 0 '#1f262e' 1)
            pop defs
            fill 'url(#hub)' stroke '#0c1014' stroke-width 1.5
            circle 372,124 372,112
            fill '#2a323c' stroke 'rgba(255,255,255,0.18)' stroke-width 1
            circle 372,124 372,118" \
        \( "$work/logo.png" -resize 22x22 \) -geometry +361+226 -compose Over -composite \
        -font "$FONTB" -pointsize 10 -fill '#aab6c3' \
        -draw "text-anchor middle text 372,263 'strobix'" \
        "$1"
}

# ---------------------------------------------------------------------------
# Window background: dark header with logo, flash and caption; light field
# below y=330 where the three buttons sit.

make_background() {  # FLASHLAYER OUT JPEG-OPTIONS...
    local flash=$1 out=$2
    shift 2
    draw -size 480x480 xc:"$FIELD" \
        \( -size 480x330 gradient:"$NAVY_TOP-$NAVY_BOT" \) -geometry +0+0 -compose Over -composite \
        \( -size 360x360 radial-gradient:'rgba(120,160,205,0.42)'-'rgba(120,160,205,0)' \) \
           -geometry +190-10 -compose Over -composite \
        \( -size 480x330 xc:none -fill 'rgba(0,0,0,0.5)' -draw "ellipse 370,318 74,5 0,360" -blur 0x4 \) \
           -geometry +0+0 -compose Over -composite \
        "$flash" -geometry +0+0 -compose Over -composite \
        \( "$work/logo.png" -resize 62x62 \) -geometry +26+26 -compose Over -composite \
        -font "$FONTB" -pointsize 38 -fill white -draw "text 102,76 'kelvio'" \
        -font "$FONT" -pointsize 11 -kerning 3.2 -fill '#9fb1c4' -draw "text 104,39 'ORVANE'" \
        -kerning 0 \
        -fill '#f5a623' -draw "rectangle 28,196 52,199" \
        -font "$FONTB" -pointsize 17 -fill '#f7b23b' -draw "text 28,224 'strobix'" \
        -font "$FONTB" -pointsize 40 -fill white -draw "text 26,268 'Firmware'" \
        -draw "text 26,314 'Update'" \
        -fill '#c6ced7' -draw "rectangle 0,330 480,330" \
        -fill '#ffffff' -draw "rectangle 0,331 480,331" \
        \( -size 480x6 gradient:'rgba(20,28,37,0.10)'-'rgba(20,28,37,0)' \) -geometry +0+332 -compose Over -composite \
        -strip -sampling-factor 4:2:0 -colorspace sRGB -type TrueColor "$@" "$out"
}

# ---------------------------------------------------------------------------
# Button tiles, 152x106, opaque on the light field colour.

TILE_MVG="
    push defs
    $(gradient tile '0,4 0,102' '#ffffff' 0 '#f3f5f8' 0.5 '#dde3ea' 1)
    pop defs
    $(group "fill 'url(#tile)' stroke '#b9c3ce' stroke-width 1" "roundrectangle 4.5,3.5 147.5,100.5 10,10")
    $(group "fill none stroke 'rgba(255,255,255,0.9)' stroke-width 1" "roundrectangle 5.5,4.5 146.5,99.5 9,9")"

# tile OUT: empty tile with a soft drop shadow
tile() {
    draw -size 152x106 xc:"$FIELD" \
        \( -size 152x106 xc:none -fill 'rgba(30,45,60,0.30)' \
           -draw "roundrectangle 5,6 147,103 10,10" -blur 0x2 \) -compose Over -composite \
        -draw "$TILE_MVG" "$1"
}

# round_button OUT TOP BOTTOM RIM: tile plus a glossy round button
round_button() {
    local out=$1 top=$2 bottom=$3 rim=$4
    gloss 152 106 "ellipse 76,52 21,12 0,360" 0.75 62 "$work/btn-gloss.png"
    tile "$work/tile.png"
    draw "$work/tile.png" \
        \( -size 152x106 xc:none -fill 'rgba(20,30,45,0.45)' -draw "circle 76,68 76,40" -blur 0x2.2 \) \
           -compose Over -composite \
        -draw "
            push defs
            $(gradient btn '0,38 0,94' "$top" 0 "$bottom" 1)
            pop defs
            $(group "fill 'url(#btn)' stroke '$rim' stroke-width 1.2" "circle 76,66 76,38.6")
            $(group "fill none stroke 'rgba(255,255,255,0.35)' stroke-width 1" "circle 76,66 76,40.2")" \
        "$work/btn-gloss.png" -compose Over -composite "$out"
}

make_start() {  # OUT
    round_button "$work/start-base.png" '#ffc247' '#e07400' '#a85200'
    draw "$work/start-base.png" \
        -font "$FONTB" -pointsize 14 -fill "$INK" \
        -draw "text-anchor middle text 76,25 'Start Update'" \
        \( -size 152x106 xc:none -fill none -stroke 'rgba(120,50,0,0.55)' -strokewidth 6.5 \
           -draw "stroke-linecap round stroke-linejoin round polyline 64,62 76,74 88,62" -blur 0x1.2 \) \
           -geometry +0+1.5 -compose Over -composite \
        -fill none -stroke white -strokewidth 6 \
        -draw "stroke-linecap round stroke-linejoin round polyline 64,60 76,72 88,60" \
        -stroke none -alpha off -strip "$1"
}

make_help() {  # OUT
    round_button "$work/help-base.png" '#6fa3dc' '#2a5d97' '#1d4576'
    draw "$work/help-base.png" \
        -font "$FONTB" -pointsize 14 -fill "$INK" \
        -draw "text-anchor middle text 76,25 'Hilfe/Help'" \
        \( -size 152x106 xc:none -font "$FONTB" -pointsize 34 -fill 'rgba(10,30,60,0.6)' \
           -draw "text-anchor middle text 77,80 '?'" -blur 0x1.2 \) -compose Over -composite \
        -font "$FONTB" -pointsize 34 -fill white -draw "text-anchor middle text 76,78 '?'" \
        -alpha off -strip "$1"
}

make_germany() {  # OUT
    tile "$work/gtile.png"
    gloss 152 106 "roundrectangle 14,36 138,58 22,22" 0.42 56 "$work/badge-gloss.png"
    gloss 152 106 "ellipse 40,50 12,6 0,360" 0.42 56 "$work/flag-gloss.png"
    # Flag stripes clipped to a disc.
    draw -size 152x106 xc:none \
        -fill '#161616' -draw "rectangle 0,0 152,55.3" \
        -fill '#dd0000' -draw "rectangle 0,55.3 152,68.7" \
        -fill '#ffce00' -draw "rectangle 0,68.7 152,106" \
        \( -size 152x106 xc:black -fill white -draw "circle 40,62 40,42" \) \
        -alpha off -compose CopyOpacity -composite "$work/flag-disc.png"
    draw "$work/gtile.png" \
        -font "$FONTB" -pointsize 14 -fill "$INK" \
        -draw "text-anchor middle text 76,25 'kelvio.example'" \
        \( -size 152x106 xc:none -fill 'rgba(20,30,45,0.40)' \
           -draw "roundrectangle 12,37 140,93 28,28" -blur 0x2 \) -compose Over -composite \
        -draw "
            push defs
            $(gradient badge '0,34 0,90' '#3d4f62' 0 '#1a232d' 1)
            pop defs
            $(group "fill 'url(#badge)' stroke '#0f161d' stroke-width 1" "roundrectangle 12.5,34.5 139.5,89.5 27,27")" \
        "$work/badge-gloss.png" -compose Over -composite \
        "$work/flag-disc.png" -compose Over -composite \
        -fill none -stroke 'rgba(255,255,255,0.85)' -strokewidth 1.5 -draw "circle 40,62 40,41.5" \
        -stroke none "$work/flag-gloss.png" -compose Over -composite \
        -font "$FONT" -pointsize 11 -fill '#dce4ec' -draw "text 68,57 'Made in'" \
        -font "$FONTB" -pointsize 13 -fill white -draw "text 67,74 'Germany'" \
        -alpha off -strip "$1"
}

# write_xpm PNG XPM NAME: XPM with every colour of the picture kept (two
# characters per pixel), which ImageMagick's own writer would reduce to 256.
write_xpm() {
    convert "$1" -alpha off -depth 8 "rgb:$work/xpm.rgb"
    python3 - "$work/xpm.rgb" "$2" "$3" "$(identify -format '%w %h' "$1")" <<'PY2'
import sys
from collections import Counter

raw, out, name, geometry = sys.argv[1:]
w, h = map(int, geometry.split())
data = open(raw, "rb").read()
px = [data[i:i + 3] for i in range(0, len(data), 3)]
assert len(px) == w * h
# Printable characters that need no escaping inside a C string.
chars = " .XoO+@#$%&*=-;:>,<1234567890qwertyuipasdfghjklzxcvbnmMNBVCZASDFGHJKLPIUYTREWQ!~^/()_`'][{}|"
counts = Counter(px)
colours = sorted(counts, key=lambda c: (-counts[c], c))
assert len(colours) <= len(chars) ** 2, len(colours)
code = {c: chars[i // len(chars)] + chars[i % len(chars)] for i, c in enumerate(colours)}
lines = ["/* XPM */", f"static const char *{name}[] = {{",
         "/* columns rows colors chars-per-pixel */",
         f'"{w} {h} {len(colours)} 2 ",']
lines += [f'"{code[c]} c #{c.hex().upper()}",' for c in colours]
lines.append("/* pixels */")
rows = ['"' + "".join(code[px[y * w + x]] for x in range(w)) + '"' for y in range(h)]
lines.append(",\n".join(rows))
lines.append("};")
with open(out, "w") as f:
    f.write("\n".join(lines) + "\n")
PY2
}

# ---------------------------------------------------------------------------
# Windows icon: 16/32 px at 4 bpp, 48 px at 8 bpp, and a PNG entry.

make_ico() {  # OUT
    local s
    for s in 16 32 48; do
        local colors=16
        [[ $s == 48 ]] && colors=256
        local src="$work/logo.png"
        [[ $s == 48 ]] || src="$work/logo-small.png"
        convert "$src" -filter Lanczos -resize "${s}x${s}" "$work/ico-$s.png"
        # Opaque pixels quantised to the palette; see-through ones go to the AND mask.
        convert "$work/ico-$s.png" -channel A -threshold 50% +channel \
            -background black -alpha remove -alpha off \
            +dither -colors "$colors" -depth 8 "rgb:$work/ico-$s.rgb"
        convert "$work/ico-$s.png" -alpha extract -threshold 50% -depth 8 "gray:$work/ico-$s.mask"
    done
    convert "$work/logo.png" -depth 8 "rgba:$work/ico-512.rgba"
    python3 - "$work" "$1" <<'PY'
import struct, sys, zlib

work, out = sys.argv[1], sys.argv[2]

def png(w, h, rgba):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + rgba[y * w * 4:(y + 1) * w * 4] for y in range(h))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))

def dib(size, bpp):
    rgb = open(f"{work}/ico-{size}.rgb", "rb").read()
    mask = open(f"{work}/ico-{size}.mask", "rb").read()
    px = [rgb[i:i + 3] for i in range(0, len(rgb), 3)]
    palette = sorted(set(px))
    assert len(palette) <= 1 << bpp, (size, len(palette))
    index = {c: i for i, c in enumerate(palette)}
    palette += [b"\0\0\0"] * ((1 << bpp) - len(palette))
    xor_stride = ((size * bpp + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    andm = bytearray()
    for y in reversed(range(size)):  # DIB rows run bottom-up
        row = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x in range(size):
            i = index[px[y * size + x]]
            if bpp == 4:
                row[x // 2] |= i << (4 if x % 2 == 0 else 0)
            else:
                row[x] = i
            if mask[y * size + x] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += row
        andm += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(andm), 0, 0, 1 << bpp, 0)
    pal = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    return header + pal + bytes(xor) + bytes(andm), len(set(px))

entries = []
for size, bpp in ((16, 4), (32, 4), (48, 8)):
    data, used = dib(size, bpp)
    entries.append((size, size, 1 << bpp if bpp < 8 else 0, bpp, data))
big = png(512, 512, open(f"{work}/ico-512.rgba", "rb").read())
entries.append((0, 0, 0, 32, big))  # 0 in the directory means 256

offset = 6 + 16 * len(entries)
directory = b""
for w, h, ncol, bpp, data in entries:
    directory += struct.pack("<BBBBHHII", w, h, ncol if ncol < 256 else 0, 0, 1, bpp, len(data), offset)
    offset += len(data)
with open(out, "wb") as f:
    f.write(struct.pack("<HHH", 0, 1, len(entries)) + directory)
    for *_, data in entries:
        f.write(data)
PY
}

# ---------------------------------------------------------------------------

draw_logo "$work/logo.png"
draw_logo "$work/logo-small.png" small

convert "$work/logo.png" -filter Lanczos -resize 128x128 "${PNGOPTS[@]}" \
    PNG32:"$ui/strobix.iconset/icon_128x128.png"

draw_flash_front "$work/flash-front.png"
draw_flash_side "$work/flash-side.png"
make_background "$work/flash-front.png" "$ui/images/background_2.jpg" -quality 88 -interlace None
make_background "$work/flash-side.png" "$ui/images/background.jpg" -quality 88 -interlace Plane

make_start "$work/start.png"
make_help "$work/help.png"
make_germany "$work/germany.png"
write_xpm "$work/start.png" "$ui/images/Start.xpm" Start
write_xpm "$work/help.png" "$ui/images/Help.xpm" Help
write_xpm "$work/germany.png" "$ui/images/Germany.xpm" Germany

make_ico "$ui/strobix.ico"

SCALE=2
draw_flash_front "$work/flash-front.png"
make_background "$work/flash-front.png" "$ui/images/background_2@2x.jpg" -quality 88 -interlace None
make_start "$work/start.png"
make_help "$work/help.png"
make_germany "$work/germany.png"
write_xpm "$work/start.png" "$ui/images/Start@2x.xpm" Start_2x
write_xpm "$work/help.png" "$ui/images/Help@2x.xpm" Help_2x
write_xpm "$work/germany.png" "$ui/images/Germany@2x.xpm" Germany_2x

if [[ -n $preview ]]; then
    for f in images/background.jpg images/background_2.jpg images/Start.xpm \
             images/Help.xpm images/Germany.xpm strobix.iconset/icon_128x128.png; do
        n=$(basename "${f%.*}")
        convert "$ui/$f" -background '#7f8c99' -flatten "$preview/$n.png"
    done
    for bg in background background_2; do
        convert "$ui/images/$bg.jpg" \
            "$ui/images/Start.xpm" -geometry +2+340 -composite \
            "$ui/images/Help.xpm" -geometry +163+340 -composite \
            "$ui/images/Germany.xpm" -geometry +324+340 -composite \
            "$preview/window-$bg.png"
    done
fi

echo "artwork written under $ui"
