#!/usr/bin/env python3
"""Writes key_vectors.txt: an independent model of the fold, the generator step
and key setup, used to pin the C++ code to exact bytes for every scheme.

Run from this folder: python3 make_key_vectors.py > key_vectors.txt
"""

M32 = 0xFFFFFFFF


def rotl(v, n):
    return ((v << n) | (v >> (32 - n))) & M32


def fold(data, words, steps, three_term):
    v = [0] * words
    if not data:
        return v
    x = 0
    w = words - 1
    for s in range(steps):
        p = s % len(data)
        c = data[p]
        if three_term:
            x = (v[c & w] + v[s & w] + v[p & w] + x + 1) & w
            v[x] = rotl(c ^ v[x] ^ p, 5)
        else:
            x = (v[s & w] + v[c & w] + x + 1) & w
            v[x] = rotl(c ^ v[x], 5)
    return v


class Generator:
    def __init__(self, table, mask):
        self.t, self.m, self.i, self.j = table, mask, 0, 0

    def step(self):
        t, m = self.t, self.m
        self.i = (self.i + 1) & m
        self.j = (self.j + t[self.i]) & m
        t[self.i], t[self.j] = t[self.j], t[self.i]
        return t[(t[self.i] + t[self.j]) & m]


SCHEMES = {
    0: (255, 255, 8, False, True),
    1: (255, 255, 8, False, True),
    2: (255, 255, 64, False, False),
    3: (1023, 510, 64, True, False),
}


def setup_key(scheme, password, salt, mix, schedule, stir):
    mask, limit, words, three, big_endian = SCHEMES[scheme]
    pw = password.encode("utf-8")[:limit]
    material = salt[:8] + pw + salt[8:]
    key = list(range(mask + 1))
    shuffle = list(range(mask + 1))
    sj = [0]

    def schedule_pass(data, count):
        if not data:
            return
        for k in range(count):
            i = k & mask
            sj[0] = (sj[0] + key[i] + data[k % len(data)]) & mask
            key[i], key[sj[0]] = key[sj[0]], key[i]

    digest = fold(material, words, mix, three)
    order = "big" if big_endian else "little"
    digest_bytes = b"".join(d.to_bytes(4, order) for d in digest)
    schedule_pass(digest_bytes, schedule)
    if scheme >= 2:
        schedule_pass(material, len(material))
    else:
        schedule_pass(pw, schedule)
    gen = Generator(key, mask)
    for k in range(stir):
        t = gen.step()
        a = k & mask
        shuffle[a], shuffle[t] = shuffle[t], shuffle[a]
    return gen, Generator(shuffle, mask), sj[0]


CASES = [
    (0, "correct horse", bytes(range(16)), 16384, 8192, 8192),
    (1, "correct horse", bytes(range(16)), 16384, 8192, 8192),
    (2, "correct horse", bytes(range(16)), 16384, 8192, 8192),
    (3, "correct horse", bytes(range(16)), 16384, 8192, 8192),
    (0, "", bytes(range(100, 116)), 4096, 256, 4096),
    (3, "", bytes(range(100, 116)), 4096, 256, 4096),
    (2, "p\u00e4ssw\u00f6rd \u20ac\U0001F600", bytes(range(200, 216)), 49151, 24575, 24575),
    (3, "p\u00e4ssw\u00f6rd \u20ac\U0001F600", bytes(range(200, 216)), 49151, 24575, 24575),
    (1, "\u00e9" * 200, bytes([0xA5] * 16), 5000, 300, 4100),
    (3, "\u00e9" * 300, bytes([0x5A] * 16), 5000, 300, 4100),
]


def main():
    print("# scheme password-utf8-hex salt-hex mixRounds scheduleRounds stirRounds"
          " scheduleJ key-outputs(24) shuffle-outputs(24)")
    for scheme, password, salt, mix, schedule, stir in CASES:
        key, shuffle, sj = setup_key(scheme, password, salt, mix, schedule, stir)
        keys = ",".join("%x" % key.step() for _ in range(24))
        shuffles = ",".join("%x" % shuffle.step() for _ in range(24))
        print(scheme, password.encode("utf-8").hex() or "-", salt.hex(), mix, schedule, stir, sj, keys, shuffles)
    print("# fold: variant(2|3) input-hex words steps result-words")
    for data, words, steps, three in [(b"abc", 16, 34567, True), (b"abc", 16, 16, True), (b"abc", 8, 1000, False),
                                     (b"hello world", 64, 5000, False), (bytes((7 * i + 3) & 255 for i in range(60)), 16, 34567, True),
                                     (b"x", 8, 3, False),
                                     # Fewer steps than the writes a step can still be waiting on.
                                     (b"\x05\xfe", 64, 0, True), (b"\x05\xfe", 64, 1, True), (b"\x05\xfe", 64, 2, True),
                                     (b"\x3f\x3f\x3f", 8, 7, True),
                                     # The longest key material, and strings longer than any key material.
                                     (bytes((i * i + 11) & 255 for i in range(526)), 64, 49151, True),
                                     (bytes((i * i + 11) & 255 for i in range(271)), 8, 20000, False),
                                     (bytes((5 * i + 1) & 255 for i in range(1100)), 64, 3000, True),
                                     (bytes((5 * i + 1) & 255 for i in range(1100)), 16, 3000, False)]:
        v = fold(data, words, steps, three)
        print(3 if three else 2, data.hex(), words, steps, ",".join("%08x" % x for x in v))


main()
