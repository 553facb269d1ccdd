#!/bin/sh
# Makes the fixtures of the ASF, Matroska, transport-stream, Ogg, FLV,
# RealMedia, MPEG program-stream and small media tests: fractions of a second
# of tiny video and audio made by ffmpeg, sox and abc2midi. Run from this
# folder; the outputs are committed, so the tests never need these tools.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ff="ffmpeg -hide_banner -loglevel error -y -bitexact"
video="-f lavfi -i testsrc=size=32x32:rate=4:duration=0.5"
tone="-f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.25"
tone22="-f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.25"
# MPEG-1 and MPEG-2 video know only the broadcast frame rates.
mvideo="-f lavfi -i testsrc=size=32x32:rate=25:duration=0.2"

# ASF: a video file (File Properties, video Stream Properties), an audio-only
# file and a generic .asf with both.
$ff $video -c:v wmv2 -b:v 20k -packet_size 512 -f asf video.wmv
$ff $tone22 -c:a wmav2 -b:a 24k -ac 1 -packet_size 512 -f asf audio.wma
$ff $video $tone22 -c:v wmv1 -b:v 20k -c:a wmav2 -b:a 24k -ac 1 -packet_size 512 -f asf stream.asf
# Matroska and WebM, both with a known Segment size.
$ff $video $tone -c:v mpeg4 -q:v 20 -c:a pcm_s16le -f matroska video.mkv
$ff $video $tone -c:v libvpx -b:v 20k -c:a libopus -b:a 8k -ar 48000 -f webm video.webm
# Transport streams of 188-byte packets and of 192-byte packets (4-byte
# arrival-time prefix).
$ff $mvideo -c:v mpeg2video -q:v 20 -f mpegts stream.ts
$ff $mvideo -c:v mpeg2video -q:v 20 -f mpegts -mpegts_m2ts_mode 1 stream.m2ts
# Ogg Vorbis and Ogg Opus.
$ff $tone22 -c:a libvorbis -q:a 0 -ac 1 -f ogg audio.ogg
$ff $tone -c:a libopus -b:a 8k -ac 1 -f opus audio.opus
# FLV with video and audio tags.
$ff $video $tone22 -c:v flv1 -b:v 20k -c:a libmp3lame -b:a 32k -ac 1 -f flv video.flv
# RealMedia with RealVideo 1.0 and RealAudio 14.4.
$ff $video $tone -c:v rv10 -b:v 20k -c:a real_144 -ac 1 -f rm video.rm
# MPEG-1 program stream and a DVD-style MPEG-2 program stream.
$ff $mvideo $tone22 -c:v mpeg1video -q:v 20 -c:a mp2 -b:a 32k -ac 1 -f mpeg program.mpg
$ff $mvideo -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.25 \
    -c:v mpeg2video -q:v 20 -c:a mp2 -b:a 64k -ac 1 -f vob program.vob
# Uncompressed Flash movie.
$ff $video -c:v flv1 -b:v 20k -f swf movie.swf
# MXF with MPEG-2 video.
$ff $mvideo -c:v mpeg2video -q:v 20 -f mxf video.mxf
# WTV recording.
$ff $mvideo -c:v mpeg2video -q:v 20 -f wtv video.wtv
# MMF ringtone.
$ff $tone -c:a adpcm_yamaha -f mmf ringtone.mmf
# Narrow-band AMR.
sox -D -n -r 8000 -c 1 -t amr-nb speech.amr synth 0.25 sine 440
# AIFF and AU audio.
sox -D -n -r 8000 -c 1 -b 16 sound.aiff synth 0.15 sine 440
sox -D -n -r 8000 -c 1 -b 16 sound.au synth 0.15 sine 440
# Standard MIDI file with two tracks.
cat > "$tmp/tune.abc" <<'ABC'
X:1
T:Fixture
M:4/4
L:1/8
Q:1/4=120
K:C
V:1
CDEF GABc|
V:2
C,2E,2 G,2C2|
ABC
abc2midi "$tmp/tune.abc" -o tune.mid -silent >/dev/null
