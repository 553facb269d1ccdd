#!/bin/sh
# Makes media fixtures exactly as the muxers write them, nothing edited
# afterwards: 3GPP with H.264 and AAC, 3GPP2 with MPEG-4 video and AAC and
# with H.263 video and AMR speech (their "free" box and "3g2a" brand as
# ffmpeg writes them), and MXF with MPEG-2 video and PCM audio, generic and
# D-10 (both with a primer pack 512 bytes in and a random index pack at the
# end). Needs ffmpeg and sox (with AMR). Run from this folder; the outputs
# are committed, so the tests never need these tools.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ff="ffmpeg -hide_banner -loglevel error -y -bitexact"
video="-f lavfi -i testsrc=size=64x48:rate=8:duration=1"
tone="-f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.5"

$ff $video $tone -c:v libx264 -preset veryfast -crf 45 -pix_fmt yuv420p -g 8 \
  -c:a aac -b:a 16k -ac 1 -f 3gp h264-aac.3gp
$ff $video $tone -c:v mpeg4 -q:v 20 -c:a aac -b:a 16k -ac 1 -f 3g2 mpeg4-aac.3g2
sox -D -n -r 8000 -c 1 -t amr-nb "$tmp/speech.amr" synth 0.5 sine 440
$ff -f lavfi -i testsrc=size=128x96:rate=8:duration=1 -i "$tmp/speech.amr" \
  -c:v h263 -q:v 20 -c:a copy -f 3g2 h263-amr.3g2

# MXF: generic (OP1a) with MPEG-2 video and PCM audio, and D-10 (IMX 30:
# one 720x608 intra frame of 4:2:2 MPEG-2 at 30 Mbit/s, AES3 audio).
$ff -f lavfi -i testsrc=size=64x48:rate=25:duration=0.4 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.4 \
  -c:v mpeg2video -q:v 20 -c:a pcm_s16le -f mxf mpeg2-pcm.mxf
$ff -f lavfi -i testsrc=size=720x608:rate=25:duration=0.04 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.04 \
  -c:v mpeg2video -pix_fmt yuv422p -b:v 30M -minrate 30M -maxrate 30M -bufsize 1200000 \
  -rc_init_occupancy 1200000 -g 1 -flags +ildct+low_delay -dc 10 -intra_vlc 1 \
  -non_linear_quant 1 -qmin 1 -qmax 12 -ps 1 -top 1 -c:a pcm_s16le -ac 2 -f mxf_d10 d10.mxf

# MP3 with ID3v2 and ID3v1 tags whose ID3v1 tag (the last 128 bytes) runs
# across a 512-byte boundary of the file: 0.55 s of 44.1 kHz at 128 kbit/s.
sox -D -n -r 44100 -c 1 -b 16 "$tmp/tone.wav" synth 0.55 sine 440
lame --quiet -b 128 --cbr --add-id3v2 --tt "Tone" --ta "Fixture" "$tmp/tone.wav" tag-across.mp3
