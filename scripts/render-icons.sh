#!/bin/sh
# Re-renders every PNG of the artwork from its hand-written SVG source.
#
#   scripts/render-icons.sh            render all
#   scripts/render-icons.sh --check    render into a scratch folder and report
#                                      any committed PNG that differs
#
# The PNGs are committed, so a normal build never runs this. Run it after
# editing an SVG under resources/src/ or packaging/icons/, then commit both.
# Needs rsvg-convert (Debian package librsvg2-bin). The sources use no
# fonts (letters are drawn as paths), so the output does not depend on the
# fonts installed; running it twice gives the same files.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
src="$root/resources/src"
img="$root/resources/images"
ui="$img/UI_img"

check=0
if [ "${1:-}" = "--check" ]; then
    check=1
elif [ $# -gt 0 ]; then
    echo "usage: $0 [--check]" >&2
    exit 2
fi

if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "rsvg-convert not found; install the Debian package librsvg2-bin" >&2
    exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM
differ=0

# render <svg> <png> <width> <height>
# Files named @2x / @3x hold two or three times the pixels they are shown at:
# Qt reads that suffix as the device pixel ratio.
render() {
    tmp="$scratch/out.png"
    rsvg-convert --format=png --width="$3" --height="$4" --output="$tmp" "$1"
    if [ "$check" = 1 ]; then
        if ! cmp -s "$tmp" "$2"; then
            echo "differs: ${2#"$root"/}"
            differ=1
        fi
    else
        mkdir -p "$(dirname "$2")"
        mv "$tmp" "$2"
    fi
}

# Toolbar: drawn on a 60 x 60 grid, the toolbar's icon height.
render "$src/toolbar-reader-config.svg" "$ui/连接配置_Property_1_Variant2@2x.png" 120 120
render "$src/toolbar-station.svg"       "$ui/station@2x.png" 120 120
render "$src/toolbar-open-file.svg"     "$ui/读取档案_Property_1_Variant2@2x.png" 120 120
render "$src/toolbar-save-file.svg"     "$ui/保存档案_Property_1_Variant2@2x.png" 120 120
render "$src/toolbar-read.svg"          "$ui/读取_Property_1_Variant2@2x.png" 120 120
render "$src/toolbar-write.svg"         "$ui/写入1_Property_1_Variant2@2x.png" 120 120
render "$src/toolbar-auto-scan.svg"     "$ui/扫描_Property_1_Variant2@2x.png" 120 120
render "$src/toolbar-stop.svg"          "$img/stop.png" 120 120
render "$src/toolbar-about-orvella.svg" "$ui/关于我们_Property_1_Variant2@3x_72x72.png" 72 72
render "$src/toolbar-about-neutral.svg" "$ui/关于我们_Property_1_gongban1@3x.png" 180 180
render "$src/toolbar-language-en.svg"   "$ui/切换语言_Property_1_Variant4@2x.png" 120 120
render "$src/toolbar-language-cn.svg"   "$ui/切换语言_Property_1_Variant3@2x.png" 120 120

# Device-data panel: drawn on a 20 x 20 grid.
render "$src/data-list.svg"          "$ui/List@2x.png" 40 40
render "$src/data-code.svg"          "$ui/Code@2x.png" 40 40
render "$src/data-apps.svg"          "$ui/Apps@2x.png" 40 40
render "$src/data-swap.svg"          "$ui/Swap@2x.png" 40 40
render "$src/data-schedule.svg"      "$ui/Schedule_Property_1_Default@2x.png" 40 40
render "$src/data-schedule-load.svg" "$ui/Schedule_Property_1_Variant2@2x.png" 40 40
render "$src/data-common.svg"        "$ui/Common@2x.png" 40 40
render "$src/data-file.svg"          "$ui/FilePdf@2x.png" 40 40
render "$src/data-tag.svg"           "$ui/Tag@2x.png" 40 40
render "$src/data-current.svg"       "$ui/电流_Property_1_Variant4@2x.png" 40 40

# Title bar close (a 16 x 16 button icon, twice the pixels) and the copy
# button of the colour picker (shown at exactly 36 x 25).
render "$src/close.svg" "$ui/Close.png" 32 32
render "$src/copy.svg"  "$ui/输入_Property_1_默认.png" 36 25

# About dialog pictures, both shown at 280 x 211.
render "$src/about-orvella.svg" "$ui/Group@2x.png" 560 422
render "$src/about-neutral.svg" "$ui/aboutus_common_2x.png" 280 211

# Desktop icon for packaging (the SVG itself is installed as the scalable one).
render "$root/packaging/icons/vantory.svg" "$root/packaging/icons/48x48/vantory.png" 48 48
render "$root/packaging/icons/vantory.svg" "$root/packaging/icons/128x128/vantory.png" 128 128

if [ "$check" = 1 ]; then
    [ "$differ" = 0 ] && echo "all PNGs match their sources"
    exit "$differ"
fi
