"""Parses the sample dialogue and renders each line for a terminal."""

from pathlib import Path

from marquill_parsing import parse_str

WIDTH = 60
VARIABLES = {"player": "Ada", "days": "three", "captain": "Ørsted"}


def render(line: str) -> str:
    """Puts the k-th rendered tag in place of the k-th placeholder."""
    template, tags = parse_str(line)
    pieces = template.split("{}")  # plain text never holds "{}": a '{' before a '}' opens a block
    out = [pieces[0]]
    align = "left"
    for (kind, value), piece in zip(tags, pieces[1:], strict=True):
        if kind == b"a" and value in ("center", "left", "right"):
            align = value
        elif kind == b"a":  # [pixel n]: horizontal space
            out.append(" " * max(1, int(value) // 2))
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
