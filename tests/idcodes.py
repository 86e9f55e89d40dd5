"""Identifier codes for test dumps written by hand."""


def code_text(number):
    """The identifier code whose value is `number`: bijective base 94, first character
    least significant."""
    text = ""
    number += 1
    while number:
        number -= 1
        text += chr(33 + number % 94)
        number //= 94
    return text
