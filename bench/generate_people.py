#!/usr/bin/env python3
"""Writes the benchmark directory as LDIF, the same bytes for the same arguments on every machine.

The suffix entry, then one organisational unit of realistic inetOrgPerson entries (cn with one or two
values, sn, givenName with about one name in six outside ASCII, uid, one to three mail values, zero to two
telephoneNumber values, a description of about 100 bytes, employeeNumber, and a jpegPhoto of 2 to 8 KB of
random bytes on every tenth entry), then optional larger units of the same kind of entry without photos
for the index-loop scaling runs.

In the main unit every (sn, givenName) pair is unique, so ordering by sn then givenName has exactly one
answer. Entry i of a unit has the RDN uid=p<i, six digits>, so a substring filter on uid picks a known
range of entries.
"""

import argparse
import base64
import random
import sys
import unicodedata

SEED = 20261211

ASCII_GIVEN = [
    "Aaron", "Abigail", "Adam", "Alice", "Amanda", "Andrew", "Anna", "Arthur", "Barbara", "Benjamin",
    "Brian", "Carla", "Carol", "Charles", "Chloe", "Christopher", "Claire", "Daniel", "David", "Diana",
    "Edward", "Elena", "Elizabeth", "Emily", "Eric", "Fiona", "Frank", "George", "Grace", "Hannah",
    "Henry", "Isabel", "Jack", "James", "Jane", "Jason", "Jennifer", "John", "Julia", "Karen",
    "Kevin", "Laura", "Linda", "Lucas", "Margaret", "Maria", "Mark", "Martin", "Mary", "Michael",
    "Nancy", "Nathan", "Nicole", "Oliver", "Olivia", "Patrick", "Paul", "Peter", "Rachel", "Richard",
    "Robert", "Ruth", "Samuel", "Sandra", "Sarah", "Simon", "Sophie", "Steven", "Susan", "Thomas",
    "Victoria", "William", "Yvonne", "Zachary", "ann", "bob", "Eve", "Ivan", "Omar", "Ute",
]
NON_ASCII_GIVEN = [
    "Émile", "Élodie", "Zoë", "Jürgen", "Jörg", "Björn", "Søren", "Åsa", "Łukasz", "Łucja",
    "Małgorzata", "Zoltán", "Ágnes", "Dóra", "Iñigo", "Núria", "François", "Hélène", "Renée", "Çağla",
    "Dražen", "Šárka", "Jiří", "Tomáš", "Märta", "Ørjan", "Þóra", "Gísli", "Ľubomír", "Øystein",
]
REAL_SURNAMES = [
    "Adams", "Baker", "Brown", "Campbell", "Carter", "Clark", "Collins", "Cook", "Davies", "Edwards",
    "Evans", "Fischer", "Garcia", "Green", "Hall", "Harris", "Hughes", "Jackson", "Johnson", "Jones",
    "King", "Lee", "Lewis", "Martin", "Miller", "Moore", "Morgan", "Murphy", "Nelson", "Parker",
    "Phillips", "Roberts", "Robinson", "Scott", "Smith", "Taylor", "Thomas", "Turner", "Walker", "White",
    "Müller", "Schröder", "Weiß", "Groß", "Łukowski", "Wójcik", "Nuñez", "Peña", "Øvergaard", "Šimek",
    "Dvořák", "Ólafsdóttir", "Lefèvre", "Çelik", "Åberg", "van der Berg", "de la Cruz", "O'Brien",
    "MacLeod", "d'Arcy",
]
SURNAME_HEADS = [
    "Al", "Ber", "Cas", "Dun", "El", "Fer", "Gal", "Har", "Isen", "Jas", "Kel", "Lin", "Mor", "Nor", "Ost",
    "Pen", "Quel", "Ros", "Sta", "Tor", "Ul", "Var", "Wes", "Yar", "Zel",
]
SURNAME_TAILS = [
    "dale", "berg", "ford", "ton", "man", "wood", "ley", "son", "field", "stein", "ström", "ová", "ski",
    "ez", "ard", "well", "croft", "by", "holm", "ing",
]
WORDS = [
    "account", "archive", "billing", "building", "central", "client", "contract", "customer", "data",
    "delivery", "design", "desk", "development", "directory", "east", "engineering", "facilities",
    "finance", "floor", "group", "helpdesk", "infrastructure", "legal", "logistics", "marketing", "north",
    "office", "operations", "payroll", "platform", "project", "purchasing", "quality", "records",
    "regional", "research", "sales", "security", "service", "south", "staff", "support", "team", "west",
]
MAIL_DOMAINS = ["example.org", "mail.example.net", "corp.example.com"]

SPECIAL_FOLDS = {"ß": "ss", "Ł": "L", "ł": "l", "Ø": "O", "ø": "o", "Þ": "Th", "þ": "th", "Đ": "D", "đ": "d"}


def surnames():
    names = list(REAL_SURNAMES)
    names += [head + tail for head in SURNAME_HEADS for tail in SURNAME_TAILS]
    return list(dict.fromkeys(names))  # each surname once, so that drawn pairs stay distinct


def ascii_fold(text):
    """The name as a mail local part: letters only, accents dropped."""
    text = "".join(SPECIAL_FOLDS.get(ch, ch) for ch in text)
    decomposed = unicodedata.normalize("NFKD", text)
    return "".join(ch for ch in decomposed if ch.isascii() and ch.isalnum()).lower()


