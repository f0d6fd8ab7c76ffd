"""FT8/FT4 message packing and unpacking: payload vectors, field layout,
callsign forms, grid and report fields, free text, telemetry, argument rules."""

import pytest

import tarsk_sdr as ts

# ---------------------------------------------------------------- test-side reference

DIGITS = "0123456789"
LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
A37 = " " + DIGITS + LETTERS
A36 = DIGITS + LETTERS
A27 = " " + LETTERS
A38 = A37 + "/"
A42 = A37 + "+-./?"

CALL_HASHED = 2063592
CALL_STANDARD = 6257896


def std_value(c6):
    """Call value of a six-character standard form."""
    c6 = c6.ljust(6)
    n = A37.index(c6[0])
    n = n * 36 + A36.index(c6[1])
    n = n * 10 + DIGITS.index(c6[2])
    for c in c6[3:]:
        n = n * 27 + A27.index(c)
    return CALL_STANDARD + n


def cq_letters_value(word):
    m = 0
    for c in word:
        m = m * 27 + LETTERS.index(c) + 1
    return 1003 + m


def hashes(text):
    """(h22, h12) of a callsign text."""
    n = 0
    for c in text[:11]:
        n = n * 38 + (A38.index(c) if c in A38 else 0)
    n *= 38 ** (11 - min(len(text), 11))
    p = (n * 47055833459) % 2**64
    return p >> 42, p >> 52


def hashed_value(text):
    return CALL_HASHED + hashes(text)[0]


def write_fields(*fields):
    """Payload from (value, width) fields written most significant bit first; 77 bits."""
    v = 0
    n = 0
    for value, width in fields:
        assert 0 <= value < 1 << width
        v = (v << width) | value
        n += width
    assert n == 77
    return (v << 3).to_bytes(10, "big")


def field(payload, start, width):
    return (int.from_bytes(payload, "big") >> (80 - start - width)) & ((1 << width) - 1)


def standard_payload(n_to, ip_to, n_de, ip_de, ir, g15, i3):
    return write_fields((n_to, 28), (ip_to, 1), (n_de, 28), (ip_de, 1), (ir, 1), (g15, 15), (i3, 3))


def locator_g15(loc):
    return (ord(loc[0]) - 65) * 1800 + (ord(loc[1]) - 65) * 100 + int(loc[2]) * 10 + int(loc[3])


def pack_standard(call_to, call_de, extra):
    p = ts.ft8_pack_standard(call_to, call_de, extra)
    assert type(p) is bytes and len(p) == 10 and p[9] & 0x07 == 0
    return p


def std_dict(call_to, call_de, extra):
    return {"type": "standard", "call_to": call_to, "call_de": call_de, "extra": extra}


PACK_STD_ERR = "ft8_pack_standard: failed to pack message (invalid callsign?)"
FREE_TEXT_ERR = "ft8_pack_free_text: failed to pack message (text too long or invalid chars?)"

# ---------------------------------------------------------------- vectors

# Reference payloads for a few messages, produced independently of this library.
VECTORS = [
    (("CQ", "X1ABC", "FN42"), "000000206174bd8a1988", std_dict("CQ", "X1ABC", "FN42")),
    (("X9Z", "0Z9XYZ", "R-30"), "0c5978b09bdac53fa548", std_dict("X9Z", "0Z9XYZ", "R-30")),
    (("CQ", "0A1ABC/R", "FN42"), "0000002074fa60ca1988", std_dict("CQ", "0A1ABC/R", "FN42")),
    (("CQ", "X1ABC/P", "JO22"), "000000206174bdd13590", std_dict("CQ", "X1ABC/P", "JO22")),
    (("CQ A", "X1ABC", "JO22"), "00003ec06174bd913588", std_dict("CQ A", "X1ABC", "JO22")),
    (("CQ 000", "0A1ABC", "FN42"), "0000003074fa608a1988", std_dict("CQ 000", "0A1ABC", "FN42")),
]
FREE_TEXT_VECTOR = ("0123456789XYZ", "036d8d2c271eafbd1400")
TELEMETRY_VECTOR = ("1F2E3D4C5B6A798800", "3e5c7a98b6d4f3100140")


