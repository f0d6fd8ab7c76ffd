"""Module entry, registration order and naming."""

import importlib.util
import shutil
import subprocess
import sys
import textwrap

import pytest

import tarsk_sdr as t

REGISTRATION_ORDER = [
    "CwEnvelopeDemod", "AmEnvelopeDemod", "SsbProductDemod", "FmQuadratureDemod",
    "PmQuadratureDemod", "BpskDemod", "QpskDemod", "QamDemod", "AmDsbMod", "CwKeyedMod",
    "FmPhaseAccumMod", "PmDirectPhaseMod", "SsbPhasingMod", "BpskMod", "QpskMod", "QamMod",
    "Ft8Mod", "Ft8Demod", "Ft8Codec", "Ft4Mod", "Ft4Demod", "Ft4Codec", "ft8_sync", "ft4_sync",
    "ft8_pack_standard", "ft8_pack_free_text", "ft8_pack_telemetry", "ft8_unpack",
    "VaricodeEncoder", "VaricodeDecoder", "Bpsk31Mod", "Qpsk31Mod", "Bpsk31Demod",
    "Qpsk31Demod", "psk31_sync",
]


def test_all_follows_the_registration_order():
    assert len(REGISTRATION_ORDER) == 35
    assert t.__all__ == [name for name in REGISTRATION_ORDER if name in t.__all__]
    assert {"VaricodeEncoder", "VaricodeDecoder"} <= set(t.__all__)


def test_public_names_are_exactly_all():
    public = {name for name in dir(t) if not name.startswith("_")}
    assert public == set(t.__all__)


def test_module_docstring_is_empty_text():
    assert t.__doc__ == ""


def test_class_and_function_naming():
    assert len({id(getattr(t, name)) for name in t.__all__}) == len(t.__all__)
    for name in t.__all__:
        obj = getattr(t, name)
        assert obj.__name__ == name
        if isinstance(obj, type):
            assert obj.__module__ == "builtins"
            assert obj.__qualname__ == name
        else:
            assert obj.__module__ == "tarsk_sdr"


def test_text_signatures_and_docstrings():
    assert t.VaricodeEncoder.__text_signature__ == "()"
    assert t.VaricodeEncoder.__doc__ == ""  # no body after the signature block
    assert t.VaricodeEncoder.push_byte.__doc__ is None
    assert t.VaricodeEncoder.push_byte.__text_signature__ == "($self, b)"
    assert t.VaricodeEncoder.drain_bits.__doc__ == "Drain all pending bits into a uint8 numpy array."
    assert t.VaricodeDecoder.push_bits.__doc__ == "Feed a uint8 numpy array of bits (0/1) into the decoder."
    assert t.VaricodeDecoder.pop_bytes.__doc__ == "Drain all decoded bytes as a Python `bytes` object."


def test_second_module_object_shares_the_type_objects():
    spec = importlib.util.find_spec("tarsk_sdr")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    assert module.__all__ == t.__all__
    assert module.VaricodeEncoder is t.VaricodeEncoder


def test_foreign_all_fails_the_execution_step():
    spec = importlib.util.find_spec("tarsk_sdr")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ("x",)
    with pytest.raises(TypeError, match=r"^'tuple' object is not an instance of 'list'$"):
        spec.loader.exec_module(module)


def test_existing_all_list_is_extended():
    spec = importlib.util.find_spec("tarsk_sdr")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ["x"]
    spec.loader.exec_module(module)
    assert module.__all__ == ["x"] + t.__all__


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm")
def test_only_the_module_entry_is_exported():
    out = subprocess.run(["nm", "-D", "--defined-only", t.__file__], capture_output=True, text=True, check=True)
    symbols = {line.split()[-1] for line in out.stdout.splitlines() if line.split()[-2] in "TDBRVWu"}
    assert symbols == {"PyInit_tarsk_sdr"}


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True)


def test_numpy_is_not_imported_until_an_array_is_used():
    out = run_python("""
        import sys, tarsk_sdr
        print("numpy" in sys.modules)
        tarsk_sdr.VaricodeEncoder().push_byte(1)
        print("numpy" in sys.modules)
        tarsk_sdr.VaricodeEncoder().drain_bits()
        print("numpy" in sys.modules)
    """)
    assert out.stdout.split() == ["False", "False", "True"], out.stderr


@pytest.mark.parametrize(
    "setup, cause",
    [
        ('sys.modules["numpy"] = None', "ModuleNotFoundError: import of numpy halted; None in sys.modules"),
        ("sys.path.insert(0, broken)", "RuntimeError: half-installed"),
    ],
    ids=["missing", "broken"],
)
def test_numpy_that_cannot_be_imported_is_an_import_error_with_its_cause(tmp_path, setup, cause):
    (tmp_path / "numpy").mkdir()
    (tmp_path / "numpy" / "__init__.py").write_text("raise RuntimeError('half-installed')\n")
    out = run_python(f"""
        import sys
        broken = {str(tmp_path)!r}
        {setup}
        import tarsk_sdr
        e = tarsk_sdr.VaricodeEncoder()
        e.push_byte(0x65)
        try:
            e.drain_bits()
        except ImportError as error:
            print(error, "|", type(error.__cause__).__name__ + ":", error.__cause__)
        print(e.is_empty())
    """)
    assert out.stdout.splitlines() == [f"Failed to access NumPy array API capsule | {cause}", "False"], out.stderr


def test_type_reference_counts_are_stable_over_create_and_delete():
    for name in ("VaricodeEncoder", "BpskDemod", "QamMod"):
        cls = getattr(t, name, None)
        if cls is None:
            continue
        args = {"VaricodeEncoder": (), "BpskDemod": (1.0,), "QamMod": (16, 48000.0, 0.0, 1.0)}[name]
        before = sys.getrefcount(cls)
        for _ in range(1000):
            obj = cls(*args)
            del obj
        with pytest.raises(TypeError):
            cls(*args, None, None, None, None, None)
        assert sys.getrefcount(cls) == before, name
