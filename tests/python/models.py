"""Straightforward reference models and random test data for the differential tests."""

ALPHABETS = {
    "ascii": "abcdefghij ABC.,-",
    "latin": "aeiouàéîõüçñßÆø",
    "combining": "ae\u0301\u0300\u0308o",
    "cjk": "日本語中文字漢",
    "emoji": "\U0001F600\U0001F601\U0001F680a",
    "greek": "αβγσςΣΟΔ ",
    "mixed": "ab é\u0301日\U0001F600ΣİßI\u00a0\u200b\ufeff\u3000x",
}


def random_text(rng, alphabet, length):
    chars = ALPHABETS[alphabet]
    return "".join(rng.choice(chars) for _ in range(length))

