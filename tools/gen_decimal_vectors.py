#!/usr/bin/env python3
"""Writes the test vectors of tavlo::base::Decimal (tests/data/decimal_vectors.txt).

Python's decimal module is the oracle: exact operations run in a context whose precision is far
above the digits involved and which traps Inexact and Rounded, so an expected value is never a
rounded one; every rounding is one quantize of an exact value. Parse cases are valid or invalid by
the number grammar below (not by what decimal.Decimal() accepts, which is more). The seed is
fixed, so running the script again gives the same file.

Usage: tools/gen_decimal_vectors.py [OUTPUT]   (default: tests/data/decimal_vectors.txt)
"""

import decimal
import os
import random
import re
import sys
from decimal import Decimal

SEED = 20240611
MAX_PLAIN_DIGITS = 10000
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1

MODES = {
    "UP": decimal.ROUND_UP,
    "DOWN": decimal.ROUND_DOWN,
    "CEILING": decimal.ROUND_CEILING,
    "FLOOR": decimal.ROUND_FLOOR,
    "HALF_UP": decimal.ROUND_HALF_UP,
    "HALF_DOWN": decimal.ROUND_HALF_DOWN,
    "HALF_EVEN": decimal.ROUND_HALF_EVEN,
}

# The accepted number texts, ASCII only.
GRAMMAR = re.compile(r"[+-]?(?:[0-9]+(?:\.([0-9]*))?|\.([0-9]+))(?:[eE]([+-]?[0-9]+))?", re.ASCII)

EXACT = decimal.Context(
    prec=10**6,
    rounding=decimal.ROUND_HALF_EVEN,
    Emax=decimal.MAX_EMAX,
    Emin=decimal.MIN_EMIN,
    traps=[
        decimal.Inexact,
        decimal.Rounded,
        decimal.InvalidOperation,
        decimal.DivisionByZero,
        decimal.Overflow,
        decimal.Underflow,
        decimal.Clamped,
    ],
)

HEADER = """\
# Test vectors of tavlo::base::Decimal, written by tools/gen_decimal_vectors.py (do not edit).
# Oracle: Python's decimal module. One case per line, fields joined by "|".
# A number is written as U|S: the unscaled integer and the scale (value = U * 10^-S).
# Inputs A and B are number texts of the accepted grammar.
# In text fields "\\\\" is a backslash, "\\p" a "|", and "\\uXXXX" the UTF-16 code unit XXXX.
#   parse|TEXT|U|S|PLAIN        TEXT is valid: its value and its plain text
#   parse|TEXT|invalid          TEXT is refused
#   plain|U|S|PLAIN             plain text of Decimal(U, S)
#   setscale|A|SCALE|MODE|U|S   A rounded to SCALE
#   divide|A|B|SCALE|MODE|U|S   A / B rounded once to SCALE
#   multiply|A|B|U|S
#   subtract|A|B|U|S
#   compare|A|B|C               C = -1, 0 or 1
"""


def escape(text):
    out = []
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == "|":
            out.append("\\p")
        elif 0x21 <= ord(ch) <= 0x7E:
            out.append(ch)
        else:
            units = ch.encode("utf-16-be")
            for i in range(0, len(units), 2):
                out.append("\\u%02X%02X" % (units[i], units[i + 1]))
    return "".join(out)


def to_dec(u, s):
    return Decimal((1 if u < 0 else 0, tuple(int(c) for c in str(abs(u))), -s))


def from_dec(d):
    sign, digits, exponent = d.as_tuple()
    u = int("".join(map(str, digits)))
    return (-u if sign else u), -exponent


def plain(u, s):
    # format "f" writes exactly the fraction digits of the exponent, like a plain string;
    # zero is built without a sign, so there is no "-0".
    return format(to_dec(u, s), "f")


def plain_digit_count(u, s):
    n = len(str(abs(u))) if u != 0 else 0
    if n == 0:
        return s + 1 if s > 0 else 1
    if s <= 0:
        return n - s
    return max(n, s + 1)


def text_of(u, s):
    """An input text of the grammar for (u, s)."""
    if s >= 0:
        return plain(u, s)
    return "%dE%d" % (u, -s)


