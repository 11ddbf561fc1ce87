import pathlib
import random
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).parent))


def random_walks(count: int, points: int, seed: int) -> list[list[float]]:
    rng = random.Random(seed)
    walks: list[list[float]] = []
    for _ in range(count):
        level, walk = 0.0, list[float]()
        for _ in range(points):
            level += rng.gauss(0.0, 1.0)
            walk.append(level)
        walks.append(walk)
    return walks


@pytest.fixture
def walks() -> list[list[float]]:
    return random_walks(8, 240, seed=1)