@pytest.mark.parametrize("args,hexp,want", VECTORS)
def test_standard_vectors(args, hexp, want):
    assert pack_standard(*args).hex() == hexp
    assert ts.ft8_unpack(bytes.fromhex(hexp)) == want


def test_free_text_and_telemetry_vectors():
    text, hexp = FREE_TEXT_VECTOR
    assert ts.ft8_pack_free_text(text).hex() == hexp
    assert ts.ft8_unpack(bytes.fromhex(hexp)) == {"type": "free_text", "text": text}
    data, hexp = TELEMETRY_VECTOR
    assert ts.ft8_pack_telemetry(bytes.fromhex(data)).hex() == hexp
    assert ts.ft8_unpack(bytes.fromhex(hexp)) == {"type": "telemetry", "data": bytes.fromhex(data)}


def test_vector_fields_by_reference_writer():
    # CQ X1ABC FN42: fields written independently give the same bytes.
    want = standard_payload(2, 0, std_value(" X1ABC"), 0, 0, locator_g15("FN42"), 1)
    assert pack_standard("CQ", "X1ABC", "FN42") == want
    want = standard_payload(std_value(" X9Z"), 0, std_value("0Z9XYZ"), 0, 1, 32435 - 30, 1)
    assert pack_standard("X9Z", "0Z9XYZ", "R-30") == want
    want = standard_payload(cq_letters_value("A"), 0, std_value(" X1ABC"), 0, 0,
                            locator_g15("JO22"), 1)
    assert pack_standard("CQ A", "X1ABC", "JO22") == want


# ---------------------------------------------------------------- call tokens and directed CQ

@pytest.mark.parametrize("token,value", [("DE", 0), ("QRZ", 1), ("CQ", 2)])
def test_tokens(token, value):
    p = pack_standard(token, "X1ABC", "")
    assert field(p, 0, 28) == value and field(p, 28, 1) == 0
    assert ts.ft8_unpack(p) == std_dict(token, "X1ABC", "")


def test_directed_cq_numbers():
    for k in range(1000):
        text = f"CQ {k:03d}"
        p = pack_standard(text, "X1ABC", "FN31")
        assert p == standard_payload(3 + k, 0, std_value(" X1ABC"), 0, 0, 10331, 1)
        assert ts.ft8_unpack(p)["call_to"] == text
    assert field(pack_standard("CQ 007", "X1ABC", ""), 0, 28) == 10


def test_directed_cq_letters(rng):
    assert field(pack_standard("CQ DX", "X1ABC", ""), 0, 28) == 1003 + 4 * 27 + 24 == 1135
    assert field(pack_standard("CQ ZZZZ", "X1ABC", ""), 0, 28) == 532443
    words = ["DX", "A", "ZZZZ", "POTA", "NA", "EU"]
    words += ["".join(rng.choice(list(LETTERS), size=rng.integers(1, 5))) for _ in range(300)]
    for w in words:
        p = pack_standard("CQ " + w, "X1ABC", "")
        assert field(p, 0, 28) == cq_letters_value(w)
        assert ts.ft8_unpack(p)["call_to"] == "CQ " + w
    # The word ends the text; trailing spaces carry nothing.
    assert ts.ft8_unpack(pack_standard("CQ DX ", "X1ABC", ""))["call_to"] == "CQ DX"


@pytest.mark.parametrize("text", ["CQ ", "CQ 7", "CQ 12", "CQ 1234", "CQ A1", "CQ 1A", "CQ dx",
                                  "CQ D-X", "CQ  DX"])
def test_directed_cq_refused(text):
    with pytest.raises(ValueError) as e:
        ts.ft8_pack_standard(text, "X1ABC", "")
    assert str(e.value) == PACK_STD_ERR


@pytest.mark.parametrize("text", ["CQ DX X", "CQ A B", "CQ A BC", "CQ AB 1"])
def test_directed_cq_with_trailing_text_refused(text):
    # Only the first word would travel.
    with pytest.raises(ValueError) as e:
        ts.ft8_pack_standard(text, "X1ABC", "")
    assert str(e.value) == PACK_STD_ERR


def test_long_cq_text_is_hashed():
    p = pack_standard("CQ ABCDE", "X1ABC", "")
    assert field(p, 0, 28) == hashed_value("CQ ABCDE")
    assert ts.ft8_unpack(p)["call_to"] == "<...>"