def round_int(n, d, mode):
    """Independent check: n / d rounded to an integer with integer arithmetic only."""
    q, r = abs(n) // abs(d), abs(n) % abs(d)
    sign = -1 if (n < 0) != (d < 0) else 1
    if r:
        twice = 2 * r
        away = {
            "UP": True,
            "DOWN": False,
            "CEILING": sign > 0,
            "FLOOR": sign < 0,
            "HALF_UP": twice >= abs(d),
            "HALF_DOWN": twice > abs(d),
            "HALF_EVEN": twice > abs(d) or (twice == abs(d) and q % 2 == 1),
        }[mode]
        if away:
            q += 1
    return sign * q


def quantize_quotient(n, d, mode):
    """n / d rounded to an integer by one decimal quantize.

    The exact quotient q + r/d is replaced by q + 0, 1/4, 1/2 or 3/4 (by where r/d lies), which is
    exact in decimal and rounds the same way in every mode; quantize then rounds it once."""
    dn, dd = Decimal(n), Decimal(d)
    q = EXACT.divide_int(dn, dd)  # truncated
    r = EXACT.remainder(dn, dd)  # sign of the dividend
    if r == 0:
        return int(q)
    sign = -1 if (n < 0) != (d < 0) else 1
    c = EXACT.compare(EXACT.multiply(EXACT.abs(r), Decimal(2)), EXACT.abs(dd))
    fraction = {-1: Decimal("0.25"), 0: Decimal("0.5"), 1: Decimal("0.75")}[int(c)]
    representative = EXACT.add(q, EXACT.multiply(Decimal(sign), fraction))
    with decimal.localcontext(EXACT) as ctx:
        ctx.traps[decimal.Inexact] = False
        ctx.traps[decimal.Rounded] = False
        return int(representative.quantize(Decimal(1), rounding=MODES[mode]))


def set_scale(u, s, new_scale, mode):
    quantum = Decimal((0, (1,), -new_scale))
    with decimal.localcontext(EXACT) as ctx:
        ctx.traps[decimal.Inexact] = False
        ctx.traps[decimal.Rounded] = False
        result = to_dec(u, s).quantize(quantum, rounding=MODES[mode])
    ru, rs = from_dec(result)
    assert rs == new_scale
    # Cross-check against integer rounding.
    if new_scale >= s:
        assert ru == u * 10 ** (new_scale - s)
    else:
        assert ru == round_int(u, 10 ** (s - new_scale), mode), (u, s, new_scale, mode)
    return ru


def divide(a, b, scale, mode):
    (au, as_), (bu, bs) = a, b
    e = scale + bs - as_
    n, d = (au * 10**e, bu) if e >= 0 else (au, bu * 10 ** (-e))
    q = quantize_quotient(n, d, mode)
    assert q == round_int(n, d, mode), (a, b, scale, mode)
    # Where the quotient terminates, quantizing the exact quotient must agree.
    try:
        exact = EXACT.divide(to_dec(au, as_), to_dec(bu, bs))
    except (decimal.Inexact, decimal.Rounded):
        exact = None
    if exact is not None:
        with decimal.localcontext(EXACT) as ctx:
            ctx.traps[decimal.Inexact] = False
            ctx.traps[decimal.Rounded] = False
            assert from_dec(exact.quantize(Decimal((0, (1,), -scale)), rounding=MODES[mode]))[0] == q
    return q


