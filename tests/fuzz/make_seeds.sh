#!/usr/bin/env bash
# Seeds for the archive reader's fuzz target, made the way the engine's tests make their
# fixtures (Info-ZIP zip, 7-Zip, Python's zipfile), plus libzip's regression archives when
# the shared corpus stands beside the project.
# Usage: make_seeds.sh OUTPUT_FOLDER  (ZIP_CORPUS names another corpus folder)
set -euo pipefail
out=$(mkdir -p "$1" && cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p src/sub/deep src/emptyfolder
python3 -c "
import random
random.seed(7)
open('src/text.txt','w').write(''.join('line %d: the quick brown fox\n' % i for i in range(300)))
open('src/noise.bin','wb').write(bytes(random.getrandbits(8) for _ in range(3000)))
open('src/empty.txt','w').close()
open('src/sub/deep/n.txt','w').write('deep\n')
"
cd src
zip -q -r "$out/infozip.zip" .
zip -q -0 -r "$out/infozip-stored.zip" .
zip -q -P secret -r "$out/infozip-encrypted.zip" .
zip -q -fz -r "$out/infozip-zip64.zip" .
cat text.txt | zip -q "$out/infozip-pipe.zip" -
zip -q -s 64k -r "$work/split.zip" . && cp "$work/split.zip" "$out/infozip-split-last.zip"
7zz a -tzip "$out/7zip.zip" . -bso0 -bsp0 >/dev/null
7zz a -tzip -psecret -mem=ZipCrypto "$out/7zip-encrypted.zip" . -bso0 -bsp0 >/dev/null
7zz a -tzip -mm=BZip2 "$out/7zip-bzip2.zip" text.txt -bso0 -bsp0 >/dev/null
cd ..
python3 - "$out" <<'PY'
import sys, zipfile, io, struct
out = sys.argv[1]
with zipfile.ZipFile(out + '/python.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('a.txt', 'x' * 5000)
    z.writestr('dir/', '')
    z.writestr('/abs.txt', 'leading slash')
    z.writestr('../up.txt', 'climbs')
    i = zipfile.ZipInfo('link'); i.create_system = 3; i.external_attr = 0o120777 << 16
    z.writestr(i, '/etc/passwd')
buf = io.BytesIO()
with zipfile.ZipFile(buf, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('s.txt', 'streamed ' * 100)
data = buf.getvalue()
open(out + '/python-cut.zip', 'wb').write(data[:len(data) - 30])
open(out + '/python-stub.zip', 'wb').write(b'#!/bin/sh\nexit 0\n' + data)
with zipfile.ZipFile(out + '/python-many.zip', 'w') as z:
    for n in range(200):
        z.writestr('e%03d' % n, '')
# One entry in the block format (method 12): the 50-byte header, then one zlib block.
import zlib
plain = b'block data ' * 50
block = zlib.compress(plain)
header = struct.pack('<IIIIiBBHI', len(plain), 0, len(plain), 0, 1, 0, 1, 0xFFFF, 0) + b'c' * 16 + b'\0' * 6
payload = header + struct.pack('<I', len(block)) + block
crc = zlib.crc32(plain)
name = b'b.dat'
local = struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, 12, 0, 0x21, crc, len(payload), len(plain), len(name), 0) + name
central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, 0, 12, 0, 0x21, crc, len(payload), len(plain), len(name), 0, 0, 0, 0, 0x20, 0) + name
end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 1, 1, len(central), len(local) + len(payload), 0)
open(out + '/block-format.zip', 'wb').write(local + payload + central + end)
PY
corpus="${ZIP_CORPUS:-$here/../../../shared/corpus}/libzip-regress"
if [ -d "$corpus" ]; then
    cp "$corpus"/*.zip "$out/"
fi
ls "$out" | wc -l