# ---------------------------------------------------------------- standard callsigns

def random_standard_calls(rng, n):
    """(call, six-character form) pairs of every standard shape."""
    pick = lambda alphabet: alphabet[rng.integers(len(alphabet))]
    tail = lambda k: "".join(pick(LETTERS) for _ in range(k))
    out = []
    while len(out) < n:
        shape = rng.integers(4)
        if shape == 0:  # third character a digit: X, X, digit, 0-3 letters
            call = pick(A36) + pick(A36) + pick(DIGITS) + tail(rng.integers(0, 4))
            if (call[0] == "Q" and call[1] in LETTERS) or (call.startswith("3D0") and len(call) > 3):
                continue  # these take the hashed form
            if call.startswith("3X") and call[2] in LETTERS:
                continue
            c6 = call
        elif shape == 1:  # second character a digit: X, digit, 1-3 letters
            call = pick(A36) + pick(DIGITS) + tail(rng.integers(1, 4))
            c6 = " " + call
        elif shape == 2:  # 3DA0 and 1-3 letters
            call = "3DA0" + tail(rng.integers(1, 4))
            c6 = "3D0" + call[4:]
        else:  # 3X, a letter, a digit, 0-2 letters
            call = "3X" + pick(LETTERS) + pick(DIGITS) + tail(rng.integers(0, 3))
            c6 = "Q" + call[2:]
        out.append((call, c6))
    return out


def test_standard_callsign_round_trip(rng):
    for call, c6 in random_standard_calls(rng, 1500):
        for suffix, i3 in [("", 1), ("/R", 1), ("/P", 2)]:
            p = pack_standard("CQ", call + suffix, "FN31")
            ip = 1 if suffix else 0
            assert p == standard_payload(2, 0, std_value(c6), ip, 0, 10331, i3), call + suffix
            assert ts.ft8_unpack(p) == std_dict("CQ", call + suffix, "FN31")
            p = pack_standard(call + suffix, "X1ABC", "-10")
            assert field(p, 0, 28) == std_value(c6) and field(p, 28, 1) == ip
            assert ts.ft8_unpack(p)["call_to"] == call + suffix


def test_one_letter_prefix_call_and_suffix():
    p = pack_standard("CQ", "Q1ABC", "FN42")
    assert p == standard_payload(2, 0, std_value(" Q1ABC"), 0, 0, 10342, 1)
    assert ts.ft8_unpack(p) == std_dict("CQ", "Q1ABC", "FN42")
    p = pack_standard("CQ", "Q1ABC/R", "FN42")
    assert p == standard_payload(2, 0, std_value(" Q1ABC"), 1, 0, 10342, 1)
    assert ts.ft8_unpack(p)["call_de"] == "Q1ABC/R"


def test_special_prefix_forms():
    p = pack_standard("3DA0ABC", "3XA1BC", "")
    assert field(p, 0, 28) == std_value("3D0ABC")
    assert field(p, 29, 28) == std_value("QA1BC")
    assert ts.ft8_unpack(p) == std_dict("3DA0ABC", "3XA1BC", "")


def test_portable_suffix_sets_message_type():
    p = pack_standard("X1ABC", "Y2DEF/P", "RR73")
    assert field(p, 74, 3) == 2 and field(p, 57, 1) == 1 and field(p, 28, 1) == 0
    assert ts.ft8_unpack(p) == std_dict("X1ABC", "Y2DEF/P", "RR73")
    p = pack_standard("X1ABC/R", "Y2DEF/R", "73")
    assert field(p, 74, 3) == 1
    assert ts.ft8_unpack(p) == std_dict("X1ABC/R", "Y2DEF/R", "73")


@pytest.mark.parametrize("call_to,call_de", [("X1ABC/R", "Y2DEF/P"), ("L4K/P", "U3G/R"),
                                             ("Q4/Q1ABC/R", "X1ABC/P")])
def test_rover_and_portable_in_one_message_refused(call_to, call_de):
    # One suffix kind travels for both calls: the other would read back changed.
    for a, b in [(call_to, call_de), (call_de, call_to)]:
        with pytest.raises(ValueError) as e:
            ts.ft8_pack_standard(a, b, "")
        assert str(e.value) == "ft8_pack_standard: cannot carry /R and /P in one message"


