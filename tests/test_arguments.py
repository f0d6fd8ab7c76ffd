"""Argument matching, conversion and array rules shared by every class and function.

The matching tests run over every registered name through its text signature, so
each class or function that joins the module is checked by them automatically.
"""

import ctypes
import inspect
import mmap
import os
import platform
import sys
import threading

import numpy as np
import pytest

import tarsk_sdr as t

# Valid constructor arguments, so that methods can be reached on a live object.
CONSTRUCT = {
    "VaricodeEncoder": (),
    "VaricodeDecoder": (),
    "BpskMod": (48000.0, 1000.0, 1.0),
    "QpskMod": (48000.0, 1000.0, 1.0),
    "QamMod": (16, 48000.0, 1000.0, 1.0),
    "BpskDemod": (1.0,),
    "QpskDemod": (1.0,),
    "QamDemod": (16, 1.0),
    "Ft8Codec": (),
    "Ft4Codec": (),
    "Ft8Mod": (12000.0, 1000.0, 0.0, 1.0),
    "Ft8Demod": (12000.0, 1000.0),
    "Ft4Mod": (12000.0, 1000.0, 0.0, 1.0),
    "Ft4Demod": (12000.0, 1000.0),
    "CwEnvelopeDemod": (48000.0, 700.0, 50.0),
    "AmEnvelopeDemod": (48000.0, 3000.0),
    "SsbProductDemod": (48000.0, 1000.0, 2500.0),
    "FmQuadratureDemod": (48000.0, 2000.0, 3000.0),
    "PmQuadratureDemod": (48000.0, 1.0, 3000.0),
    "AmDsbMod": (48000.0, 1000.0, 1.0, 0.5),
    "CwKeyedMod": (48000.0, 700.0, 5.0, 5.0),
    "FmPhaseAccumMod": (48000.0, 5000.0, 1000.0),
    "PmDirectPhaseMod": (48000.0, 2.0, 1000.0),
    "SsbPhasingMod": (48000.0, 1500.0, 1700.0, 3000.0, True),
}


def need(name):
    if not hasattr(t, name):
        pytest.skip(f"{name} is not built yet")
    return getattr(t, name)


def callables():
    """(display name, callable, parameters) for every constructor, method and function."""
    out = []
    for name in t.__all__:
        obj = getattr(t, name)
        if not isinstance(obj, type):
            out.append((f"{name}()", obj, list(inspect.signature(obj).parameters.values())))
            continue
        out.append((f"{name}.__new__()", obj, list(inspect.signature(obj).parameters.values())))
        if name not in CONSTRUCT:
            continue
        instance = obj(*CONSTRUCT[name])
        for attr, member in vars(obj).items():
            if attr.startswith("_") or not callable(member):
                continue
            bound = getattr(instance, attr)
            try:
                params = list(inspect.signature(bound).parameters.values())
            except ValueError:
                continue
            out.append((f"{name}.{attr}()", bound, params))
    return out


CALLABLES = callables()
IDS = [c[0] for c in CALLABLES]


