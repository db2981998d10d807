#!/usr/bin/env python3
"""check_csharp_declarations.py <zelkor.h> <Zelkor.cs>

Fails when the C# P/Invoke declarations and the C header disagree: a function
missing on either side, another parameter count, a parameter or return type
that does not marshal as the C type, a call without the cdecl convention, or
another card_info / KeyType layout."""
import re
import sys

# C parameter type -> the C# forms that marshal as it.
TYPES = {
    "int": {"int"},
    "void": {""},
    "unsigned char": {"byte"},
    "unsigned char *": {"byte[]"},
    "char const *": {"byte[]"},
    "const char *": {"byte[]"},
    "int *": {"ref int", "out int"},
    "card_info *": {"ref CardInfo", "out CardInfo"},
    "KeyType": {"KeyType"},
    "bool": {"[MarshalAs(UnmanagedType.U1)] bool"},
}
# Wallet amounts are declared as bytes but are a native int.
AMOUNT = {"ref int"}


def c_functions(header):
    text = re.sub(r"/\*.*?\*/", "", header, flags=re.S)
    functions = {}
    for m in re.finditer(r"ZELKOR_API\s+(\w+)\s+(\w+)\s*\(([^)]*)\)\s*;", text):
        params = []
        for raw in m.group(3).split(","):
            raw = " ".join(raw.split())
            if raw in ("void", ""):
                continue
            pm = re.match(r"(.*?)(\w+)$", raw)
            ctype = " ".join(pm.group(1).replace("*", " * ").split()).replace(" *", " *")
            params.append((ctype, pm.group(2)))
        functions[m.group(2)] = (m.group(1), params)
    return functions


def cs_functions(source):
    functions = {}
    pattern = r"\[DllImport\(([^)]*)\)\]\s*public static extern (\w+) (\w+)\((.*)\);\s*$"
    for m in re.finditer(pattern, source, flags=re.M):
        params = []
        for raw in filter(None, (p.strip() for p in m.group(4).split(","))):
            params.append(raw.rsplit(" ", 1))
        functions[m.group(3)] = (m.group(1), m.group(2), params)
    return functions


def main():
    header = open(sys.argv[1], encoding="utf-8").read()
    source = open(sys.argv[2], encoding="utf-8").read()
    c, cs = c_functions(header), cs_functions(source)
    problems = []
    if len(c) != 37:
        problems.append(f"the header declares {len(c)} functions, not 37")
    for name in sorted(set(c) ^ set(cs)):
        problems.append(f"{name}: only in {'the header' if name in c else 'the C# declarations'}")
    for name in sorted(set(c) & set(cs)):
        (c_return, c_params), (attributes, cs_return, cs_params) = c[name], cs[name]
        if "Cdecl" not in attributes:
            problems.append(f"{name}: not declared with CallingConvention.Cdecl")
        if cs_return != c_return:
            problems.append(f"{name}: returns {cs_return}, the header {c_return}")
        if len(cs_params) != len(c_params):
            problems.append(f"{name}: {len(cs_params)} parameters, the header {len(c_params)}")
            continue
        for (ctype, cname), (cstype, _) in zip(c_params, cs_params):
            allowed = AMOUNT if cname == "amount" else TYPES.get(ctype, set())
            if cstype not in allowed:
                problems.append(f"{name}({cname}): C# {cstype!r} does not marshal as C {ctype!r}")
    uid = re.search(r"#define ZELKOR_UID_SIZE (\d+)", header).group(1)
    if not re.search(rf"UidSize = {uid};", source) or "LayoutKind.Sequential" not in source:
        problems.append(f"CardInfo is not a sequential struct with a {uid}-byte UID")
    c_keys = dict(re.findall(r"(Key[AB]) = (\d+)", re.search(r"enum KeyType \{([^}]*)\}", header).group(1)))
    cs_keys = dict(re.findall(r"(Key[AB]) = (\d+)", re.search(r"enum KeyType\s*\{([^}]*)\}", source).group(1)))
    if c_keys != cs_keys:
        problems.append(f"KeyType: C# {cs_keys}, the header {c_keys}")
    for problem in problems:
        print(problem, file=sys.stderr)
    if not problems:
        print(f"{len(cs)} C# declarations match the header")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