# ---------------------------------------------------------------- hashed callsigns

@pytest.mark.parametrize("call", ["Q4/Q1ABC", "X1ABC/QRP", "ABC", "A/B", "ABCDEFGHIJK", "12345678901",
                                  "X1ABCDEF", "3DA0ABCD"])
def test_hashed_callsigns(call):
    p = pack_standard("CQ", call, "")
    assert p == standard_payload(2, 0, hashed_value(call), 0, 0, 32401, 1)
    assert ts.ft8_unpack(p) == std_dict("CQ", "<...>", "")


def test_hashed_callsigns_with_suffix():
    # call_to keeps its suffix flag when hashed, call_de does not.
    p = pack_standard("Q4/Q1ABC/R", "Q4/Y2DEF/R", "")
    assert field(p, 0, 28) == hashed_value("Q4/Q1ABC/R") and field(p, 28, 1) == 1
    assert field(p, 29, 28) == hashed_value("Q4/Y2DEF/R") and field(p, 57, 1) == 0
    assert ts.ft8_unpack(p) == std_dict("<...>", "<...>", "")
    p = pack_standard("Q4/Q1ABC/P", "X1ABC", "")
    assert field(p, 74, 3) == 2 and field(p, 28, 1) == 1


@pytest.mark.parametrize("call", ["", "A", "AB", "/R", "ABCDEFGHIJKL", "Q4/Q1ABC/QRP", "x1abc", "X1aBC",
                                  "X1ABC/r", "X1\u00c4BC", "X1-BC", "X1ABC\x00"])
def test_unpackable_callsigns(call):
    for args in [(call, "X1ABC", ""), ("CQ", call, "")]:
        with pytest.raises(ValueError) as e:
            ts.ft8_pack_standard(*args)
        assert str(e.value) == PACK_STD_ERR


@pytest.mark.parametrize("call", ["QA1BC", "QZ9", "QR2XYZ", "QA1BC/R", "QA1BC/P"])
def test_q_letter_calls_go_hashed(call):
    # A six-character form starting Q+letter would read back as a 3X call.
    p = pack_standard("CQ", call, "")
    assert field(p, 29, 28) == hashed_value(call) and field(p, 57, 1) == 0
    assert ts.ft8_unpack(p)["call_de"] == "<...>"


@pytest.mark.parametrize("call", ["3D0AB", "3D0ABC", "3D0A/P", "3DA0 AB", "3DA0 "])
def test_3d0_lookalikes_go_hashed(call):
    # "3D0x" would read back as "3DA0x", and "3DA0 x" would lose its A.
    p = pack_standard("CQ", call, "")
    assert field(p, 29, 28) == hashed_value(call)
    assert ts.ft8_unpack(p)["call_de"] == "<...>"


# ---------------------------------------------------------------- call fields on receive

def test_unshowable_call_values():
    for value in [532444, 1000000, 2063591, CALL_STANDARD, std_value(" A1")]:
        p = standard_payload(value, 0, std_value(" X1ABC"), 0, 0, 32401, 1)
        assert ts.ft8_unpack(p) == std_dict("<?>", "X1ABC", "")
    p = standard_payload(1003, 0, CALL_HASHED + 12345, 1, 0, 32401, 2)
    assert ts.ft8_unpack(p) == std_dict("CQ ", "<...>", "")
    # Token and CQ values ignore the suffix flag.
    p = standard_payload(2, 1, 3 + 42, 1, 0, 32401, 1)
    assert ts.ft8_unpack(p) == std_dict("CQ", "CQ 042", "")


# ---------------------------------------------------------------- grid and report field

def test_every_grid_square():
    for a in "ABCDEFGHIJKLMNOPQR":
        for b in "ABCDEFGHIJKLMNOPQR":
            for d in range(100):
                loc = f"{a}{b}{d:02d}"
                p = pack_standard("X1ABC", "Y2DEF", loc)
                g15 = 32403 if loc == "RR73" else locator_g15(loc)  # the token wins
                assert p == standard_payload(std_value(" X1ABC"), 0, std_value(" Y2DEF"), 0, 0,
                                             g15, 1)
                assert ts.ft8_unpack(p)["extra"] == loc
                p = pack_standard("X1ABC", "Y2DEF", "R " + loc)
                assert field(p, 58, 1) == 1 and field(p, 59, 15) == locator_g15(loc)
                assert ts.ft8_unpack(p)["extra"] == "R " + loc


