#!/usr/bin/env python3
"""Makes cenc.mp4, a Common Encryption ('cenc', AES-128 CTR) fragmented file,
from its clear twin base_is_moof.mp4 (ffmpeg, default-base-is-moof).

ffmpeg's fragmented writer leaves the encryption data out, so it is put in
here: every sample is encrypted in place (video: one subsample per NAL unit,
its length prefix and NAL header left clear, 8-byte IVs; audio: the whole
sample, 16-byte IVs); each traf gets senc, saiz and saio (one offset, into
senc); the sample entries become encv/enca with sinf (frma, schm 'cenc',
schi/tenc with the key ID); the moov gets a common-system pssh and every moof
another pssh. The video trun of each traf is split in two, the second without
a data offset, so that a traf holds two chunks. The mfra is dropped (its
offsets would be stale). IVs are derived from the sample numbers, so the
output is the same on every run.

Needs python3-cryptography (Debian 12). Key and key ID, for
ffmpeg -decryption_key: see KEY and KID below.
usage: make-cenc-fixture.py [DIR]   (default: the directory of this script)
"""
import hashlib
import os
import struct
import sys

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

KEY = bytes.fromhex('00112233445566778899aabbccddeeff')
KID = bytes.fromhex('a7e61c373e219033c21091fa607bf3b8')
COMMON_SYSTEM = bytes.fromhex('1077efecc0b24d02ace33c1e52e2fb4b')
OTHER_SYSTEM = bytes.fromhex('edef8ba979d64acea3c827dcd51d21ed')
IV_SIZE = {b'vide': 8, b'soun': 16}


def box(typ, body):
    return struct.pack('>I4s', 8 + len(body), typ) + body


def full(typ, version, flags, body):
    return box(typ, struct.pack('>I', (version << 24) | flags) + body)


def children(b, start, end):
    """(type, start, body start, end) of each child in b[start:end]."""
    out = []
    while start + 8 <= end:
        size, typ = struct.unpack('>I4s', b[start:start + 8])
        out.append((typ, start, start + 8, start + size))
        start += size
    return out


def find(b, start, end, typ):
    return next(c for c in children(b, start, end) if c[0] == typ)


def rebuild(b, start, end, path, edit):
    """The box b[start:end] with the child at `path` (types, outermost
    first) replaced by edit(child bytes); sizes on the way are redone."""
    typ = b[start + 4:start + 8]
    if not path:
        return edit(b[start:end])
    body_at = start + 8 + (8 if typ == b'stsd' else 0)
    out = b[start + 8:body_at]
    done = False
    for t, s, _, e in children(b, body_at, end):
        if t == path[0] and not done:
            out += rebuild(b, s, e, path[1:], edit)
            done = True
        else:
            out += b[s:e]
    return box(typ, out)


def encrypt(data, iv, ranges):
    """AES-128 CTR over the protected (start, length) ranges of one sample,
    one key stream across them."""
    counter = iv + bytes(16 - len(iv))
    enc = Cipher(algorithms.AES(KEY), modes.CTR(counter)).encryptor()
    joined = enc.update(b''.join(bytes(data[s:s + n]) for s, n in ranges)) + enc.finalize()
    at = 0
    for s, n in ranges:
        data[s:s + n] = joined[at:at + n]
        at += n


def sample_iv(track_id, number, size):
    iv = hashlib.sha256(b'%d/%d' % (track_id, number)).digest()[:size]
    # Keep the 64-bit block counter far from wrapping (readers differ there).
    return iv if size == 8 else iv[:8] + bytes([iv[8] & 0x7F]) + iv[9:]


def main():
    here = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    src = bytearray(open(os.path.join(here, 'base_is_moof.mp4'), 'rb').read())
    top = children(src, 0, len(src))
    moov = next(c for c in top if c[0] == b'moov')

    # Each trak with its sample entry protected; the handler and the NAL
    # length size go to the sample encryption.
    tracks = {}
    body = b''
    for t, s, d, e in children(src, moov[2], moov[3]):
        if t != b'trak':
            body += src[s:e]
            continue
        tkhd = find(src, d, e, b'tkhd')
        track_id = struct.unpack('>I', src[tkhd[2] + 12:tkhd[2] + 16])[0]
        mdia = find(src, d, e, b'mdia')
        handler = bytes(src[find(src, mdia[2], mdia[3], b'hdlr')[2] + 8:][:4])
        stbl = find(src, *find(src, mdia[2], mdia[3], b'minf')[2:], b'stbl')
        stsd = find(src, stbl[2], stbl[3], b'stsd')
        entry = children(src, stsd[2] + 8, stsd[3])[0]
        nal_length = None
        if handler == b'vide':
            avcc = find(src, entry[2] + 78, entry[3], b'avcC')
            nal_length = (src[avcc[2] + 4] & 3) + 1
        tracks[track_id] = (handler, nal_length)

        sinf = box(b'sinf', box(b'frma', entry[0])
                   + full(b'schm', 0, 0, b'cenc' + struct.pack('>I', 0x10000))
                   + box(b'schi', full(b'tenc', 0, 0, bytes([0, 0, 1, IV_SIZE[handler]]) + KID)))
        protected = b'encv' if handler == b'vide' else b'enca'
        body += rebuild(src, s, e, [b'mdia', b'minf', b'stbl', b'stsd', entry[0]],
                        lambda old: box(protected, old[8:] + sinf))
    body += full(b'pssh', 1, 0, COMMON_SYSTEM + struct.pack('>I', 1) + KID + struct.pack('>I', 0))
    out = bytearray(src[:moov[1]]) + box(b'moov', body)

    numbers = {k: 0 for k in tracks}
    for t, s, d, e in top:
        if t in (b'ftyp', b'moov', b'mfra'):
            continue
        if t != b'moof':
            out += src[s:e]  # after the moof: its samples are encrypted by now
            continue
        trafs = [encrypt_traf(src, s, cs, ce, tracks, numbers)
                 for ct, cs, cd, ce in children(src, d, e) if ct == b'traf']
        mfhd = find(src, d, e, b'mfhd')
        head = bytes(src[mfhd[1]:mfhd[3]]) + full(b'pssh', 0, 0, OTHER_SYSTEM + struct.pack('>I', 4) + b'frag')

        def layout(growth):
            moof_body = head
            for traf in trafs:
                moof_body += traf(growth, 8 + len(moof_body))
            return moof_body
        # The moof grows, so its mdat moves: every data offset by as much.
        out += box(b'moof', layout(8 + len(layout(0)) - (e - s)))
    open(os.path.join(here, 'cenc.mp4'), 'wb').write(out)