def is_safe(value):
    """LDIF SAFE-STRING: ASCII without NUL, LF, CR, not starting with space, colon or '<', no trailing space."""
    if not value:
        return True
    if value[0] in b" :<" or value[-1:] == b" ":
        return False
    return all(0 < b < 128 and b not in (10, 13) for b in value)


def ldif_line(name, value):
    if isinstance(value, str):
        value = value.encode("utf-8")
    if is_safe(value):
        line = f"{name}: " + value.decode("ascii")
    else:
        line = f"{name}:: " + base64.b64encode(value).decode("ascii")
    # Fold at 76 columns; a continuation line starts with one space.
    out = [line[:76]]
    rest = line[76:]
    while rest:
        out.append(" " + rest[:75])
        rest = rest[75:]
    return "\n".join(out) + "\n"


def pick_given(rng):
    if rng.random() < 0.17:
        return rng.choice(NON_ASCII_GIVEN)
    return rng.choice(ASCII_GIVEN)


def description(rng):
    words = []
    length = 0
    while length < 96:
        word = rng.choice(WORDS)
        words.append(word)
        length += len(word) + 1
    text = " ".join(words)
    return text[:100].rstrip().capitalize()


def person(rng, index, ou_dn, sn, given, photos):
    uid = f"p{index:06d}"
    dn = f"uid={uid},{ou_dn}"
    out = [f"dn: {dn}\n"]
    for oc in ("top", "person", "organizationalPerson", "inetOrgPerson"):
        out.append(f"objectClass: {oc}\n")
    out.append(ldif_line("cn", f"{given} {sn}"))
    if rng.random() < 0.35:
        out.append(ldif_line("cn", f"{given[0]}. {sn}"))
    out.append(ldif_line("sn", sn))
    out.append(ldif_line("givenName", given))
    out.append(f"uid: {uid}\n")
    local = f"{ascii_fold(given)}.{ascii_fold(sn)}"
    mails = [f"{local}@{MAIL_DOMAINS[0]}", f"{uid}@{MAIL_DOMAINS[1]}", f"{local}{index}@{MAIL_DOMAINS[2]}"]
    for mail in mails[: rng.randint(1, 3)]:
        out.append(ldif_line("mail", mail))
    for _ in range(rng.randint(0, 2)):
        out.append(ldif_line("telephoneNumber", f"+1 555 {rng.randint(100, 999)} {rng.randint(1000, 9999)}"))
    out.append(ldif_line("description", description(rng)))
    out.append(f"employeeNumber: {100000 + index}\n")
    if photos and index % 10 == 3:
        out.append(ldif_line("jpegPhoto", rng.randbytes(rng.randint(2048, 8192))))
    out.append("\n")
    return "".join(out)


def organisational_unit(suffix, ou):
    return f"dn: ou={ou},{suffix}\nobjectClass: organizationalUnit\nou: {ou}\n\n"


def write_unit(out, rng, suffix, ou, count, photos, unique_pairs):
    out.write(organisational_unit(suffix, ou))
    ou_dn = f"ou={ou},{suffix}"
    family = surnames()
    if unique_pairs:
        # Distinct (sn, givenName) pairs, drawn without replacement from every combination, with the same
        # share of non-ASCII given names as elsewhere.
        ascii_pairs = [(s, g) for s in family for g in ASCII_GIVEN]
        other_pairs = [(s, g) for s in family for g in NON_ASCII_GIVEN]
        other_count = round(count * 0.17)
        if count - other_count > len(ascii_pairs) or other_count > len(other_pairs):
            sys.exit(f"generate_people: at most {len(ascii_pairs) + len(other_pairs)} unique names")
        pairs = rng.sample(ascii_pairs, count - other_count) + rng.sample(other_pairs, other_count)
        rng.shuffle(pairs)
    for index in range(count):
        if unique_pairs:
            sn, given = pairs[index]
        else:
            sn, given = rng.choice(family), pick_given(rng)
        out.write(person(rng, index, ou_dn, sn, given, photos))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--suffix", default="dc=bench,dc=example")
    parser.add_argument("--people", type=int, default=20000, help="entries in ou=people")
    parser.add_argument("--scale", default="10000,100000",
                        help="comma-separated sizes of the ou=scale-<n> units (empty for none)")
    parser.add_argument("--seed", type=int, default=SEED)
    parser.add_argument("--out", default="-")
    args = parser.parse_args()

    first_dc = args.suffix.split(",")[0].split("=", 1)[1]
    out = sys.stdout if args.out == "-" else open(args.out, "w", encoding="utf-8", newline="\n")
    out.write(f"dn: {args.suffix}\nobjectClass: dcObject\nobjectClass: organization\n"
              f"dc: {first_dc}\no: Varnel benchmark\n\n")
    write_unit(out, random.Random(args.seed), args.suffix, "people", args.people, True, True)
    for size in [int(s) for s in args.scale.split(",") if s.strip()]:
        write_unit(out, random.Random(args.seed + size), args.suffix, f"scale-{size}", size, False, False)
    if out is not sys.stdout:
        out.close()


if __name__ == "__main__":
    main()
