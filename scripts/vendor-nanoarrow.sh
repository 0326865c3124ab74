#!/usr/bin/env bash
# Refreshes src/third_party/nanoarrow from nanoarrow's sdist on PyPI, which
# holds the C library's sources: bundled into two headers and one source
# file, compiled as C++, its symbols prefixed so that they never meet another
# copy of nanoarrow loaded into the same process (pyarrow's, nanoarrow's own
# Python package), and its includes written from src/, as the parser's are.
#   scripts/vendor-nanoarrow.sh            the pinned version below
#   scripts/vendor-nanoarrow.sh 0.10.0 <sha256 of its sdist>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=${1:-0.9.0}
sha256=${2:-1ce15bbed8532839347faa78824c5dbd3769bff60661003e34c6fba5dd881bd3}
out=$root/src/third_party/nanoarrow
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 -m pip download -q --no-binary :all: --no-deps --no-build-isolation -d "$work" "nanoarrow==$version"
echo "$sha256  $work/nanoarrow-$version.tar.gz" | sha256sum --check --quiet -
tar xzf "$work/nanoarrow-$version.tar.gz" -C "$work"
source_tree=$work/nanoarrow-$version/subprojects/arrow-nanoarrow
python3 "$source_tree/ci/scripts/bundle.py" --cpp --symbol-namespace MarquillArrow \
    --header-namespace third_party/nanoarrow/ --include-output-dir "$root/src" --source-output-dir "$out"
# Darwin's math.h takes float.h for its infinity and NaN alone, and libc++'s
# float.h, guarded, then keeps DBL_MAX out of every later include: give it
# from the compiler's own macro where it is missing (macOS 10.13 and 11 SDKs).
python3 - "$out/nanoarrow.h" <<'PY'
import sys
from pathlib import Path
header = Path(sys.argv[1])
text = header.read_text()
fallback = "#include <float.h>\n#ifndef DBL_MAX\n#define DBL_MAX __DBL_MAX__\n#endif\n"
assert text.count("#include <float.h>\n") == 1, "nanoarrow.h: expected one #include <float.h>"
header.write_text(text.replace("#include <float.h>\n", fallback))
PY
sed -i "s/^nanoarrow [0-9.]*, .*/nanoarrow $version, sdist sha256 $sha256/" "$out/README.md"
echo "src/third_party/nanoarrow: nanoarrow $version"