class Gen:
    def __init__(self, rng):
        self.rng = rng
        self.lines = []

    def emit(self, *fields):
        self.lines.append("|".join(str(f) for f in fields))

    def digits(self, lo, hi):
        n = self.rng.randint(lo, hi)
        first = str(self.rng.randint(1, 9))
        return int(first + "".join(str(self.rng.randint(0, 9)) for _ in range(n - 1)))

    def number(self, max_digits=20, scales=(-4, 12), zero_chance=0.05):
        """(unscaled, scale) with varied lengths, scales and signs."""
        r = self.rng.random()
        if r < zero_chance:
            u = 0
        elif r < 0.7:
            u = self.digits(1, min(9, max_digits))
        elif r < 0.93:
            u = self.digits(1, max_digits)
        else:
            u = self.digits(20, 45)  # several limbs
        if self.rng.random() < 0.4:
            u = -u
        return u, self.rng.randint(*scales)

    # ---- parse --------------------------------------------------------------------------------

    def parse_case(self, text):
        match = GRAMMAR.fullmatch(text)
        if match is None:
            self.emit("parse", escape(text), "invalid")
            return
        fraction = match.group(1) or match.group(2) or ""
        scale = len(fraction) - int(match.group(3) or "0")
        if scale < INT32_MIN or scale > INT32_MAX:
            self.emit("parse", escape(text), "invalid")
            return
        # Valid by the grammar: decimal.Decimal reads these texts exactly as the grammar means.
        u, s = from_dec(Decimal(text))
        assert s == scale, text
        if plain_digit_count(u, s) > MAX_PLAIN_DIGITS:
            self.emit("parse", escape(text), "invalid")
            return
        self.emit("parse", escape(text), u, s, plain(u, s))

    def random_valid_text(self):
        rng = self.rng

        def run(lo, hi):
            return "".join(rng.choice("0123456789") for _ in range(rng.randint(lo, hi)))

        sign = rng.choice(["", "", "+", "-"])
        int_part = run(0, 3) if rng.random() < 0.2 else run(1, 22)
        if rng.random() < 0.25:
            int_part = "0" * rng.randint(1, 4) + int_part  # leading zeros
        shape = rng.random()
        if shape < 0.3:
            body = int_part or "0"
        elif shape < 0.4:
            body = (int_part or "7") + "."
        elif shape < 0.85:
            body = int_part + "." + run(1, 14)
        else:
            body = "." + run(1, 10)
        if rng.random() < 0.35:
            exponent = str(rng.choice([0, 1, 2, 3, 5, 9, 12, 30, rng.randint(0, 400)]))
            if rng.random() < 0.15:
                exponent = "0" * rng.randint(1, 5) + exponent
            body += rng.choice("eE") + rng.choice(["", "+", "-"]) + exponent
        return sign + body

    def parse_cases(self):
        fixed_valid = [
            "0", "-0", "+0", "-0.000", "0.000", "00", ".5", "5.", "+1E3", "-0", "1e-3", "1E3", "1E+3",
            "12.50", "12.5", "007", "+5.0", "-5.0", "2.345", "0.125", "1.", "-.5", "+.5", "0e0", "0E-5",
            "0E+5", "1E-0", "123456789012345678", "1234567890123456789", "12345678901234567890",
            "18446744073709551615", "18446744073709551616", "-9223372036854775808", "-9223372036854775809",
            "0.0000000000000000000000001", "99999999999999999999.99999999999999999999", "1e00000000000000000000003",
            "0E2147483648", "0E+2147483648", "0E-2147483647", "0.5E2147483647", "1E9999", "1E-9998",
            "0E999999999", "5E-2147483647", "1.5E2147483649",
        ]
        fixed_invalid = [
            "", ".", "e5", "E5", "1e", "1E+", "1e-", "1.2.3", " 1", "1 ", "1,5", "+", "-", "+.", "-.", ".e5",
            "1_000", "NaN", "nan", "-NaN", "sNaN", "Infinity", "-Infinity", "inf", "Inf", "+-1", "-+1", "++1",
            "--1", "1e5e5", "1e5.5", "1.e", "1..2", "..5", "0x10", "1d5", "1f", "1E 5", "1 E5", "\t1", "1\n",
            "\u0661\u0662", "\uff11\uff12", "1\u00a0", "\u22121", "\u00b9", "1\u0660", "\U0001D7D9", "1|2", "1\\2",
            "1E2147483648", "1E-2147483649", "0E2147483649", "0e-2147483648", "0E-2147483647", "1E10000",
            "1E999999999", "0E-999999999", "1e99999999999999999999", "0.5E2147483649", "\u0000", "1\u0000",
        ]
        for text in fixed_valid + fixed_invalid:
            self.parse_case(text)
        for _ in range(900):
            self.parse_case(self.random_valid_text())
        # Mutations of valid texts; the grammar decides whether the result is still valid.
        junk = [" ", ",", "_", ".", "e", "E", "+", "-", "x", "\u0663", "\uff15", "\t", "|", "#", "0", "9"]
        for _ in range(450):
            text = self.random_valid_text()
            kind = self.rng.random()
            pos = self.rng.randint(0, len(text))
            if kind < 0.6:
                text = text[:pos] + self.rng.choice(junk) + text[pos:]
            elif kind < 0.85 and text:
                text = text[: min(pos, len(text) - 1)] + text[min(pos, len(text) - 1) + 1 :]
            else:
                text = text + self.rng.choice(["e", "E+", ".", "e1.5", "..", " ", "-"])
            self.parse_case(text)
        # Limits on digit counts, with few lines of full length.
        self.parse_case("9" * MAX_PLAIN_DIGITS)
        self.parse_case("9" * (MAX_PLAIN_DIGITS + 1))
        self.parse_case("0." + "0" * (MAX_PLAIN_DIGITS - 2) + "1")
        self.parse_case("0." + "0" * (MAX_PLAIN_DIGITS - 1) + "1")
        self.parse_case("0" * 20000 + "1")

    # ---- plain --------------------------------------------------------------------------------

    def plain_cases(self):
        for u, s in [(0, 0), (0, 3), (0, -3), (5, 0), (-5, 3), (123, -2), (-123, 1), (123, 3), (123, 5)]:
            self.emit("plain", u, s, plain(u, s))
        for _ in range(150):
            u, s = self.number(max_digits=30, scales=(-8, 30))
            self.emit("plain", u, s, plain(u, s))

    # ---- setScale -----------------------------------------------------------------------------

    def set_scale_cases(self):
        targets = []
        for _ in range(170):
            u, s = self.number(max_digits=22, scales=(-4, 14))
            n = len(str(abs(u)))
            choice = self.rng.random()
            if choice < 0.55:
                t = s - self.rng.randint(1, n + 2)  # drops digits, sometimes all of them
            elif choice < 0.75:
                t = self.rng.randint(0, 7)
            elif choice < 0.9:
                t = -self.rng.randint(1, 5)  # rounds to tens, hundreds, ...
            else:
                t = s + self.rng.randint(1, 6)  # exact widening
            targets.append((u, s, t))
        # Ties: the dropped digits are exactly 5 followed by zeros.
        for _ in range(70):
            q = self.rng.choice([0, 1, 2, 3, 10, 11, 99, self.digits(1, 15)])
            zeros = self.rng.randint(0, 3)
            u = (q * 10 + 5) * 10**zeros
            if self.rng.random() < 0.5:
                u = -u
            s = self.rng.randint(-2, 8)
            targets.append((u, s, s - zeros - 1))
        for u, s, t in [(2345, 3, 2), (2355, 3, 2), (-4, 3, 2), (0, 5, 2), (0, -3, 2), (0, 2, -3), (5, 0, -1),
                        (-5, 0, -1), (15, 0, -1), (25, 0, -1), (123, 0, 2), (1, 7, 0), (-1, 7, 0)]:
            targets.append((u, s, t))
        for u, s, t in targets:
            for mode in MODES:
                ru = set_scale(u, s, t, mode)
                self.emit("setscale", text_of(u, s), t, mode, ru, t)

    # ---- divide -------------------------------------------------------------------------------

    def divide_cases(self):
        cases = []
        for _ in range(130):
            a = self.number(max_digits=18, scales=(-3, 8))
            b = self.number(max_digits=10, scales=(-3, 6), zero_chance=0)
            scale = self.rng.choice([0, 1, 2, 2, 3, 4, 5, 6, 7, -2, 10, 15])
            cases.append((a, b, scale))
        # Exact ties at the requested scale: a = b * (q + 1/2) * 10^-scale.
        for _ in range(40):
            bu = self.digits(1, 4) * self.rng.choice([1, -1])
            bs = self.rng.randint(-1, 3)
            scale = self.rng.randint(0, 7)
            q = self.rng.randint(0, 500) * self.rng.choice([1, -1])
            au = bu * (2 * q + 1) * 5
            cases.append(((au, bs + scale + 1), (bu, bs), scale))
        # Big operands spanning several limbs.
        for _ in range(20):
            a = (self.digits(25, 45) * self.rng.choice([1, -1]), self.rng.randint(0, 10))
            b = (self.digits(20, 30) * self.rng.choice([1, -1]), self.rng.randint(0, 10))
            cases.append((a, b, self.rng.randint(0, 7)))
        cases += [((10, 0), (3, 0), 2), ((10, 0), (4, 0), 3), ((-10, 0), (3, 0), 2), ((1, 0), (8, 0), 2),
                  ((0, 3), (7, 0), 2), ((1, 0), (3, 0), 0), ((5, 0), (-2, 0), 0), ((1, 0), (3, 0), -3)]
        for a, b, scale in cases:
            for mode in MODES:
                q = divide(a, b, scale, mode)
                self.emit("divide", text_of(*a), text_of(*b), scale, mode, q, scale)

    # ---- multiply, subtract, compare ----------------------------------------------------------

    def multiply_cases(self):
        pairs = [((125, 1), (200, 2)), ((125, 3), (1000, 0)), ((0, 3), (-5, 1)), ((-3, 0), (-4, -2))]
        pairs += [(self.number(max_digits=20, scales=(-5, 10)), self.number(max_digits=20, scales=(-5, 10)))
                  for _ in range(450)]
        for a, b in pairs:
            ru, rs = from_dec(EXACT.multiply(to_dec(*a), to_dec(*b)))
            assert rs == a[1] + b[1]
            self.emit("multiply", text_of(*a), text_of(*b), ru, rs)

    def subtract_cases(self):
        pairs = [((20, 1), (200, 2)), ((1, 0), (1, 3)), ((-5, 2), (5, 2)), ((0, 4), (0, -2)), ((7, -3), (1, 2))]
        for _ in range(450):
            a = self.number(max_digits=20, scales=(-5, 10))
            if self.rng.random() < 0.15:
                b = a  # equal operands: zero at the larger scale
            elif self.rng.random() < 0.15:
                shift = self.rng.randint(1, 4)
                b = (a[0] * 10**shift, a[1] + shift)  # same value, other scale
            else:
                b = self.number(max_digits=20, scales=(-5, 10))
            pairs.append((a, b))
        for a, b in pairs:
            ru, rs = from_dec(EXACT.subtract(to_dec(*a), to_dec(*b)))
            assert rs == max(a[1], b[1])
            self.emit("subtract", text_of(*a), text_of(*b), ru, rs)

    def compare_cases(self):
        pairs = [((20, 1), (200, 2)), ((0, 0), (0, 5)), ((0, -3), (0, 3)), ((-1, 0), (0, 0)), ((1, 9), (-1, 9)),
                 ((123, 2), (1230, 3)), ((-123, 2), (-1231, 3)), ((1, -5), (99999, 0))]
        for _ in range(420):
            a = self.number(max_digits=20, scales=(-5, 10), zero_chance=0.1)
            r = self.rng.random()
            if r < 0.2:
                shift = self.rng.randint(1, 5)
                b = (a[0] * 10**shift, a[1] + shift)
            elif r < 0.45:
                b = (a[0] + self.rng.choice([-1, 1]), a[1])  # neighbours
            elif r < 0.55:
                b = (-a[0], a[1])
            else:
                b = self.number(max_digits=20, scales=(-5, 10), zero_chance=0.1)
            pairs.append((a, b))
        for a, b in pairs:
            c = int(EXACT.compare(to_dec(*a), to_dec(*b)))
            self.emit("compare", text_of(*a), text_of(*b), c)


def main():
    if hasattr(sys, "set_int_max_str_digits"):
        sys.set_int_max_str_digits(4 * MAX_PLAIN_DIGITS)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "tests", "data", "decimal_vectors.txt")
    gen = Gen(random.Random(SEED))
    gen.parse_cases()
    gen.plain_cases()
    gen.set_scale_cases()
    gen.divide_cases()
    gen.multiply_cases()
    gen.subtract_cases()
    gen.compare_cases()
    with open(output, "w", encoding="ascii", newline="\n") as f:
        f.write(HEADER)
        for line in gen.lines:
            f.write(line + "\n")
    counts = {}
    for line in gen.lines:
        op = line.split("|", 1)[0]
        counts[op] = counts.get(op, 0) + 1
    print("%s: %d cases (%s)" % (output, len(gen.lines), ", ".join("%s %d" % kv for kv in sorted(counts.items()))))


if __name__ == "__main__":
    main()
