#!/usr/bin/env bash
# Makes the seeds of fuzz_archive with the archivers themselves: tiny archives of every
# format the listing reads, nested, encrypted and with hostile names, each named by its
# SHA-1 in tests/fuzz/corpus/fuzz_archive/. Run again after changing it; the seeds are
# committed, so a test run needs none of these tools.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out="$top/tests/fuzz/corpus/fuzz_archive"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir -p t/d/e
printf 'a\n' > t/a
printf 'bb\n' > t/d/b
ln -s ../a t/d/l
find t -exec touch -h -d @1500000000 {} +

zip -qry s.zip t
zip -qr -P pw s-enc.zip t
zip -qrD s-nodirs.zip t
7z a -bd -bso0 -bsp0 s.7z t/a t/d/b
7z a -bd -bso0 -bsp0 -ppw -mhe=on s-enc.7z t/a
# Records of one block: GNU tar pads to 10 KiB otherwise.
tar -b1 -cf s.tar t
tar -b1 --format=ustar -cf s-ustar.tar t
tar -b1 --format=v7 -cf s-v7.tar t/a
tar -b1 --format=pax -cf s-pax.tar t/a
tar czf s.tgz t
tar cjf s.tbz t
tar cJf s.txz t
tar --zstd -cf s.tzst t
tar -I lz4 -cf s.tlz4 t
find t | cpio --quiet -o -H newc > s.cpio
find t | cpio --quiet -o -H odc > s-odc.cpio
find t | cpio --quiet -o -H bin > s-bin.cpio
find t | cpio --quiet -o -H newc | gzip > s.cpio.gz
# Archives inside archives.
zip -q s-in.zip s.tgz s.7z
tar -b1 -cf s-in.tar s.zip s.cpio
python3 - <<'EOF'
import io, tarfile, zipfile
with tarfile.open('s-hostile.tar', 'w', format=tarfile.GNU_FORMAT) as t:
    for n in ('../up', '/abs/x', './a/./b', 'a\\b', 'x\ny', 'r\udcff', 'f', 'f/g', 'f'):
        i = tarfile.TarInfo(n); t.addfile(i)  # empty: one block a member
    i = tarfile.TarInfo('h'); i.type = tarfile.LNKTYPE; i.linkname = 'f'; t.addfile(i)
    end = t.offset
# Without the padding to a whole record: the two end blocks are enough.
d = open('s-hostile.tar', 'rb').read()
open('s-hostile.tar', 'wb').write(d[:end + 1024])
with zipfile.ZipFile('s-hostile.zip', 'w') as z:
    for n in ('../up', '/abs/x', 'a\\b', 'f', 'f/g'):
        z.writestr(n, b'x')
EOF

mkdir -p "$out"
for f in s*; do
    [ "$(stat -c %s "$f")" -le 8192 ] || { echo "skipped $f: larger than the fuzzer's inputs" >&2; continue; }
    cp "$f" "$out/$(sha1sum "$f" | cut -c1-40)"
done
ls "$out" | wc -l