def test_r_locator_is_its_own_inverse():
    p = standard_payload(2, 0, std_value(" X1ABC"), 0, 1, 10331, 1)
    assert ts.ft8_unpack(p)["extra"] == "R FN31"
    assert pack_standard("CQ", "X1ABC", "R FN31") == p


@pytest.mark.parametrize("extra,g15", [("", 32401), ("RRR", 32402), ("RR73", 32403), ("73", 32404),
                                       ("FN31", 10331), ("AA00", 0), ("RR99", 32399)])
def test_tokens_and_locators(extra, g15):
    p = pack_standard("CQ", "X1ABC", extra)
    assert field(p, 58, 1) == 0 and field(p, 59, 15) == g15
    assert ts.ft8_unpack(p)["extra"] == extra


def test_reports():
    for r in range(-30, 31):
        for text, shown, ir in [(f"{r:+03d}", f"{r:+03d}", 0), (f"R{r:+03d}", f"R{r:+03d}", 1),
                                (f"{r}", f"{r:+03d}", 0), (f"R{r}", f"R{r:+03d}", 1)]:
            p = pack_standard("X1ABC", "Y2DEF", text)
            assert field(p, 58, 1) == ir and field(p, 59, 15) == 32435 + r, text
            assert ts.ft8_unpack(p)["extra"] == shown
    for text, g15, ir, shown in [("07", 32442, 0, "+07"), ("-12", 32423, 0, "-12"),
                                 ("R+05", 32440, 1, "R+05"), ("+127", 32562, 0, "+127"),
                                 ("R127", 32562, 1, "R+127"), ("+0007", 32442, 0, "+07"),
                                 ("-0", 32435, 0, "+00"), ("100", 32535, 0, "+100")]:
        p = pack_standard("X1ABC", "Y2DEF", text)
        assert (field(p, 58, 1), field(p, 59, 15)) == (ir, g15)
        assert ts.ft8_unpack(p)["extra"] == shown
    assert field(pack_standard("X1ABC", "Y2DEF", "R+05"), 58, 16) == 65208


@pytest.mark.parametrize("extra", ["-31", "-35", "+200", "128", "R-31", "R+128", "XYZ", "fn31", "FN3",
                                   "AS00", "SA00", "FN31 ", " FN31", "FN311", "R", "RFN31", "R  FN31",
                                   "R fn31", "R AS00", "+", "-", "R+", "+-5", "7 ", "rrr", "RR 73", "R73x",
                                   "JO22OK", "\u00c47"])
def test_extra_that_cannot_be_carried(extra):
    with pytest.raises(ValueError) as e:
        ts.ft8_pack_standard("CQ", "X1ABC", extra)
    assert str(e.value).startswith("ft8_pack_standard: ")
    assert str(e.value) != PACK_STD_ERR


def test_field_decoding_on_receive():
    cases = [(32400, 0, "AA00"), (32400, 1, "R AA00"), (32401, 1, ""), (32402, 1, "RRR"),
             (32403, 1, "RR73"), (32404, 1, "73"), (32405, 0, "-30"), (32405, 1, "R-30"),
             # reports read back as one byte
             (32562, 0, "+127"), (32563, 0, "-128"), (32563, 1, "R-128"), (32700, 0, "+09"),
             (32767, 0, "+76"), (32600, 1, "R-91")]
    for g15, ir, shown in cases:
        p = standard_payload(2, 0, std_value(" X1ABC"), 0, ir, g15, 1)
        assert ts.ft8_unpack(p)["extra"] == shown, (g15, ir)


# ---------------------------------------------------------------- free text

def free_text_value(text):
    v = 0
    for c in text.ljust(13):
        v = v * 42 + A42.index(c)
    return v


