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


def levenshtein_model(a, b):
    prev = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        cur = [i]
        for j, cb in enumerate(b, 1):
            cur.append(min(prev[j - 1] + (ca != cb), prev[j] + 1, cur[j - 1] + 1))
        prev = cur
    return prev[-1]
