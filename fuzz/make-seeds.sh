#!/usr/bin/env bash
# Builds a seed folder for the fuzz targets at run time: links to the
# ActionScript movies of the conformance corpus (read in place, never copied
# into the repository) and a few hostile movies written here.
#   fuzz/make-seeds.sh OUT_DIR [CORPUS_DIR]
set -eu
out=$1
corpus=${2:-$(cd "$(dirname "$0")/../.." && pwd)/shared/corpus}
[ -d "$corpus" ] || corpus=/work/shared/corpus
mkdir -p "$out"
n=0
for dir in "$corpus"/avm1 "$corpus"/avm1_swfdec; do
  [ -d "$dir" ] || continue
  while IFS= read -r swf; do
    name=$(basename "$(dirname "$swf")")
    ln -sf "$swf" "$out/$name.swf"
    n=$((n + 1))
  done < <(find "$dir" -name '*.swf' -size -256k | sort)
done
# Hostile movies: one frame each, its script taken from the list below.
/usr/bin/python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]
def push(*vals):
    body = b''
    for v in vals:
        if isinstance(v, str): body += b'\x00' + v.encode() + b'\x00'
        else: body += b'\x07' + struct.pack('<i', v)
    return b'\x96' + struct.pack('<H', len(body)) + body
def get_url(url, target):
    body = url.encode() + b'\x00' + target.encode() + b'\x00'
    return b'\x83' + struct.pack('<H', len(body)) + body
GETVAR, SETVAR, GETMEM, SETMEM, CALLM, CALLF, NEW, POP = b'\x1c', b'\x1d', b'\x4e', b'\x4f', b'\x52', b'\x3d', b'\x40', b'\x17'
def jump(off): return b'\x99\x02\x00' + struct.pack('<h', off)
scripts = {
  # Sound.prototype.setVolume.call(SharedObject.getLocal("a"), 50)
  'foreign-this': push(50, 'a', 1, 'SharedObject') + GETVAR + push('getLocal') + CALLM
      + push(2, 'Sound') + GETVAR + push('prototype') + GETMEM + push('setVolume') + GETMEM + push('call') + CALLM + POP,
  # new LoadVars().sendAndLoad("x.txt", new Sound())
  'foreign-receiver': push(0, 'Sound') + NEW + push('x.txt', 2, 0, 'LoadVars') + NEW + push('sendAndLoad') + CALLM + POP,
  # while (true) push a long string
  'stack-bomb': push('x' * 1000) + jump(-(len(push('x' * 1000)) + 5)),
  # new Array(16777216)
  'array-bomb': push(16777216, 1, 'Array') + NEW + POP,
  # s = "xx..."; while (true) s += s
  'string-doubling': push('s', 'xxxxxxxx') + SETVAR
      + (lambda body: body + jump(-(len(body) + 5)))(push('s', 's') + GETVAR + push('s') + GETVAR + b'\x47' + SETVAR),
  # loadVariablesNum("/etc/passwd", 0); getURL("http://127.0.0.1/", "_blank")
  'sandbox': get_url('/etc/passwd', '_level0') + get_url('http://127.0.0.1/', '_blank'),
}
for name, actions in scripts.items():
    actions += b'\x00'
    tag = struct.pack('<HI', 12 << 6 | 0x3F, len(actions)) + actions
    body = b'\x00\x00\x0c\x01\x00' + struct.pack('<H', 69 << 6 | 4) + b'\x00\x00\x00\x00' + tag + b'\x40\x00\x00\x00'
    data = b'FWS\x08' + struct.pack('<I', 8 + len(body)) + body
    open(f'{out}/hostile-{name}.swf', 'wb').write(data)
PY
echo "$n corpus movies and $(ls "$out"/hostile-*.swf | wc -l) hostile movies in $out"