def test_free_text_round_trip(rng):
    for n in list(range(14)) * 40:
        text = "".join(rng.choice(list(A42), size=n))
        p = ts.ft8_pack_free_text(text)
        assert type(p) is bytes
        assert p == write_fields((free_text_value(text), 71), (0, 3), (0, 3))
        assert ts.ft8_unpack(p) == {"type": "free_text", "text": text.strip(" ")}


def test_right_justified_free_text_reads_without_padding():
    # Other senders right-justify the text in its 13 places; inner spaces are text.
    for text in ["HELLO WORLD", "TNX 73", "A", "CQ  DX", "ABCDEFGHIJKLM"]:
        p = write_fields((free_text_value(text.rjust(13)), 71), (0, 3), (0, 3))
        assert ts.ft8_unpack(p) == {"type": "free_text", "text": text}


def test_free_text_examples():
    p = ts.ft8_pack_free_text("HELLO")
    assert field(p, 0, 71) == free_text_value("HELLO" + " " * 8)
    assert ts.ft8_unpack(p) == {"type": "free_text", "text": "HELLO"}
    assert ts.ft8_unpack(ts.ft8_pack_free_text("  HI"))["text"] == "HI"
    assert ts.ft8_unpack(ts.ft8_pack_free_text("ABCDEFGHIJKLM"))["text"] == "ABCDEFGHIJKLM"
    assert ts.ft8_unpack(ts.ft8_pack_free_text("+-./?"))["text"] == "+-./?"
    assert ts.ft8_unpack(bytes(10)) == {"type": "free_text", "text": ""}
    assert ts.ft8_pack_free_text("") == bytes(10)


@pytest.mark.parametrize("text", ["ABCDEFGHIJKLMN", "hello", "HELLO!", "A_B", "\u00c4", "TAB\t", "A,B"])
def test_free_text_refused(text):
    with pytest.raises(ValueError) as e:
        ts.ft8_pack_free_text(text)
    assert str(e.value) == FREE_TEXT_ERR


# ---------------------------------------------------------------- telemetry

def test_telemetry_round_trip(rng):
    for _ in range(300):
        data = bytearray(rng.integers(0, 256, size=9, dtype=int).tolist())
        data[0] &= 0x7F
        data = bytes(data)
        p = ts.ft8_pack_telemetry(data)
        assert p == write_fields((int.from_bytes(data, "big"), 71), (5, 3), (0, 3))
        assert ts.ft8_unpack(p) == {"type": "telemetry", "data": data}


@pytest.mark.parametrize("n", [0, 1, 8, 10, 100])
def test_telemetry_length(n):
    with pytest.raises(ValueError) as e:
        ts.ft8_pack_telemetry(bytes(n))
    assert str(e.value) == f"ft8_pack_telemetry: expected 9 bytes, got {n}"


@pytest.mark.parametrize("first", [0x80, 0xFF, 0x9F])
def test_telemetry_top_bit_refused(first):
    # Only 71 bits fit: the top bit would be dropped.
    with pytest.raises(ValueError) as e:
        ts.ft8_pack_telemetry(bytes([first]) + bytes(8))
    assert str(e.value).startswith("ft8_pack_telemetry: ")


# ---------------------------------------------------------------- other message types

def nonstd_number(call):
    n = 0
    for c in call:
        n = n * 38 + A38.index(c)
    return n


@pytest.mark.parametrize("call", ["PJ4/K1ABC", "Q4/Q1ABC/P", "ABCDEFGHIJK", "A", "/"])
def test_nonstd_unpack(call):
    n58 = nonstd_number(call)
    codes = {0: "", 1: "RRR", 2: "RR73", 3: "73"}
    for flip in (0, 1):
        for code, extra in codes.items():
            p = write_fields((1234, 12), (n58, 58), (flip, 1), (code, 2), (0, 1), (4, 3))
            d = ts.ft8_unpack(p)
            assert list(d) == ["type", "call_to", "call_de", "extra"]
            want = ("<...>", call) if flip == 0 else (call, "<...>")
            assert d == {"type": "nonstd", "call_to": want[0], "call_de": want[1], "extra": extra}
        p = write_fields((0, 12), (n58, 58), (flip, 1), (3, 2), (1, 1), (4, 3))
        want_de = call if flip == 0 else "<...>"
        assert ts.ft8_unpack(p) == {"type": "nonstd", "call_to": "CQ", "call_de": want_de,
                                    "extra": ""}


