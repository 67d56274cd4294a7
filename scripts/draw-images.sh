#!/bin/sh
# Draws the about picture and the application icon (ImageMagick): a small
# cube satellite with two solar wings and a whip antenna over a night sky.
set -eu
out=${1:-app/resources}

draw_satellite() { # size scale file
    convert -size "$1" xc:'#0b1633' \
        -fill '#ffffff' -draw "point $(( $2 * 10 )),$(( $2 * 12 ))" \
        -draw "point $(( $2 * 50 )),$(( $2 * 8 ))" -draw "point $(( $2 * 58 )),$(( $2 * 47 ))" \
        -draw "point $(( $2 * 6 )),$(( $2 * 48 ))" -draw "point $(( $2 * 30 )),$(( $2 * 4 ))" \
        -fill '#2a4fa8' -stroke '#9fb8ff' -strokewidth 1 \
        -draw "rectangle $(( $2 * 3 )),$(( $2 * 24 )) $(( $2 * 22 )),$(( $2 * 34 ))" \
        -draw "rectangle $(( $2 * 42 )),$(( $2 * 24 )) $(( $2 * 61 )),$(( $2 * 34 ))" \
        -stroke '#9fb8ff' -draw "line $(( $2 * 22 )),$(( $2 * 29 )) $(( $2 * 24 )),$(( $2 * 29 ))" \
        -draw "line $(( $2 * 40 )),$(( $2 * 29 )) $(( $2 * 42 )),$(( $2 * 29 ))" \
        -fill '#c8ccd4' -stroke '#eef0f4' \
        -draw "rectangle $(( $2 * 24 )),$(( $2 * 19 )) $(( $2 * 40 )),$(( $2 * 39 ))" \
        -fill '#e0a030' -stroke none \
        -draw "rectangle $(( $2 * 28 )),$(( $2 * 23 )) $(( $2 * 36 )),$(( $2 * 27 ))" \
        -stroke '#eef0f4' -strokewidth "$2" \
        -draw "line $(( $2 * 32 )),$(( $2 * 19 )) $(( $2 * 38 )),$(( $2 * 6 ))" \
        -type TrueColor -depth 8 "$3"
}

draw_satellite 64x57 1 "PNG24:$out/kadrin-icon.png"
convert "$out/kadrin-icon.png" -background '#0b1633' -gravity center -extent 64x64 \
    -type TrueColor -depth 8 "PNG24:$out/kadrin-icon-64.png"
draw_satellite 256x228 4 /tmp/kadrin-about-large.png
convert /tmp/kadrin-about-large.png -resize 229x200! -quality 90 "$out/satellite.jpg"
rm -f /tmp/kadrin-about-large.png
