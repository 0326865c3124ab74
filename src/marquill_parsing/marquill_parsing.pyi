"""Splits a line of marked-up display text into a template and its tags.

``parse_str(line)`` returns the line with every tag replaced by ``{}`` and
the tags in order as ``(kind, value)`` pairs, for a caller to render and put
back by position. Pure, stateless and safe to call from any number of
threads at once.
"""

__version__: str

def parse_str(text: str, /) -> tuple[str, list[tuple[bytes, str]]]:
    """Split one line of markup into ``(template, tags)``.

    The template is ``text`` with each recognised tag replaced by ``{}``;
    ``tags`` holds one ``(kind, value)`` pair per placeholder, in order. Kinds
    are one-byte ``bytes`` (compare with ``b"a"``, not ``"a"``):

    - ``b"a"`` layout: ``[center]``, ``[left]``, ``[right]``, and ``[pixel N]``
      whose value is its argument;
    - ``b"s"`` ``[style X]`` and ``b"f"`` ``[font X]``, valued by the argument;
    - ``b"t"`` text flow: ``[nowrap]``, ``[passport]``, ``[autowrap]``,
      ``[noautowrap]``;
    - ``b"r"`` a raw block ``{...}``, valued by the text between the braces.

    Anything else, including unknown or unfinished tags, stays in the
    template as plain text. A line without tags comes back as its own
    template with an empty list.

    >>> parse_str("Hello [center]{name}!")
    ('Hello {}{}!', [(b'a', 'center'), (b'r', 'name')])

    Raises ``TypeError`` if ``text`` is not a ``str``, and
    ``UnicodeEncodeError`` if it holds a lone surrogate.
    """
