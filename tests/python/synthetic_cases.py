"""Case lines for a synthetic table set, shared by the module and the service tests."""
import pathlib
import random
import re


def case_lines(source_dir, seed, count):
    """Case lines over the codes of a table set's sources, with a few
    malformed fields and short lines among them."""
    rng = random.Random(seed)
    dx, px = [], []
    for path in sorted(pathlib.Path(source_dir).glob("*.txt")):
        codes = re.findall(r"^(?:row|entry) (\S+)", path.read_text("latin-1"), re.M)
        (dx if path.name.startswith("DXTAB") else px if path.name.startswith("SGTAB") else []
         ).extend(codes)
    assert dx and px
    lines = []
    for n in range(count):
        year = rng.randint(1998, 2003)
        case_date = f"{year}{rng.randint(1, 12):02d}{rng.randint(1, 28):02d}"
        birth = f"{rng.randint(0, 99):02d}{rng.randint(1, 12):02d}{rng.randint(1, 28):02d}"
        codes = "".join(f"{rng.choice(dx):<5}"[:5] for _ in range(rng.randint(0, 10)))
        procs = "".join(f"{rng.choice(px):<5}"[:5] for _ in range(rng.randint(0, 20)))
        line = (f"S{n:07d}" + birth + rng.choice("0123456789X") + " " * 6 + case_date
                + f"{rng.randint(0, 120):3d}" + rng.choice("12345 ")
                + f"{codes:<50}" + f"{procs:<100}" + " " * 5)
        if n % 17 == 5:
            line = line[:rng.randint(1, 187)]
        lines.append(line)
    return lines
