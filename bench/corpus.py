"""The benchmark workloads, generated deterministically from a fixed seed.

- short lines: 20,000 lines of dialogue, 40 to 120 UTF-8 bytes each, with 0
  to 4 tags of every kind, some words non-ASCII;
- ASCII lines: those of the short lines that are ASCII, about three in four;
- CJK lines: 20,000 lines of Chinese dialogue, mostly CJK characters, with
  the same byte lengths and the same mix of tags as the short lines;
- Latin-1 lines: 20,000 lines of French and Norwegian dialogue, each with
  some accented letters and none beyond U+00FF (a str of one byte a
  character that is not ASCII), the same byte lengths and mix of tags;
- emoji lines: 20,000 lines of the English dialogue with a few emoji among
  the words, each line holding at least one (a str of four bytes a
  character);
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

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
import reference_model  # noqa: E402  (found through the path above)

SEED = 20_000
CJK_SEED = SEED + 2
LATIN1_SEED = SEED + 3
EMOJI_SEED = SEED + 4
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
FIXED_TAGS = tuple(f"[{match.decode()}" for match, _ in reference_model.FIXED_TAGS)
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

# French and Norwegian dialogue: every character up to U+00FF (no œ, no
# typographic dashes or quotes), so that each line is a str of one byte a
# character
FRENCH_SPEAKERS = ("Amélie", "Hélène", "Jérôme", "Françoise", "Capitaine", "Gardien")
FRENCH_WORDS = (
    "le phare est éteint depuis des jours et personne n'est venu au port nous partons à l'aube "
    "avec ou sans toi apporte la carte dis-moi ce que tu as vu hier soir parle plus bas la marée "
    "tourne écoute mon vieil ami il est déjà tard là-bas près de la forêt où le garçon a vu la "
    "fenêtre du château ça ira bientôt très été"
).split()
NORWEGIAN_SPEAKERS = ("Søren", "Bjørn", "Åse", "Øystein", "Kaptein", "Vekter")
NORWEGIAN_WORDS = (
    "fyret har vært mørkt i flere dager og ingen kom til havna vi seiler ved daggry med eller "
    "uten deg ta med kartet fortell meg hva du så i går kveld snakk lavere tidevannet snur hør "
    "her gamle venn det er sent på båten sjøen også nå kjære søster lære"
).split()
LATIN1_FONTS = ("serif", "mono", "Noto Sans", "Fraktur Æøå", "big")
EMOJI = ("😀", "😂", "😢", "😮", "👍", "🙏", "🎉", "🔥", "🌊", "🚢", "💡", "🗝")

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


def random_tag(rng: random.Random, fonts: tuple[str, ...] = FONTS) -> str:
    """One tag of a random kind, as markup."""
    kind = rng.randrange(5)
    if kind == 0:
        return rng.choice(FIXED_TAGS)
    if kind == 1:
        return f"[pixel {rng.randrange(1, 120)}]"
    if kind == 2:
        return f"[style {rng.choice(STYLES)}]"
    if kind == 3:
        return f"[font {rng.choice(fonts)}]"
    return "{" + rng.choice(RAW_NAMES) + "}"


def random_word(rng: random.Random) -> str:
    """A word of prose: mostly ASCII, sometimes not, rarely a plain bracket."""
    roll = rng.random()
    if roll < 0.01:
        return rng.choice(NON_ASCII_WORDS)
    if roll < 0.02:
        return rng.choice(PLAIN_BRACKETS)
    return rng.choice(WORDS)


# picks one word of a line (random_word or random_cjk_word), or one tag
Word = Callable[[random.Random], str]


def candidate_line(
    rng: random.Random, speakers: Sequence[str], colon: str, word: Word, space: str, tag: Word = random_tag
) -> str:
    """A speaker, words up to a random length, and 0 to 4 tags between words."""
    target = rng.randrange(MIN_LINE_BYTES, MAX_LINE_BYTES + 1)
    tag_count = rng.choices(range(len(TAG_COUNT_WEIGHTS)), TAG_COUNT_WEIGHTS)[0]
    tokens = [rng.choice(speakers) + colon]
    while len(space.join(tokens).encode()) < target:
        tokens.append(word(rng))
    for _ in range(tag_count):
        tokens.insert(rng.randrange(len(tokens) + 1), tag(rng))
    return space.join(tokens)


def lines_of(
    seed: int,
    speakers: Sequence[str],
    colon: str,
    word: Word,
    space: str,
    tag: Word = random_tag,
    keep: Callable[[str], bool] = lambda line: True,
    count: int = LINE_COUNT,
) -> list[str]:
    """`count` lines from candidate_line(rng, speakers, colon, word, space,
    tag), each MIN_LINE_BYTES to MAX_LINE_BYTES bytes, that `keep` accepts."""
    rng = random.Random(seed)
    lines: list[str] = []
    while len(lines) < count:
        line = candidate_line(rng, speakers, colon, word, space, tag)
        if MIN_LINE_BYTES <= len(line.encode()) <= MAX_LINE_BYTES and keep(line):
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


def latin1_word(words: Sequence[str]) -> Word:
    """Words of one language, rarely a plain bracket."""

    def word(rng: random.Random) -> str:
        return rng.choice(PLAIN_BRACKETS) if rng.random() < 0.01 else rng.choice(words)

    return word


def latin1_lines() -> list[str]:
    """French and Norwegian lines, one of each in turn, each with at least
    one character beyond ASCII."""

    def lines_in(seed: int, speakers: Sequence[str], words: Sequence[str]) -> list[str]:
        return lines_of(
            seed,
            speakers,
            ":",
            latin1_word(words),
            " ",
            tag=lambda rng: random_tag(rng, LATIN1_FONTS),
            keep=lambda line: not line.isascii(),
            count=LINE_COUNT // 2,
        )

    french = lines_in(LATIN1_SEED, FRENCH_SPEAKERS, FRENCH_WORDS)
    norwegian = lines_in(LATIN1_SEED + 1, NORWEGIAN_SPEAKERS, NORWEGIAN_WORDS)
    return [line for pair in zip(french, norwegian, strict=True) for line in pair]


def emoji_word(rng: random.Random) -> str:
    """A word of the English dialogue, or now and then an emoji."""
    return rng.choice(EMOJI) if rng.random() < 0.08 else random_word(rng)


def emoji_lines() -> list[str]:
    """The English dialogue with a few emoji, at least one a line."""
    return lines_of(EMOJI_SEED, SPEAKERS, ":", emoji_word, " ", keep=lambda line: max(line) > "\uffff")


def line_inputs() -> dict[str, list[str]]:
    """The workloads that are many lines, each parsed on its own, by name."""
    return {
        "short_lines": short_lines(),
        "ascii_lines": ascii_lines(),
        "cjk_lines": cjk_lines(),
        "latin1_lines": latin1_lines(),
        "emoji_lines": emoji_lines(),
    }


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
