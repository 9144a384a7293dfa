#!/usr/bin/env bash
# Makes the small real fragmented MP4 files the end-to-end tests convert and
# undo, one per fragment mode of ffmpeg's mov muxer worth covering, plus HLS
# and DASH downloads (the init segment followed by its media segments).
# Everything is made from scratch; bit-exact flags and one encoder thread keep
# the output the same from run to run with the same ffmpeg build.
# Needs ffmpeg with libx264, libx265 and libopus (Debian 12: apt-get install ffmpeg),
# and python3-cryptography for the encrypted one.
# usage: make-fixtures.sh [OUTDIR]   (default: the directory of this script)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
mkdir -p "$out"; cd "$out"
secs=1
FF="ffmpeg -hide_banner -loglevel error -y"
BX="-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1"
V="-f lavfi -i testsrc2=size=160x120:rate=30:duration=$secs"
A="-f lavfi -i sine=frequency=440:sample_rate=48000:duration=$secs"
A2="-f lavfi -i sine=frequency=880:sample_rate=44100:duration=$secs"
X264="-c:v libx264 -preset veryfast -g 15 -pix_fmt yuv420p -threads 1"
AAC="-c:a aac -b:a 48k"

# Data offsets given as absolute positions (tfhd base-data-offset).
$FF $V $A $X264 $AAC $BX -movflags frag_keyframe+empty_moov               empty_moov.mp4
$FF $V $A $X264 $AAC $BX -movflags frag_keyframe                           moov_with_samples.mp4
$FF $V $A $X264 $AAC $BX -movflags frag_keyframe+empty_moov+separate_moof  separate_moof.mp4
$FF $V $A $X264 $AAC $BX -movflags empty_moov -frag_duration 300000        frag_duration.mp4
$FF $V $A $X264 -bf 3 $AAC $BX -movflags frag_keyframe+empty_moov+negative_cts_offsets negative_cts.mp4
$FF $V $A -c:v libx265 -x265-params log-level=error:pools=1:frame-threads=1 -g 15 -pix_fmt yuv420p \
    -tag:v hvc1 -c:a libopus -b:a 32k $BX -movflags frag_keyframe+empty_moov hevc_opus.mp4
$FF $A $AAC $BX -movflags empty_moov -frag_duration 500000                 audio_only.mp4
$FF $V -c:v mjpeg -q:v 8 $BX -movflags empty_moov -frag_duration 500000    all_intra.mp4
$FF $V $A $A2 -map 0 -map 1 -map 2 $X264 $AAC $BX -movflags frag_keyframe+empty_moov two_audio.mp4
# Data offsets relative to the moof (default-base-is-moof) or implicit.
$FF $V $A $X264 $AAC $BX -movflags frag_keyframe+empty_moov+default_base_moof base_is_moof.mp4
$FF $V $A $X264 $AAC $BX -movflags frag_keyframe+empty_moov+omit_tfhd_offset  implicit_base.mp4
$FF $V $A $X264 -bf 2 $AAC $BX -movflags cmaf+frag_keyframe                   cmaf.mp4
# Recordings that start late, their decode times (tfdt) of wall-clock size as
# in a live capture: 25 hours in, and 10.46 s in with a movie timescale of 1
# (whole seconds). frag_discont keeps the start in the decode times,
# delay_moov gives the edit lists of B-frames and audio priming.
LATE="-movflags frag_keyframe+empty_moov+delay_moov+frag_discont"
$FF $V $A $X264 $AAC $BX -output_ts_offset 90000 $LATE                        late_start.mp4
$FF $V $A $X264 $AAC $BX -output_ts_offset 10.4634 -movie_timescale 1 $LATE   coarse_timescale.mp4

# Streaming downloads: three segments of half a second each, saved as one
# file from the first segment on and one from the second (a download that
# joined late: its first fragment's decode time is not zero). The HLS init
# segment carries the libavformat version as its encoder tag whatever the
# flags, so those two files change with the ffmpeg build.
seg_secs=1.5
SV="-f lavfi -i testsrc2=size=160x120:rate=30:duration=$seg_secs"
SA="-f lavfi -i sine=frequency=440:sample_rate=48000:duration=$seg_secs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

$FF $SV $SA $X264 $AAC $BX -f hls -hls_segment_type fmp4 -hls_time 0.5 -hls_list_size 0 \
    -hls_flags independent_segments -hls_fmp4_init_filename init.mp4 \
    -hls_segment_filename "$work/hls_seg%d.m4s" "$work/hls.m3u8"
hls_segs=$(ls "$work"/hls_seg*.m4s | sort -V)
cat "$work/init.mp4" $hls_segs > hls_from_first.mp4
cat "$work/init.mp4" $(echo "$hls_segs" | tail -n +2) > hls_from_second.mp4

# One representation (video only) per file.
$FF $SV $X264 $BX -f dash -seg_duration 0.5 -use_template 1 -use_timeline 0 \
    -init_seg_name 'init.m4s' -media_seg_name 'dash_seg$Number%03d$.m4s' "$work/dash.mpd"
dash_segs=$(ls "$work"/dash_seg*.m4s | sort -V)
cat "$work/init.m4s" $dash_segs > dash_from_first.mp4
cat "$work/init.m4s" $(echo "$dash_segs" | tail -n +2) > dash_from_second.mp4

# The file the README's Quick start converts.
cp empty_moov.mp4 sample.mp4

# base_is_moof.mp4 with Common Encryption (needs python3-cryptography).
python3 "$here/make-cenc-fixture.py" .
