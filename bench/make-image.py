#!/usr/bin/env python3
"""Builds a deterministic mixed disk image for the speed benchmark.

Real files (the project's fixtures and sample image) are laid at sector
boundaries between stretches of filler of four kinds: pseudo-random bytes,
zeros, 0xFF and plain text. The same seed and size always give the same
image, byte for byte.

usage: make-image.py OUTPUT SIZE_MIB SEED FILE...
"""
import random
import sys

SECTOR = 512
WORDS = (b"the of and to in is that for it as was with on be at by this had not are "
         b"but from or have an they which one you were her all she there would their "
         b"we him been has when who will more no if out so said what up its about").split()


def text_block(rng, size):
    out = bytearray()
    while len(out) < size:
        line = b" ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        out += line[:1].upper() + line[1:] + b".\n"
    return bytes(out[:size])


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    path, size, seed = sys.argv[1], int(sys.argv[2]) << 20, int(sys.argv[3])
    files = sorted(set(sys.argv[4:]))
    contents = [open(f, "rb").read() for f in files]
    rng = random.Random(seed)
    random_pool = rng.randbytes(8 << 20)
    written = 0
    with open(path, "wb") as out:
        def put(data):
            nonlocal written
            data = data[:size - written]
            out.write(data)
            written += len(data)

        while written < size:
            put(contents[rng.randrange(len(contents))])
            kind = rng.choice(("random", "random", "zero", "ff", "text"))
            length = rng.randint(1, 256) * SECTOR
            # Filler up to the next sector boundary, then whole sectors.
            length += (-written) % SECTOR
            if kind == "random":
                start = rng.randrange(len(random_pool) - length)
                put(random_pool[start:start + length])
            elif kind == "zero":
                put(bytes(length))
            elif kind == "ff":
                put(b"\xff" * length)
            else:
                put(text_block(rng, length))


if __name__ == "__main__":
    main()
