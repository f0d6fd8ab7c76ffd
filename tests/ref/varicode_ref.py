"""Bit-by-bit models of the Varicode encoder and decoder.

`table` maps byte values 0-127 to code words as lists of bits, first bit first.
"""

NUL_WORD = [1, 0, 1, 0, 1, 0, 1, 0, 1, 1]


class Encoder:
    def __init__(self, table):
        self.table = table
        self.bits = []
        self.at_boundary = True

    def push_byte(self, b):
        if not self.at_boundary:
            self.bits += [0, 0]
        self.at_boundary = False
        self.bits += NUL_WORD if b >= 128 else self.table[b]

    def push_preamble(self, n):
        # Fewer than two zeros would not end an open character.
        self.bits += [0] * (n if self.at_boundary else max(n, 2))
        self.at_boundary = True

    def push_postamble(self, n):
        if not self.at_boundary:
            self.bits += [0, 0]
        self.bits += [1] * n

    def drain(self):
        out, self.bits = self.bits, []
        return out


def decode(table, stream):
    """Bytes of a whole bit stream through a 16-bit shift register and a bit count
    saturating at 11. Any non-zero element is a one for the separator test and
    only its lowest bit enters the register; a zero before a word's first bit is
    idle, since every word starts with a one."""
    words = {}
    for value, word in table.items():
        words[(int("".join(map(str, word)), 2), len(word))] = value
    out = bytearray()
    reg = count = 0
    prev_zero = False
    for v in stream:
        if v == 0 and prev_zero:
            if count > 1 and ((reg >> 1), count - 1) in words:
                out.append(words[(reg >> 1, count - 1)])
            reg = count = 0
            prev_zero = False
        elif v == 0 and count == 0:
            prev_zero = True
        else:
            reg = ((reg << 1) | (v & 1)) & 0xFFFF
            count = min(count + 1, 11)
            prev_zero = v == 0
    return bytes(out)
