"""Limits of a 32-bit process, which the package keeps as the core does."""

import sys

import pytest

from zorp_miner import _exact_parts


def test_the_memory_budget_of_a_32_bit_process_stays_within_its_address_space(
    monkeypatch: pytest.MonkeyPatch,
) -> None:
    budget = _exact_parts._native_budget()
    assert 0 < budget <= sys.maxsize
    monkeypatch.setattr(sys, "maxsize", 2**31 - 1)
    assert _exact_parts._native_budget() == min(budget, 2**31 - 1)