def test_unknown_types(rng):
    for _ in range(50):
        body = int(rng.integers(0, 2**62)) << 12 | int(rng.integers(0, 2**12))
        for i3 in (3, 5, 6, 7):
            p = write_fields((body & (2**74 - 1), 74), (i3, 3))
            assert ts.ft8_unpack(p) == {"type": "unknown", "payload": p}
        for sub in (1, 2, 3, 4, 6, 7):
            p = write_fields((body & (2**71 - 1), 71), (sub, 3), (0, 3))
            d = ts.ft8_unpack(p)
            assert list(d) == ["type", "payload"]
            assert d == {"type": "unknown", "payload": p} and type(d["payload"]) is bytes
    # trailing bits are kept as received
    p = bytes(9) + b"\x1f"
    assert field(p, 74, 3) == 3
    assert ts.ft8_unpack(p)["payload"] == p


@pytest.mark.parametrize("n", [0, 9, 11])
def test_unpack_length(n):
    with pytest.raises(ValueError) as e:
        ts.ft8_unpack(bytes(n))
    assert str(e.value) == f"ft8_unpack: expected 10 bytes, got {n}"


def test_result_key_order():
    assert list(ts.ft8_unpack(pack_standard("CQ", "X1ABC", "FN31"))) == ["type", "call_to", "call_de",
                                                                         "extra"]
    assert list(ts.ft8_unpack(ts.ft8_pack_free_text("HI"))) == ["type", "text"]
    assert list(ts.ft8_unpack(ts.ft8_pack_telemetry(bytes(9)))) == ["type", "data"]


# ---------------------------------------------------------------- surface and argument rules

def test_docstrings():
    assert ts.ft8_pack_standard.__text_signature__ == "(call_to, call_de, extra)"
    assert ts.ft8_pack_standard.__doc__ == (
        "Pack a standard FT8 message (two callsigns + extra) \u2192 bytes[10].\n\n"
        "`extra` may be a Maidenhead grid (\"FN31\"), signal report (\"+07\", \"-12\"),\n"
        "R-prefixed report (\"R+05\"), or token (\"RRR\", \"RR73\", \"73\").")
    assert ts.ft8_pack_free_text.__text_signature__ == "(text)"
    assert ts.ft8_pack_free_text.__doc__ == (
        "Pack a free-text FT8 message (up to 13 chars, base-42) \u2192 bytes[10].")
    assert ts.ft8_pack_telemetry.__text_signature__ == "(data)"
    assert ts.ft8_pack_telemetry.__doc__ == (
        "Pack a telemetry FT8 message (9 bytes of arbitrary data) \u2192 bytes[10].")
    assert ts.ft8_unpack.__text_signature__ == "(payload)"
    assert ts.ft8_unpack.__doc__ == (
        "Unpack a 10-byte FT8/FT4 payload \u2192 dict.\n\n"
        "Standard:   {\"type\": \"standard\", \"call_to\": str, \"call_de\": str, \"extra\": str}\n"
        "FreeText:   {\"type\": \"free_text\", \"text\": str}\n"
        "Telemetry:  {\"type\": \"telemetry\", \"data\": bytes}\n"
        "Unknown:    {\"type\": \"unknown\", \"payload\": bytes}")
    for name in ["ft8_pack_standard", "ft8_pack_free_text", "ft8_pack_telemetry", "ft8_unpack"]:
        assert name in ts.__all__ and getattr(ts, name).__name__ == name


def test_keywords():
    p = ts.ft8_pack_standard(extra="FN42", call_de="X1ABC", call_to="CQ")
    assert p == ts.ft8_pack_standard("CQ", "X1ABC", "FN42")
    assert ts.ft8_unpack(payload=p)["call_de"] == "X1ABC"
    assert ts.ft8_pack_free_text(text="HI") == ts.ft8_pack_free_text("HI")
    assert ts.ft8_pack_telemetry(data=bytes(9)) == ts.ft8_pack_telemetry(bytes(9))


