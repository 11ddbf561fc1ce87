"""The README's first screen: its Python example prints what the README says it does."""

import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text()


def test_the_python_example_gives_the_results_written_beside_it() -> None:
    example = re.search(r"```python\n(.*?)```", README, re.S)
    assert example is not None
    code = example.group(1)
    claims = {
        name: value
        for name, value in re.findall(r"^(\w+)\s+# ((?:Motifs|Motif)\(.*\))$", code, re.M)
    }
    assert set(claims) == {"motifs", "best"}
    namespace: dict[str, object] = {}
    exec(compile(code, "README.md", "exec"), namespace)
    for name, value in claims.items():
        assert repr(namespace[name]) == value


def test_the_alignment_figures_are_what_the_script_prints() -> None:
    run = subprocess.run(
        [sys.executable, str(ROOT / "examples" / "alignment.py")],
        capture_output=True,
        text=True,
        check=True,
    )
    assert "wave planted anywhere: first motif on it ranks 32 of 34" in run.stdout
    assert "ranks 32nd of 34 motifs" in README
