#!/usr/bin/env bash
# CPU the real player window takes playing a 640x360, 30 fps H.264 + AAC
# FLV through a NetStream: the file (made here by the ffmpeg command) and a
# one-frame movie that plays it into a Video, measured by window_cpu.sh with
# a null sound sink, so the sound is decoded and mixed as on a desktop.
#   bench/netstream_cpu.sh BUILD_DIR [SECONDS=10] [CORE=0]
set -euo pipefail
build=$1 seconds=${2:-10} core=${3:-0}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=30 -f lavfi -i sine=f=440:r=44100 -t $((seconds + 10)) \
  -c:v libx264 -pix_fmt yuv420p -c:a aac -b:a 128k "$dir/clip.flv"
/usr/bin/python3 - "$dir/movie.swf" <<'PY'
import struct, sys
def tag(code, body):
    head = struct.pack('<H', code << 6 | 0x3F) + struct.pack('<I', len(body)) if len(body) >= 63 else struct.pack('<H', code << 6 | len(body))
    return head + body
def push(*vals):
    body = b''
    for v in vals:
        if v is None: body += b'\x02'
        elif isinstance(v, str): body += b'\x00' + v.encode() + b'\x00'
        else: body += b'\x07' + struct.pack('<i', v)
    return b'\x96' + struct.pack('<H', len(body)) + body
GETVAR, SETVAR, CALLM, NEW, POP, STOP = b'\x1c', b'\x1d', b'\x52', b'\x40', b'\x17', b'\x07'
# nc = new NetConnection(); nc.connect(null); ns = new NetStream(nc);
# v.attachVideo(ns); ns.play("clip.flv"); stop();
actions = (push('nc', 0, 'NetConnection') + NEW + SETVAR
    + push(None, 1, 'nc') + GETVAR + push('connect') + CALLM + POP
    + push('ns', 'nc') + GETVAR + push(1, 'NetStream') + NEW + SETVAR
    + push('ns') + GETVAR + push(1, 'v') + GETVAR + push('attachVideo') + CALLM + POP
    + push('clip.flv', 1, 'ns') + GETVAR + push('play') + CALLM + POP + STOP + b'\x00')
# The stage: 640 x 360 pixels as a rectangle of 15-bit twip fields.
bits = '01111' + ''.join(format(v, '015b') for v in (0, 640 * 20, 0, 360 * 20))
bits += '0' * (-len(bits) % 8)
rect = bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
body = rect + struct.pack('<HH', 30 << 8, 1)
body += tag(9, b'\x00\x00\x00')
body += tag(60, struct.pack('<HHHHBB', 1, 0, 640, 360, 0, 7))     # DefineVideoStream
body += tag(26, b'\x22' + struct.pack('<HH', 1, 1) + b'v\x00')    # PlaceObject2 "v"
body += tag(12, actions) + tag(1, b'') + tag(0, b'')
open(sys.argv[1], 'wb').write(b'FWS\x08' + struct.pack('<I', 8 + len(body)) + body)
PY
SOUND=1 "$(dirname "$0")/window_cpu.sh" "$build" "$dir/movie.swf" "$seconds" "$core"