def encrypt_traf(src, moof_at, start, end, tracks, numbers):
    """Encrypts the traf's samples in src; returns a builder of the new traf
    (given the moof's growth and the traf's offset in the moof)."""
    tfhd = find(src, start + 8, end, b'tfhd')
    tf_flags = struct.unpack('>I', src[tfhd[2]:tfhd[2] + 4])[0] & 0xFFFFFF
    track_id = struct.unpack('>I', src[tfhd[2] + 4:tfhd[2] + 8])[0]
    assert tf_flags & 0x020000 and not tf_flags & 1, 'needs default-base-is-moof'
    at = tfhd[2] + 8
    defaults = {}
    for bit, name in ((0x2, 'sdi'), (0x8, 'duration'), (0x10, 'size'), (0x20, 'flags')):
        if tf_flags & bit:
            defaults[name] = struct.unpack('>I', src[at:at + 4])[0]
            at += 4
    handler, nal_length = tracks[track_id][:2]
    iv_size = IV_SIZE[handler]

    trun = find(src, start + 8, end, b'trun')
    vf = struct.unpack('>I', src[trun[2]:trun[2] + 4])[0]
    version, tr_flags = vf >> 24, vf & 0xFFFFFF
    count, = struct.unpack('>I', src[trun[2] + 4:trun[2] + 8])
    at = trun[2] + 8
    data_offset, = struct.unpack('>i', src[at:at + 4])
    at += 4
    first_flags = None
    if tr_flags & 0x4:
        first_flags = src[at:at + 4]
        at += 4
    fields = [bit for bit in (0x100, 0x200, 0x400, 0x800) if tr_flags & bit]
    samples = []
    for _ in range(count):
        samples.append({bit: bytes(src[at + 4 * i:at + 4 * i + 4]) for i, bit in enumerate(fields)})
        at += 4 * len(fields)

    entries = []
    pos = moof_at + data_offset
    for smp in samples:
        size = struct.unpack('>I', smp[0x200])[0] if 0x200 in smp else defaults['size']
        numbers[track_id] += 1
        iv = sample_iv(track_id, numbers[track_id], iv_size)
        if nal_length:
            subsamples, ranges, p = [], [], pos
            while p < pos + size:
                nal = int.from_bytes(src[p:p + nal_length], 'big')
                clear = nal_length + 1
                subsamples.append((clear, nal - 1))
                ranges.append((p + clear, nal - 1))
                p += nal_length + nal
            assert p == pos + size
            encrypt(src, iv, ranges)
            entries.append(iv + struct.pack('>H', len(subsamples))
                           + b''.join(struct.pack('>HI', c, n) for c, n in subsamples))
        else:
            encrypt(src, iv, [(pos, size)])
            entries.append(iv)
        pos += size

    def run(flags, part, offset, first):
        body = struct.pack('>I', len(part))
        if flags & 0x1:
            body += struct.pack('>i', offset)
        if flags & 0x4:
            body += first
        body += b''.join(smp[bit] for smp in part for bit in fields)
        return full(b'trun', version, flags, body)

    def build(delta, traf_at):
        if handler == b'vide':
            half = (len(samples) + 1) // 2
            runs = (run(tr_flags, samples[:half], data_offset + delta, first_flags)
                    + run(tr_flags & ~0x5, samples[half:], 0, None))
        else:
            runs = run(tr_flags, samples, data_offset + delta, first_flags)
        head = b''.join(bytes(src[s:e]) for t, s, _, e in children(src, start + 8, end) if t != b'trun')
        sizes = [len(x) for x in entries]
        if len(set(sizes)) == 1:
            saiz = full(b'saiz', 0, 0, bytes([sizes[0]]) + struct.pack('>I', len(sizes)))
        else:
            saiz = full(b'saiz', 0, 0, b'\0' + struct.pack('>I', len(sizes)) + bytes(sizes))
        senc_flags = 0x2 if handler == b'vide' else 0
        before_senc = 8 + len(head) + len(runs) + len(saiz) + 20  # saio: 20 bytes
        senc_entries_at = traf_at + before_senc + 16  # senc header, version/flags, count
        saio = full(b'saio', 0, 0, struct.pack('>II', 1, senc_entries_at))
        senc = full(b'senc', 0, senc_flags, struct.pack('>I', len(entries)) + b''.join(entries))
        return box(b'traf', head + runs + saiz + saio + senc)

    return build


if __name__ == '__main__':
    main()