@pytest.mark.parametrize("call,msg", [
    (lambda: ts.ft8_pack_telemetry(bytearray(9)),
     "argument 'data': 'bytearray' object is not an instance of 'bytes'"),
    (lambda: ts.ft8_pack_telemetry(list(range(9))),
     "argument 'data': 'list' object is not an instance of 'bytes'"),
    (lambda: ts.ft8_pack_telemetry("abcdefghi"),
     "argument 'data': 'str' object is not an instance of 'bytes'"),
    (lambda: ts.ft8_unpack(bytearray(10)),
     "argument 'payload': 'bytearray' object is not an instance of 'bytes'"),
    (lambda: ts.ft8_unpack([0] * 10),
     "argument 'payload': 'list' object is not an instance of 'bytes'"),
    (lambda: ts.ft8_unpack(memoryview(bytes(10))),
     "argument 'payload': 'memoryview' object is not an instance of 'bytes'"),
    (lambda: ts.ft8_pack_free_text(b"HELLO"),
     "argument 'text': 'bytes' object is not an instance of 'str'"),
    (lambda: ts.ft8_pack_standard("CQ", 12345, "FN31"),
     "argument 'call_de': 'int' object is not an instance of 'str'"),
    (lambda: ts.ft8_pack_standard("CQ", "X1ABC", None),
     "argument 'extra': 'None' is not an instance of 'str'"),
    (lambda: ts.ft8_pack_standard(b"CQ", 1, 2),
     "argument 'call_to': 'bytes' object is not an instance of 'str'"),
    (lambda: ts.ft8_pack_standard("CQ", "X1ABC"),
     "ft8_pack_standard() missing 1 required positional argument: 'extra'"),
    (lambda: ts.ft8_pack_standard("CQ"),
     "ft8_pack_standard() missing 2 required positional arguments: 'call_de' and 'extra'"),
    (lambda: ts.ft8_pack_standard("CQ", "X1ABC", "FN31", "x"),
     "ft8_pack_standard() takes 3 positional arguments but 4 were given"),
    (lambda: ts.ft8_pack_standard("CQ", "X1ABC", "FN31", grid="x"),
     "ft8_pack_standard() got an unexpected keyword argument 'grid'"),
    (lambda: ts.ft8_pack_standard("CQ", "X1ABC", "FN31", call_to="CQ"),
     "ft8_pack_standard() got multiple values for argument 'call_to'"),
    (lambda: ts.ft8_pack_free_text(),
     "ft8_pack_free_text() missing 1 required positional argument: 'text'"),
    (lambda: ts.ft8_pack_free_text("A", "B"),
     "ft8_pack_free_text() takes 1 positional arguments but 2 were given"),
    (lambda: ts.ft8_pack_telemetry(),
     "ft8_pack_telemetry() missing 1 required positional argument: 'data'"),
    (lambda: ts.ft8_unpack(bytes(10), bytes(10)),
     "ft8_unpack() takes 1 positional arguments but 2 were given"),
    (lambda: ts.ft8_unpack(data=bytes(10)),
     "ft8_unpack() got an unexpected keyword argument 'data'"),
])
def test_argument_errors(call, msg):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == msg


def test_conversion_error_has_cause():
    with pytest.raises(TypeError) as e:
        ts.ft8_unpack(bytearray(10))
    assert isinstance(e.value.__cause__, TypeError)
    assert str(e.value.__cause__) == "'bytearray' object is not an instance of 'bytes'"


def test_bytes_subclass_accepted():
    class B(bytes):
        pass

    p = ts.ft8_pack_standard("CQ", "X1ABC", "FN31")
    assert ts.ft8_unpack(B(p)) == ts.ft8_unpack(p)
    d = ts.ft8_unpack(B(bytes(9) + b"\x18"))
    assert type(d["payload"]) is bytes


def test_inputs_not_leaked():
    import sys

    p = ts.ft8_pack_standard("CQ", "X1ABC", "FN31")
    short = bytes(range(9))
    before = sys.getrefcount(p), sys.getrefcount(short)
    for _ in range(100):
        ts.ft8_unpack(p)
        ts.ft8_pack_telemetry(short)
        with pytest.raises(ValueError):
            ts.ft8_unpack(short)
    assert (sys.getrefcount(p), sys.getrefcount(short)) == before
