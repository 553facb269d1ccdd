#!/bin/sh
# Makes the media fixtures of the ISO base-media, RIFF and MP3 tests: a
# second of tiny video and fractions of a second of audio, made by ffmpeg,
# sox and lame. Run from this folder; the outputs are committed, so the tests
# never need these tools.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ff="ffmpeg -hide_banner -loglevel error -y -bitexact"
video="-f lavfi -i testsrc=size=64x48:rate=8:duration=1"
tone="-f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.5"
h264="-c:v libx264 -preset veryfast -crf 45 -pix_fmt yuv420p -g 8"
aac="-c:a aac -b:a 16k -ac 1"

# MP4 (brand isom): ftyp, moov, free, mdat.
$ff $video $tone $h264 $aac -movflags +faststart -f mp4 clip.mp4
# QuickTime (brand "qt  "): ftyp, wide, mdat, moov.
$ff $video $tone $h264 $aac -f mov clip.mov
# M4V video (brand "M4V ") and M4A audio (brand "M4A ").
$ff $video $h264 -movflags +faststart -f ipod -brand "M4V " clip.m4v
$ff $tone $aac -movflags +faststart -f ipod tone.m4a
# 3GPP2 (brand kddi), fragmented: ftyp, moov, moof, mdat, ..., mfra.
$ff $video $h264 -movflags frag_keyframe+empty_moov -brand kddi -f 3g2 clip.3g2
# 3GPP (brand 3gp6): ftyp, moov, then the muxer's 8-byte "free" box before
# mdat, which a 3GPP walk does not allow; fold it into mdat (its header moves
# 8 bytes up and grows by 8), so no chunk offset changes.
$ff $video $h264 -movflags +faststart -brand 3gp6 -f 3gp "$tmp/clip.3gp"
python3 - "$tmp/clip.3gp" clip.3gp <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(b"\x00\x00\x00\x08free")
assert at > 0 and data[at + 12:at + 16] == b"mdat"
size = struct.unpack(">I", data[at + 8:at + 12])[0]
data[at:at + 8] = struct.pack(">I", size + 8) + b"mdat"
data[at + 8:at + 16] = b"\x00" * 8
open(sys.argv[2], "wb").write(data)
PY

# AVI with MPEG-4 video and PCM audio (no MPEG audio inside).
$ff $video $tone -c:v mpeg4 -q:v 20 -c:a pcm_u8 -f avi clip.avi
# WAV: a quarter second of 8 kHz mono.
sox -D -n -r 8000 -c 1 -b 16 tone.wav synth 0.25 sine 440

# MP3s: 128 kbit/s 44.1 kHz (frames of 417 and 418 bytes), a plain one, one
# with an ID3v2 tag only, and one with ID3v2 and ID3v1 tags.
sox -D -n -r 44100 -c 1 -b 16 "$tmp/tone.wav" synth 0.6 sine 440
lame --quiet -b 128 --cbr "$tmp/tone.wav" plain.mp3
lame --quiet -b 128 --cbr --id3v2-only --tt "Tone" --ta "Fixture" "$tmp/tone.wav" id3v2.mp3
lame --quiet -b 128 --cbr --add-id3v2 --tt "Tone" --ta "Fixture" "$tmp/tone.wav" tagged.mp3
