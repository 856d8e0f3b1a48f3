#!/usr/bin/env python3
"""Writes the built-in local route list from a registry delegation file (run by hand).

    tools/routes/make-builtin-list.py delegated-afrinic-extended-latest \
        routing/builtin-localroutes.txt tests/data/delegated-afrinic-za-cut

Every row not kept as it is below is a network inside South Africa's (ZA) allocated or assigned
IPv4 space, preferably a whole allocation or one of the CIDR blocks an allocation splits into,
and never overlapping another row. The list keeps its known shape: 878 rows and an empty line,
the same number of rows per mask, 40 first-octet blocks grouped together, 510/76/50/49 rows in
the blocks 196/192/198/168, and the rows below at their positions.

The third file receives the delegation records the list's rows lie in, plus a few records of
other countries, statuses and types: the tests check the list and compile lists against it.
"""

import ipaddress
import math
import sys

COUNTRY = "ZA"

# Rows kept as they are, by 1-based position.
KEPT_ROWS = {
    1: "106.152.0,255.255.255.0",
    2: "32.106.153.0,255.255.255.0",
    3: "32.238.152.0,255.255.255.0",
    4: "32.238.153.0,255.255.255.0",
    5: "32.239.182.0,255.255.255.0",
    6: "41.240.0.0,255.248.0.0",
    124: "168.210.0.0,255.255.0.0",
    130: "168.210.0.0,255.255.0.0",
    171: "168.210.250.80,255.255.255.254",
    172: "168.210.131.20,255.255.255.255",
    771: "196.22.2.0,255.255.255.128",
    780: "196.38.225.0,255.255.255.252",
    781: "196.23.48.244,255.255.255.255",
    782: "196.23.48.245,255.255.255.255",
    874: "216.104.196.0,255.255.255.0",
    875: "216.104.197.0,255.255.255.0",
    876: "216.104.198.0,255.255.255.0",
    877: "216.104.199.0,255.255.255.0",
    878: "216.162.42.0,255.255.255.0",
}
ROWS = 878

# Rows per prefix length over the whole list, kept rows included.
ROWS_PER_PREFIX = {24: 519, 23: 78, 16: 76, 22: 69, 21: 41, 19: 31, 20: 27, 28: 6, 15: 5, 29: 5,
                   17: 4, 26: 4, 18: 4, 32: 3, 14: 2, 13: 1, 31: 1, 25: 1, 30: 1}

# The blocks in list order with the rows (first, last) they occupy. Rows 1-5 and 874-878 are kept
# rows of the blocks 106, 32 and 216, row 6 of the block 41, rows 124-172 are the block 168.
# Together with those, the blocks are every first octet of the country's allocations up to 216
# except 206 (a single /24): 40 blocks. Blocks without a row count below share the free rows of
# their section by the number of allocations they hold.
SECTIONS = [
    (7, 123, [41, 45, 66, 69, 80, 81, 102, 105, 129, 137, 139, 143, 146, 147, 152, 154, 155, 156,
              160, 161, 163, 164, 165, 166]),
    (125, 170, [168]),
    (173, 873, [169, 192, 198, 196, 197, 200, 204, 205, 208, 209, 212, 213]),
]
FIXED_BLOCK_ROWS = {192: 76, 198: 50, 196: 510 - 4, 168: 45}


def network_of(row):
    """The network a row routes: a three-part address a.b.c means a.b.0.c, as inet_addr reads it."""
    text, mask = row.split(",")
    parts = [int(p) for p in text.split(".")]
    if len(parts) == 3:
        parts = parts[:2] + [0, parts[2]]
    prefix = ipaddress.IPv4Network("0.0.0.0/" + mask).prefixlen
    return ipaddress.IPv4Network(".".join(map(str, parts)) + "/" + str(prefix))


def cidr_blocks(first, count):
    """The fewest CIDR blocks covering count addresses from first, as (start, prefix)."""
    blocks = []
    while count > 0:
        size = first & -first if first else 1 << 32
        while size > count:
            size //= 2
        blocks.append((first, 32 - size.bit_length() + 1))
        first += size
        count -= size
    return blocks


def read_records(path):
    """(line index, line, start, count) of the country's allocated or assigned IPv4 records."""
    lines = open(path, encoding="ascii").read().splitlines()
    records = []
    for index, line in enumerate(lines):
        fields = line.split("|")
        if (len(fields) >= 7 and fields[1] == COUNTRY and fields[2] == "ipv4"
                and fields[6] in ("allocated", "assigned")):
            records.append((index, line, int(ipaddress.IPv4Address(fields[3])), int(fields[4])))
    return lines, records


def overlaps(a_first, a_size, b_first, b_size):
    return a_first < b_first + b_size and b_first < a_first + a_size