def message(fn, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    return str(info.value)


@pytest.mark.parametrize("display, fn, params", CALLABLES, ids=IDS)
class TestMatching:
    def test_too_many_positional(self, display, fn, params):
        n = len(params)
        required = sum(p.default is inspect.Parameter.empty for p in params)
        given = n + 1
        was = "was" if given == 1 else "were"
        if not params and display.split(".")[-1] in ("drain_bits()", "is_empty()", "pop_bytes()"):
            assert message(fn, None) == f"{display} takes no arguments (1 given)"
            return
        takes = f"from {required} to {n}" if required != n else f"{n}"
        assert message(fn, *[None] * given) == f"{display} takes {takes} positional arguments but {given} {was} given"

    def test_unexpected_keyword(self, display, fn, params):
        if not params and not display.endswith("__new__()"):
            return  # no-argument methods take no keywords at all
        got = message(fn, *[None] * len(params), bogus_kw=1)
        assert got == f"{display} got an unexpected keyword argument 'bogus_kw'"

    def test_multiple_values(self, display, fn, params):
        if params:
            got = message(fn, None, **{params[0].name: None})
            assert got == f"{display} got multiple values for argument '{params[0].name}'"

    def test_missing_required(self, display, fn, params):
        names = [p.name for p in params if p.default is inspect.Parameter.empty]
        if not names:
            return
        quoted = [f"'{n}'" for n in names]
        if len(quoted) == 1:
            listed = quoted[0]
        elif len(quoted) == 2:
            listed = f"{quoted[0]} and {quoted[1]}"
        else:
            listed = ", ".join(quoted[:-1]) + ", and " + quoted[-1]
        s = "s" if len(names) > 1 else ""
        assert message(fn) == f"{display} missing {len(names)} required positional argument{s}: {listed}"


def test_matching_checks_come_in_interpreter_order():
    e = t.VaricodeEncoder()
    # Too many positional wins over a bad keyword; a bad keyword wins over a missing one.
    assert message(e.push_byte, 1, 2, bogus=3).endswith("takes 1 positional arguments but 2 were given")
    assert message(e.push_byte, bogus=3).endswith("got an unexpected keyword argument 'bogus'")
    # Matching happens before any conversion.
    assert message(e.push_byte, "x", b=1).endswith("got multiple values for argument 'b'")


def test_keywords_are_accepted():
    e = t.VaricodeEncoder()
    e.push_preamble(n=2)
    e.push_byte(b=0x65)
    assert e.drain_bits().tolist() == [0, 0, 1, 1]


class TestIntegers:
    def test_accepts_int_and_index_objects(self):
        class Index:
            def __index__(self):
                return 0x20

        e = t.VaricodeEncoder()
        for value in (0x20, np.uint8(0x20), np.int64(0x20), Index()):
            e.push_byte(value)
        e.push_preamble(np.uint64(0))
        assert e.drain_bits().tolist() == [1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0]  # 00 closes the last

    @pytest.mark.parametrize("value", [1.0, 1.5, np.float32(1), "1", None, [1]])
    def test_non_integers_are_wrapped_type_errors(self, value):
        e = t.VaricodeEncoder()
        with pytest.raises(TypeError) as info:
            e.push_byte(value)
        assert str(info.value).startswith("argument 'b': ")
        assert isinstance(info.value.__cause__, TypeError)
        assert str(info.value) == "argument 'b': " + str(info.value.__cause__)
        assert e.is_empty()

    @pytest.mark.parametrize("value", [-1, 256, 2**64, -(2**70)])
    def test_byte_out_of_range(self, value):
        e = t.VaricodeEncoder()
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$") as info:
            e.push_byte(value)
        assert info.value.__cause__ is None
        assert e.is_empty()

    @pytest.mark.parametrize("value", [-1, 2**64, 2**100])
    def test_size_out_of_range(self, value):
        e = t.VaricodeEncoder()
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            e.push_preamble(value)

    @pytest.mark.parametrize("n", [2**62, 2**64 - 1, 2**63])
    @pytest.mark.skipif(
        "libasan" in os.environ.get("LD_PRELOAD", ""),
        reason="AddressSanitizer ends the process where operator new would throw std::bad_alloc",
    )
    def test_hopeless_sizes_fail_at_once_and_change_nothing(self, n):
        e = t.VaricodeEncoder()
        e.push_byte(0x65)
        with pytest.raises(MemoryError):
            e.push_preamble(n)
        with pytest.raises(MemoryError):
            e.push_postamble(n)
        e.push_byte(0x65)
        assert e.drain_bits().tolist() == [1, 1, 0, 0, 1, 1]

    def test_unsigned_32_bit_range(self):
        QamMod = need("QamMod")
        for bad in (-1, 2**32):
            with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
                QamMod(bad, 48000.0, 1000.0, 1.0)
        with pytest.raises(TypeError, match="^argument 'order': "):
            QamMod(16.0, 48000.0, 1000.0, 1.0)
        with pytest.raises(ValueError):
            QamMod(2**32 - 1, 48000.0, 1000.0, 1.0)


class TestNumbers:
    def test_accepts_float_int_and_protocol_objects(self):
        BpskMod = need("BpskMod")

        class Float:
            def __float__(self):
                return 48000.0

        class Index:
            def __index__(self):
                return 1000

        BpskMod(Float(), Index(), np.float64(1.0))
        BpskMod(48000, 1000, True)

    @pytest.mark.parametrize("value", ["48000", None, [1.0], 1j])
    def test_non_numbers_are_wrapped_type_errors(self, value):
        BpskMod = need("BpskMod")
        with pytest.raises(TypeError, match="^argument 'fs': ") as info:
            BpskMod(value, 1000.0, 1.0)
        assert isinstance(info.value.__cause__, TypeError)

    def test_overflowing_float_passes_through_unwrapped(self):
        BpskMod = need("BpskMod")
        with pytest.raises(OverflowError):
            BpskMod(10**400, 1000.0, 1.0)


class TestArrayInput:
    def decoder_with_partial_character(self):
        d = t.VaricodeDecoder()
        d.push_bits(np.array([1, 0, 1], np.uint8))
        return d

    def finish(self, d):
        d.push_bits(np.array([1, 0, 0], np.uint8))
        return d.pop_bytes()

    @pytest.mark.parametrize(
        "bad",
        [
            np.zeros(4, np.float64),
            np.zeros(4, np.int8),
            np.zeros(4, np.uint16),
            np.zeros(4, np.bool_),
            np.zeros((4, 1), np.uint8),
            np.zeros((), np.uint8),
            np.uint8(1),
            [1, 0, 1],
            b"\x01",
        ],
        ids=["float64", "int8", "uint16", "bool", "2-D", "0-D", "scalar", "list", "bytes"],
    )
    def test_wrong_type_dtype_or_shape(self, bad):
        d = self.decoder_with_partial_character()
        with pytest.raises(TypeError) as info:
            d.push_bits(bad)
        expected = type(bad).__qualname__
        assert str(info.value) == f"argument 'bits': '{expected}' object is not an instance of 'ndarray'"
        assert self.finish(d) == b"a"

    def test_none(self):
        d = t.VaricodeDecoder()
        assert message(d.push_bits, None) == "argument 'bits': 'None' is not an instance of 'ndarray'"

    def test_strided_view_is_refused_with_state_unchanged(self):
        d = self.decoder_with_partial_character()
        strided = np.array([1, 9, 0, 9, 0, 9], np.uint8)[::2]
        with pytest.raises(TypeError) as info:
            d.push_bits(strided)
        assert str(info.value) == "The given array is not contiguous or is misaligned."
        assert info.value.__cause__ is None
        d.push_bits(np.ascontiguousarray(strided))
        assert d.pop_bytes() == b"a"

    def test_reversed_view_is_refused(self):
        with pytest.raises(TypeError, match="not contiguous"):
            t.VaricodeDecoder().push_bits(np.ones(4, np.uint8)[::-1])

    def test_empty_arrays_of_any_layout(self):
        d = self.decoder_with_partial_character()
        for empty in (np.zeros(0, np.uint8), np.zeros(6, np.uint8)[::2][:0], np.zeros(0, np.uint8)[::-1]):
            d.push_bits(empty)
        assert self.finish(d) == b"a"

    def test_read_only_subclass_and_offset_views_are_read_in_place(self):
        class Tagged(np.ndarray):
            pass

        stream = np.array([0, 1, 0, 1, 1, 0, 0], np.uint8)
        readonly = stream.copy()
        readonly.flags.writeable = False
        for arr in (readonly, stream.view(Tagged), stream[1:]):
            d = t.VaricodeDecoder()
            d.push_bits(arr)
            assert d.pop_bytes() == b"a"

    def test_input_is_not_written_and_no_reference_is_kept(self):
        stream = np.array([1, 0, 1, 1, 0, 0], np.uint8)
        before = stream.copy()
        count = sys.getrefcount(stream)
        d = t.VaricodeDecoder()
        d.push_bits(stream)
        with pytest.raises(TypeError):
            d.push_bits(stream, stream)
        assert sys.getrefcount(stream) == count
        np.testing.assert_array_equal(stream, before)

    def test_large_input(self, rng):
        text = bytes(rng.integers(0, 128, 250_000).tolist())
        e = t.VaricodeEncoder()
        for b in text:
            e.push_byte(b)
        e.push_postamble(2)
        stream = e.drain_bits()
        assert stream.size > 2_000_000
        d = t.VaricodeDecoder()
        d.push_bits(stream)
        assert d.pop_bytes() == text


class TestArrayOutput:
    def test_new_owning_writeable_contiguous(self):
        e = t.VaricodeEncoder()
        e.push_preamble(5)
        first = e.drain_bits()
        e.push_preamble(5)
        second = e.drain_bits()
        for out in (first, second):
            assert type(out) is np.ndarray
            assert out.dtype == np.uint8 and out.ndim == 1
            assert out.flags.owndata and out.flags.writeable and out.flags.c_contiguous
            assert out.base is None
        first[:] = 1
        assert second.tolist() == [0] * 5

    def test_output_survives_its_producer(self):
        e = t.VaricodeEncoder()
        e.push_preamble(3)
        out = e.drain_bits()
        del e
        assert out.tolist() == [0, 0, 0]
        assert sys.getrefcount(out) == 2


class TestFlags:
    """Flag arguments: a bool or a NumPy bool, nothing else."""

    def flag_setters(self):
        found = []
        for name in ("AmDsbMod",):
            if hasattr(t, name):
                found.append(getattr(t, name)(48000.0, 1000.0, 1.0, 0.5).set_clamp)
        if not found:
            pytest.skip("no class with a flag argument is built yet")
        return found

    def test_bool_and_numpy_bool(self):
        for setter in self.flag_setters():
            for value in (True, False, np.bool_(True), np.True_):
                assert setter(value) is None

    @pytest.mark.parametrize("value", [0, 1, 1.0, None, "True"])
    def test_other_values_are_type_errors(self, value):
        for setter in self.flag_setters():
            with pytest.raises(TypeError, match="^argument 'on': .* is not an instance of 'bool'$"):
                setter(value)


class TestDefaults:
    """Defaults written in a text signature, or given by the definition for "..."."""

    def test_flag(self, rng):
        AmEnvelopeDemod = need("AmEnvelopeDemod")
        assert inspect.signature(AmEnvelopeDemod).parameters["abs_approx"].default is False
        iq = (rng.standard_normal(512) + 1j * rng.standard_normal(512)).astype(np.complex64)
        omitted = AmEnvelopeDemod(48000.0, 3000.0).process(iq)
        np.testing.assert_array_equal(omitted, AmEnvelopeDemod(48000.0, 3000.0, False).process(iq))

    def test_given_integers(self):
        Bpsk31Mod = need("Bpsk31Mod")
        omitted = Bpsk31Mod(8000.0, 1000.0, 1.0).modulate_text(b"e")
        np.testing.assert_array_equal(omitted, Bpsk31Mod(8000.0, 1000.0, 1.0).modulate_text(b"e", 32, 32))
        assert len(Bpsk31Mod(8000.0, 1000.0, 1.0).modulate_text(b"e", 0, 0)) < len(omitted)

    def test_integers_and_numbers(self, rng):
        psk31_sync = need("psk31_sync")
        params = inspect.signature(psk31_sync).parameters
        names = ["min_carrier_syms", "peak_margin_db", "n_bits", "max_cand"]
        assert [params[n].default for n in names] == [8, 6.0, 1024, 10]
        iq = (rng.standard_normal(16000) + 1j * rng.standard_normal(16000)).astype(np.complex64)

        def plain(x):
            if isinstance(x, dict):
                return {k: plain(v) for k, v in x.items()}
            if isinstance(x, (list, tuple)):
                return [plain(v) for v in x]
            return x.tolist() if isinstance(x, np.ndarray) else x

        omitted = plain(psk31_sync(iq, 8000.0, 500.0, 2500.0))
        assert omitted == plain(psk31_sync(iq, 8000.0, 500.0, 2500.0, 8, 6.0, 1024, 10))


def process_methods():
    """(class name, bound process, its array parameter) for every constructible class with process()."""
    found = []
    for name, args in CONSTRUCT.items():
        cls = getattr(t, name, None)
        if cls is not None and hasattr(cls, "process"):
            process = cls(*args).process
            found.append((name, process, next(iter(inspect.signature(process).parameters))))
    return found


def test_misaligned_views_are_refused():
    dtypes = {"iq": np.complex64, "audio": np.float32, "bits": np.uint8}
    seen = set()
    for name, process, param in process_methods():
        if dtypes[param] is np.uint8:
            continue  # a byte is always aligned
        raw = np.frombuffer(bytearray(8 * 16 + 1), np.uint8)[1:]
        view = raw.view(dtypes[param])
        assert view.flags.c_contiguous and not view.flags.aligned
        with pytest.raises(TypeError) as info:
            process(view)
        assert str(info.value) == "The given array is not contiguous or is misaligned.", name
        seen.add(param)
    assert "iq" in seen


def test_nul_in_an_error_text_is_shown_escaped():
    e = t.VaricodeEncoder()
    got = message(e.push_byte, **{"b\0x": 1})
    assert got == "VaricodeEncoder.push_byte() got an unexpected keyword argument 'b\\x00x'"
    with pytest.raises(ValueError) as info:
        t.ft8_pack_standard("CQ", "X1ABC", "FN\x0042")
    assert "'FN\\x0042'" in str(info.value)


class TestThreads:
    def test_two_objects_in_two_threads(self, rng):
        BpskMod = need("BpskMod")
        bits = rng.integers(0, 2, 1_000_000, dtype=np.uint8)
        expected = BpskMod(48000.0, 1000.0, 1.0).process(bits)
        results = [None, None]

        def run(i):
            results[i] = BpskMod(48000.0, 1000.0, 1.0).process(bits)

        threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        for out in results:
            np.testing.assert_array_equal(out, expected)

    def test_a_concurrent_call_on_one_object_is_refused(self, rng):
        stream = rng.integers(0, 2, 4_000_000, dtype=np.uint8)
        reference = t.VaricodeDecoder()
        reference.push_bits(stream)
        expected = reference.pop_bytes()
        empty = np.zeros(0, np.uint8)  # changes nothing when it does get in
        refused = []
        for _ in range(20):
            d = t.VaricodeDecoder()
            worker = threading.Thread(target=d.push_bits, args=(stream,))
            worker.start()
            while worker.is_alive() and not refused:
                try:
                    d.push_bits(empty)
                except RuntimeError as error:
                    refused.append(str(error))
            worker.join()
            assert d.pop_bytes() == expected
            if refused:
                break
        assert refused == ["Already borrowed"]


def mxcsr_access():
    """get() and set(value) of the x86-64 MXCSR register, from a few bytes of machine code."""
    if platform.machine().lower() not in ("x86_64", "amd64") or sys.platform == "win32":
        pytest.skip("needs x86-64 with the System V calling convention")
    code = bytes.fromhex(
        "0fae5c24fc" "8b4424fc" "c3"  # stmxcsr [rsp-4]; mov eax, [rsp-4]; ret
        "897c24fc" "0fae5424fc" "c3"  # mov [rsp-4], edi; ldmxcsr [rsp-4]; ret
    )
    try:
        page = mmap.mmap(-1, mmap.PAGESIZE, prot=mmap.PROT_READ | mmap.PROT_WRITE | mmap.PROT_EXEC)
    except (OSError, AttributeError):
        pytest.skip("no executable mapping allowed here")
    page.write(code)
    address = ctypes.addressof(ctypes.c_char.from_buffer(page))
    get = ctypes.CFUNCTYPE(ctypes.c_uint32)(address)
    put = ctypes.CFUNCTYPE(None, ctypes.c_uint32)(address + 10)
    return page, get, put


def test_flush_to_zero_of_the_caller_does_not_reach_the_kernels():
    BpskDemod = need("BpskDemod")
    page, get, put = mxcsr_access()
    ftz_daz = 0x8040
    tiny = np.full(20, -1e-40 + 0j, np.complex64)  # denormal real parts: 16-wide path and tail
    demod = BpskDemod(1.0)
    assert demod.process(tiny).tolist() == [1] * 20
    saved = get()
    put(saved | ftz_daz)
    try:
        # The modes bite: NumPy's own product now reads the denormal as zero.
        assert not (tiny.real * np.float32(1.0) < 0).any()
        out = demod.process(tiny)
        after = get()
    finally:
        put(saved)
    assert out.tolist() == [1] * 20
    status = 0x3F  # sticky exception flags, which NumPy clears as it goes
    assert after & ~status == (saved | ftz_daz) & ~status
    del page
