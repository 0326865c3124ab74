"""I hope it's faster than regular expression"""

def parse_str(text: str, /) -> tuple[str, list[tuple[bytes, str]]]:
    """parse marquill string"""