class Pool:
    """Free CIDR pieces per first octet; a piece remembers whether it is a whole block of its
    allocation (natural) or what remains of one after a smaller network was taken from it."""

    def __init__(self, records, taken):
        self.pieces = {}
        for _, _, first, count in records:
            for start, prefix in cidr_blocks(first, count):
                for piece in self.without(start, prefix, taken):
                    self.pieces.setdefault(start >> 24, []).append(piece)

    @staticmethod
    def without(start, prefix, taken):
        """(start, prefix, natural) pieces of a block left when the taken networks are removed."""
        size = 1 << (32 - prefix)
        if not any(overlaps(start, size, int(t.network_address), t.num_addresses) for t in taken):
            return [(start, prefix, True)]
        if any(int(t.network_address) <= start and start + size <= int(t.network_address) +
               t.num_addresses for t in taken):
            return []
        half = size // 2
        return [(s, p, False) for part in (start, start + half)
                for s, p, _ in Pool.without(part, prefix + 1, taken)]

    def take(self, octet, prefix):
        """Takes a /prefix network from the octet: a natural piece of that size if there is one,
        else the first of the smallest larger piece. None when the octet has no room."""
        pieces = self.pieces.get(octet, [])
        fits = [p for p in pieces if p[1] <= prefix]
        if not fits:
            return None
        exact = [p for p in fits if p[1] == prefix and p[2]] or [p for p in fits if p[1] == prefix]
        piece = min(exact) if exact else min(fits, key=lambda p: (-p[1], p[0]))
        pieces.remove(piece)
        start, size = piece[0], 1 << (32 - piece[1])
        for rest in range(piece[1] + 1, prefix + 1):
            pieces.append((start + (1 << (32 - rest)), rest, False))
        return ipaddress.IPv4Network((start, prefix)), bool(exact) and piece[2]

    def has_exact(self, octet, prefix):
        return any(p[1] == prefix and p[2] for p in self.pieces.get(octet, []))


def block_rows(records):
    """The number of rows each block gets."""
    allocations = {}
    for _, _, first, _ in records:
        allocations[first >> 24] = allocations.get(first >> 24, 0) + 1
    rows = dict(FIXED_BLOCK_ROWS)
    for first_row, last_row, blocks in SECTIONS:
        free = last_row - first_row + 1 - sum(1 for r in KEPT_ROWS if first_row <= r <= last_row)
        shared = [b for b in blocks if b not in rows]
        free -= sum(rows[b] for b in blocks if b in rows)
        # At least one row each; each further row to the block with the most allocations per
        # row so far (weighed by their square root), never more rows than allocations.
        share = {b: 1 for b in shared}
        for _ in range(free - len(shared)):
            block = max((b for b in shared if share[b] < allocations[b]),
                        key=lambda b: (math.sqrt(allocations[b]) / share[b], -b))
            share[block] += 1
        rows.update(share)
    return rows


def compose(records):
    kept = {row: network_of(text) for row, text in KEPT_ROWS.items()}
    pool = Pool(records, kept.values())
    need = block_rows(records)
    quota = dict(ROWS_PER_PREFIX)
    for net in kept.values():
        quota[net.prefixlen] -= 1
    chosen = {block: [] for block in need}
    natural = 0
    for prefix in sorted(p for p in quota if quota[p] > 0):
        for _ in range(quota[prefix]):
            # A block still short of rows that holds a whole allocation block of this size, the
            # one furthest from its row count first; else any block short of rows with room.
            open_blocks = [b for b in need if len(chosen[b]) < need[b]]
            def shortfall(b):
                return (need[b] - len(chosen[b])) / need[b]
            exact = [b for b in open_blocks if pool.has_exact(b, prefix)]
            for block in sorted(exact or open_blocks, key=lambda b: (-shortfall(b), b)):
                taken = pool.take(block, prefix)
                if taken:
                    chosen[block].append(taken[0])
                    natural += taken[1]
                    break
            else:
                sys.exit(f"no block has room for another /{prefix}")
    rows = dict(KEPT_ROWS)
    for first_row, last_row, blocks in SECTIONS:
        free_rows = [r for r in range(first_row, last_row + 1) if r not in KEPT_ROWS]
        nets = [n for b in blocks for n in sorted(chosen[b])]
        assert len(nets) == len(free_rows), (first_row, len(nets), len(free_rows))
        for row, net in zip(free_rows, nets):
            rows[row] = f"{net.network_address},{net.netmask}"
    print(f"{natural} of {ROWS - len(KEPT_ROWS)} composed rows are whole allocation blocks",
          file=sys.stderr)
    return [rows[r] for r in range(1, ROWS + 1)]


def cut(lines, records, rows):
    """The records the rows lie in, and some others, under a header that counts them."""
    nets = [network_of(r) for r in rows]
    keep = {index for index, _, first, count in records
            if any(overlaps(first, count, int(n.network_address), n.num_addresses) for n in nets)}
    others = {}
    for index, line in enumerate(lines[1:], 1):
        fields = line.split("|")
        if len(fields) < 7 or fields[1] == "*":
            continue
        kind = (fields[1] == COUNTRY, fields[2], fields[6])
        if kind != (True, "ipv4", "allocated") and kind != (True, "ipv4", "assigned"):
            others.setdefault(kind, []).append(index)
    for kind in sorted(others):
        keep.update(others[kind][:3])
    version = lines[0].split("|")
    version[3] = str(len(keep))
    return ([f"# Cut from {sys.argv[1].split('/')[-1]} by tools/routes/make-builtin-list.py: the",
             "# records the built-in list's rows lie in and a few others; the header counts them."]
            + ["|".join(version)] + [lines[i] for i in sorted(keep)])


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    lines, records = read_records(sys.argv[1])
    rows = compose(records)
    with open(sys.argv[2], "w", encoding="ascii", newline="\n") as out:
        out.write("\n".join(rows) + "\n\n")
    with open(sys.argv[3], "w", encoding="ascii", newline="\n") as out:
        out.write("\n".join(cut(lines, records, rows)) + "\n")


if __name__ == "__main__":
    main()
