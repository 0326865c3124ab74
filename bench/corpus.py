"""The benchmark workloads, generated deterministically from a fixed seed.

- short lines: 20,000 lines of dialogue, 40 to 120 UTF-8 bytes each, with 0
  to 4 tags of every kind, some words non-ASCII;
- ASCII lines: those of the short lines that are ASCII, about three in four;
- CJK lines: 20,000 lines of Chinese dialogue, mostly CJK characters, with
  the same byte lengths and the same mix of tags as the short lines;
- markup-free text: ASCII prose with no bracket or brace, 1 MiB;
- the joined corpus: the short lines joined by newlines into one str;
- adversarial shapes: one short unit repeated to 2 and 4 MiB.

Run as a script, it writes every workload as a UTF-8 file into a directory
(default bench/results/workloads) for the C++ benchmark, so that both levels
measure the same bytes. A workload whose name ends in "_lines" is one line
per line of its file, each parsed on its own.
"""

import random
import sys
from collections.abc import Callable, Sequence
from pathlib import Path

SEED = 20_000
CJK_SEED = SEED + 2
LINE_COUNT = 20_000
MIN_LINE_BYTES, MAX_LINE_BYTES = 40, 120
MIB = 1 << 20

SPEAKERS = ("Keeper", "Captain", "Ada", "Mayor", "Ørsted", "Aiko", "Guard", "Pilot")
WORDS = (
    "the lamp has been dark for days and nobody came to the harbour we sail at "
    "dawn with or without you bring the map tell me what you saw last night "
    "keep your voice down the tide is turning listen old friend it is late"
).split()
NON_ASCII_WORDS = ("café", "naïve", "Grüße", "über", "日本", "こんにちは", "😀", "—", "…")
PLAIN_BRACKETS = ("[sic]", "[Enter]", "(laughs)")
FIXED_TAGS = ("[center]", "[left]", "[right]", "[nowrap]", "[passport]", "[autowrap]", "[noautowrap]")
RAW_NAMES = ("player", "gold", "item", "days", "captain", "target_name", "count")
STYLES = ("whisper", "shout", "red", "italic", "bold")
FONTS = ("serif", "mono", "Noto Sans", "Noto Sans 日本", "big")
TAG_COUNT_WEIGHTS = (30, 30, 20, 12, 8)  # for 0, 1, 2, 3 and 4 tags

# Chinese dialogue: three bytes of UTF-8 a character, no spaces between words
CJK_SPEAKERS = ("守望者", "船长", "阿达", "镇长", "奥斯特", "爱子", "守卫", "领航员")
CJK_WORDS = (
    "灯塔 已经 黑了 好几天 没有人 来过 港口 我们 黎明 出发 不管 你 来不来 带上 地图 "
    "告诉我 昨晚 看见了 什么 小声 一点 潮水 正在 转向 听着 老朋友 天色 已晚 船 风 "
    "雨 海 灯 钥匙 等一下 真的 可是 为什么"
).split()
CJK_PUNCTUATION = ("，", "。", "！", "？", "……", "——")
CJK_OTHER_WORDS = ("OK", "3", "42", "café", "😀", "[sic]", "(笑)")

# name -> the unit that is repeated
ADVERSARIAL_UNITS = {
    "open_braces": "{",
    "open_brackets": "[",
    "close_brackets": "]",
    "close_braces": "}",
    "pixel_openers": "[pixel ",
    "empty_blocks": "{}",
    "center_tags": "[center]",
    "font_tags": "[font a]",
}
ADVERSARIAL_SIZES = {"2mib": 2 * MIB, "4mib": 4 * MIB}


def random_tag(rng: random.Random) -> str:
    """One tag of a random kind, as markup."""
    kind = rng.randrange(5)
    if kind == 0:
        return rng.choice(FIXED_TAGS)
    if kind == 1:
        return f"[pixel {rng.randrange(1, 120)}]"
    if kind == 2:
        return f"[style {rng.choice(STYLES)}]"
    if kind == 3:
        return f"[font {rng.choice(FONTS)}]"
    return "{" + rng.choice(RAW_NAMES) + "}"


def random_word(rng: random.Random) -> str:
    """A word of prose: mostly ASCII, sometimes not, rarely a plain bracket."""
    roll = rng.random()
    if roll < 0.01:
        return rng.choice(NON_ASCII_WORDS)
    if roll < 0.02:
        return rng.choice(PLAIN_BRACKETS)
    return rng.choice(WORDS)


# picks one word of a line: random_word or random_cjk_word
Word = Callable[[random.Random], str]


