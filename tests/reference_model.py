"""Reference model of the markup parser, written for differential testing.

The parser splits one line of display text into a template, in which every
markup element is replaced by the placeholder "{}", and the list of those
elements, in the same order, each as a pair of a one-letter kind and a value.
The model works on the UTF-8 bytes of the line; every markup character is
ASCII, so no cut ever falls inside a multi-byte sequence.  Every input
parses: whatever is not markup stays in the template as plain text.  NUL is
plain text like any other byte.

The line is read once from left to right.  At each byte the first of these
rules that applies is used:

1. Raw block, at '{'.  If no '}' comes anywhere after it, the '{' is plain
   text.  Otherwise the block runs from the '{' to its end: take the first
   '}' after the '{', then the first '{' after that '}' (or the end of the
   line); the block ends at the last '}' before that point.  Everything
   between the outer braces is the value, taken verbatim (braces and
   brackets included), with kind 'r'.  The scan resumes after the block.

2. Fixed tag, at '['.  The bytes after the '[' are exactly one of the
   matches of FIXED_TAGS, such as center] (kind 'a') or nowrap] (kind 't').
   The value is the word without the ']'.  Matching is exact and
   case-sensitive.

3. Argument tag opener, at '['.  The bytes after the '[' are exactly one of
   the matches of ARGUMENT_TAGS, such as "pixel " (kind 'a') or "font "
   (kind 'f'), with one space.  The opener appends nothing yet: it becomes
   the open argument tag, and the scan goes on with the first byte after the
   space.

4. Argument tag close, at ']' while an argument tag is open.  The tag spans
   from its opener's '[' to this ']'; its value is every byte between the
   opener's space and this ']' (possibly empty).

5. Anything else is plain text.

At most one argument tag is open at a time, and it is forgotten whenever any
other element is recognised before it closes: a new opener, a fixed tag or a
raw block.  A forgotten opener stays in the template as plain bytes, and a
']' with no open argument tag is plain text, as is an argument tag still open
at the end of the line.  Elements therefore never overlap, and the template
is the line with each element's byte span replaced by "{}".
"""

# The bytes that must follow the '[' of each tag, with the tag's kind: the
# keyword table of src/parser/keywords.hpp, from which the tests take every
# keyword (tests/python/test_keywords.py, the fragments of
# tests/python/test_differential.py).
FIXED_TAGS = (
    (b"center]", b"a"),
    (b"left]", b"a"),
    (b"right]", b"a"),
    (b"nowrap]", b"t"),
    (b"passport]", b"t"),
    (b"autowrap]", b"t"),
    (b"noautowrap]", b"t"),
)

ARGUMENT_TAGS = (
    (b"pixel ", b"a"),
    (b"style ", b"s"),
    (b"font ", b"f"),
)

# an element: (kind, value, l, r), l and r the indices of its first and last byte
Tag = tuple[bytes, bytes, int, int]

OPEN_BRACE = ord("{")
OPEN_BRACKET, CLOSE_BRACKET = ord("["), ord("]")


def raw_block_end(data: bytes, p: int) -> int:
    """Index of the '}' that ends the raw block opened by the '{' at p.

    A '}' must follow p.  The block ends at the last '}' before the first
    '{' that comes after the block's first '}'.
    """
    first_close = data.index(b"}", p)
    stop = data.find(b"{", first_close)
    if stop == -1:
        stop = len(data)
    return data.rindex(b"}", first_close, stop)


def fixed_tag_at(data: bytes, i: int) -> tuple[bytes, bytes, int] | None:
    """(kind, word, r) of the fixed tag whose '[' is at i, or None.

    word is the tag's name without brackets and r the index of its ']'.
    """
    for match, kind in FIXED_TAGS:
        if data.startswith(match, i + 1):
            return kind, match[:-1], i + len(match)
    return None


def opener_at(data: bytes, i: int) -> tuple[bytes, int, int] | None:
    """(kind, l, args_l) of the argument tag opener whose '[' is at i, or None.

    l is the index of the '[' and args_l that of the argument's first byte.
    """
    for match, kind in ARGUMENT_TAGS:
        if data.startswith(match, i + 1):
            return kind, i, i + 1 + len(match)
    return None


def scan(data: bytes) -> list[Tag]:
    """The elements of data as (kind, value, l, r), with inclusive spans."""
    tags: list[Tag] = []
    last_close = data.rfind(b"}")
    open_tag: tuple[bytes, int, int] | None = None
    i = 0
    while i < len(data):
        byte = data[i]
        if byte == OPEN_BRACE and i < last_close:
            r = raw_block_end(data, i)
            tags.append((b"r", data[i + 1 : r], i, r))
            open_tag, i = None, r + 1
        elif byte == OPEN_BRACKET and (fixed := fixed_tag_at(data, i)):
            kind, word, r = fixed
            tags.append((kind, word, i, r))
            open_tag, i = None, r + 1
        elif byte == OPEN_BRACKET and (opener := opener_at(data, i)):
            open_tag, i = opener, opener[2]
        elif byte == CLOSE_BRACKET and open_tag:
            kind, l, args_l = open_tag
            tags.append((kind, data[args_l:i], l, i))
            open_tag, i = None, i + 1
        else:
            i += 1
    return tags


def template(data: bytes, tags: list[Tag]) -> bytes:
    """data with the span of every tag replaced by the placeholder "{}"."""
    pieces: list[bytes] = []
    prev = 0
    for _, _, l, r in tags:
        pieces += (data[prev:l], b"{}")
        prev = r + 1
    pieces.append(data[prev:])
    return b"".join(pieces)


def parse_spans(data: bytes) -> tuple[bytes, list[Tag]]:
    """Template bytes and the elements as (kind, value, l, r).

    l and r are the byte indices of the element's first and last byte in
    data (its '[' or '{' and its ']' or '}').
    """
    tags = scan(data)
    return template(data, tags), tags


def parse(text: str) -> tuple[str, list[tuple[bytes, str]]]:
    """Template and (kind, value) pairs for one line of marked-up text.

    The line is encoded to UTF-8 strictly, so a lone surrogate raises
    UnicodeEncodeError.
    """
    text_bytes, tags = parse_spans(text.encode("utf-8"))
    return text_bytes.decode("utf-8"), [(kind, value.decode("utf-8")) for kind, value, _, _ in tags]
