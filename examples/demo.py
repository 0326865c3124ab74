"""Parses the sample dialogue and renders each line for a terminal."""

from pathlib import Path

from marquill_parsing import parse_str

WIDTH = 60
VARIABLES = {"player": "Ada", "days": "three", "captain": "Ørsted"}


def pixel_space(argument: str) -> str:
    """[pixel n] as spaces, a column for every two pixels and at most a line's
    width. The markup takes any argument, even none: one that is not a whole
    number moves nothing."""
    try:
        pixels = int(argument)
    except ValueError:
        return ""
    return " " * min(WIDTH, max(1, pixels // 2))


def render(line: str) -> str:
    """Puts the k-th rendered tag in place of the k-th placeholder."""
    template, tags = parse_str(line)
    pieces = template.split("{}")  # plain text never holds "{}": a '{' before a '}' opens a block
    out = [pieces[0]]
    align = "left"
    for (kind, value), piece in zip(tags, pieces[1:], strict=True):
        if kind == b"a" and value in ("center", "left", "right"):
            align = value
        elif kind == b"a":
            out.append(pixel_space(value))
        elif kind == b"r":
            out.append(VARIABLES.get(value, "{" + value + "}"))
        elif kind in (b"s", b"f"):
            out.append(f"<{value}>")
        out.append(piece)
    text = "".join(out)
    return {"center": text.center, "right": text.rjust}.get(align, text.ljust)(WIDTH)


def main() -> None:
    for line in (Path(__file__).parent / "dialogue.txt").read_text(encoding="utf-8").splitlines():
        template, tags = parse_str(line)
        print(f"line:     {line}")
        print(f"template: {template}")
        print(f"tags:     {tags}")
        print(f"rendered: |{render(line)}|")
        print()


if __name__ == "__main__":
    main()