def candidate_line(rng: random.Random, speakers: Sequence[str], colon: str, word: Word, space: str) -> str:
    """A speaker, words up to a random length, and 0 to 4 tags between words."""
    target = rng.randrange(MIN_LINE_BYTES, MAX_LINE_BYTES + 1)
    tag_count = rng.choices(range(len(TAG_COUNT_WEIGHTS)), TAG_COUNT_WEIGHTS)[0]
    tokens = [rng.choice(speakers) + colon]
    while len(space.join(tokens).encode()) < target:
        tokens.append(word(rng))
    for _ in range(tag_count):
        tokens.insert(rng.randrange(len(tokens) + 1), random_tag(rng))
    return space.join(tokens)


def lines_of(seed: int, speakers: Sequence[str], colon: str, word: Word, space: str) -> list[str]:
    """LINE_COUNT lines from candidate_line, each MIN_LINE_BYTES
    to MAX_LINE_BYTES bytes."""
    rng = random.Random(seed)
    lines: list[str] = []
    while len(lines) < LINE_COUNT:
        line = candidate_line(rng, speakers, colon, word, space)
        if MIN_LINE_BYTES <= len(line.encode()) <= MAX_LINE_BYTES:
            lines.append(line)
    return lines


def short_lines() -> list[str]:
    """The dialogue lines, in English with a few other words."""
    return lines_of(SEED, SPEAKERS, ":", random_word, " ")


def ascii_lines() -> list[str]:
    """The short lines that are ASCII: parse_str copies their pieces without
    decoding, and their str holds the UTF-8 the parser reads."""
    return [line for line in short_lines() if line.isascii()]


def random_cjk_word(rng: random.Random) -> str:
    """Mostly Chinese words, some punctuation, rarely ASCII or other scripts."""
    roll = rng.random()
    if roll < 0.02:
        return rng.choice(CJK_OTHER_WORDS)
    if roll < 0.15:
        return rng.choice(CJK_PUNCTUATION)
    return rng.choice(CJK_WORDS)


def cjk_lines() -> list[str]:
    """The dialogue lines in Chinese: words without spaces between them."""
    return lines_of(CJK_SEED, CJK_SPEAKERS, "：", random_cjk_word, "")


def line_inputs() -> dict[str, list[str]]:
    """The workloads that are many lines, each parsed on its own, by name."""
    return {"short_lines": short_lines(), "ascii_lines": ascii_lines(), "cjk_lines": cjk_lines()}


def joined_corpus() -> str:
    return "\n".join(short_lines())


def markup_free(size: int = MIB) -> str:
    """ASCII prose of exactly `size` bytes, with no bracket and no brace."""
    rng = random.Random(SEED + 1)
    words, length = [], 0
    while length < size:
        word = rng.choice(WORDS)
        words.append(word)
        length += len(word) + 1
    return " ".join(words)[:size]


def repeated(unit: str, size: int) -> str:
    """`unit` repeated, cut to exactly `size` characters."""
    return (unit * (size // len(unit) + 1))[:size]


def markup_typical(size: int) -> str:
    """Whole corpus lines joined by newlines, repeated, cut to `size` characters."""
    return repeated(joined_corpus() + "\n", size)


def adversarial_shapes() -> dict[str, tuple[str, int]]:
    """(unit, size) of every adversarial shape at every size, by name such as
    'open_braces_2mib'."""
    return {
        f"{name}_{label}": (unit, size)
        for name, unit in ADVERSARIAL_UNITS.items()
        for label, size in ADVERSARIAL_SIZES.items()
    }


def adversarial() -> dict[str, str]:
    return {name: repeated(unit, size) for name, (unit, size) in adversarial_shapes().items()}


def single_inputs() -> dict[str, str]:
    """The workloads that are one str each, by name."""
    return {
        "markup_free_1mib": markup_free(),
        "joined_corpus": joined_corpus(),
        **adversarial(),
    }


def write_workloads(directory: Path) -> None:
    """One UTF-8 file per workload; the files of line_inputs() hold one line
    per line."""
    directory.mkdir(parents=True, exist_ok=True)
    for name, lines in line_inputs().items():
        (directory / f"{name}.txt").write_text("\n".join(lines) + "\n", encoding="utf-8")
    for name, text in single_inputs().items():
        (directory / f"{name}.txt").write_text(text, encoding="utf-8")


if __name__ == "__main__":
    default = Path(__file__).resolve().parent / "results" / "workloads"
    write_workloads(Path(sys.argv[1]) if len(sys.argv) > 1 else default)
