"""The module in subinterpreters, each with a GIL of its own: imported,
called, and many of them created and closed."""

import json
import textwrap

import pytest

from marquill_parsing import parse_str
from support import SAMPLE_LINES, UNDER_SANITIZER, run_child

interpreters = pytest.importorskip(
    "concurrent.interpreters", reason="needs concurrent.interpreters (CPython 3.14 or newer)"
)
from concurrent.futures import InterpreterPoolExecutor  # noqa: E402  (there since the same version)


def test_imports_and_parses_in_an_interpreter_of_its_own():
    interpreter = interpreters.create()
    try:
        interpreter.exec("import marquill_parsing")
        results = [interpreter.call(parse_str, line) for line in SAMPLE_LINES]
    finally:
        interpreter.close()
    assert results == [parse_str(line) for line in SAMPLE_LINES]


def test_a_pool_of_two_interpreters_gives_what_the_main_one_gives():
    lines = SAMPLE_LINES * 50
    with InterpreterPoolExecutor(2) as pool:
        results = list(pool.map(parse_str, lines))
    assert results == [parse_str(line) for line in lines]


# Run in a child, so that a crash fails the test rather than the run and the
# counts start from a quiet interpreter. The same churn runs twice: the
# interpreters of the control parse nothing, those of the module import it
# and parse every line; what the control's grow by is the interpreter's own,
# and the module may add nothing to it. Two counts: sys.getallocatedblocks()
# (the interpreter's small-object allocator; it keeps counting the blocks an
# interpreter had not freed when it was closed) and the bytes malloc hands
# out (the module's own allocations and larger objects), where glibc says.
CHURN = textwrap.dedent("""
    import gc, json, sys
    from concurrent import interpreters
    from support import MALLINFO2, malloced

    SAMPLE_LINES = json.loads(sys.argv[1])
    COUNT = int(sys.argv[2])
    WORK = {
        "control": f"for line in {SAMPLE_LINES!r}: line.partition('[')",
        "module": f"from marquill_parsing import parse_str\\nfor line in {SAMPLE_LINES!r}: parse_str(line)",
    }

    def usage():
        gc.collect()
        return [sys.getallocatedblocks(), malloced() if MALLINFO2 else None]

    def churn(work, count):
        for _ in range(count):
            interpreter = interpreters.create()
            try:
                interpreter.exec(work)
            finally:
                interpreter.close()

    for work in WORK.values():
        churn(work, 30)  # the interpreter's own tables grow over the first few dozen
    growth = {}
    for name, work in WORK.items():
        before = usage()
        churn(work, COUNT)
        after = usage()
        growth[name] = [None if b is None else a - b for a, b in zip(after, before)]
    print(json.dumps(growth))
""")


def test_many_interpreters_created_used_and_closed_leave_nothing_behind():
    count = 100
    growth = json.loads(run_child(CHURN, json.dumps(SAMPLE_LINES), count))
    if UNDER_SANITIZER:
        return  # PYTHONMALLOC=malloc and the sanitizer's malloc count nothing of the above
    (control_blocks, control_bytes), (module_blocks, module_bytes) = growth["control"], growth["module"]
    # a leak of one object per interpreter would show as `count` blocks
    assert module_blocks - control_blocks < count // 2, growth
    if module_bytes is not None:
        assert module_bytes - control_bytes < count * 256, growth
