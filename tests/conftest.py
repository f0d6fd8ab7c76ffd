import zlib

import numpy as np
import pytest


@pytest.fixture
def rng(request):
    """Random generator seeded from the test id, so every test is repeatable on its own."""
    return np.random.default_rng(zlib.crc32(request.node.nodeid.encode()))
