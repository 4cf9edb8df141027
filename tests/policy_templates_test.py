"""The policy templates: well formed, references resolved, the (value name, type) pairs the program reads
under each policy key."""
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
# Each policy key, and the program's table of the values it reads there.
TABLES = {r"Software\Policies\Orvanta\Velmar\Update": ("src/update/policy/update_policy.cpp", "kPolicyValues"),
          r"Software\Policies\Orvanta\Velmar\CrashReporting": ("src/crashreport/crash_policy.cpp", "kCrashPolicyValues")}


def local(element):
    return element.tag.split("}")[1]


def value_type(element):
    if local(element) == "text":
        return "REG_EXPAND_SZ" if element.get("expandable") == "true" else "REG_SZ"
    if local(element) == "decimal":
        return "REG_SZ" if element.get("storeAsText") == "true" else "REG_DWORD"
    kinds = {local(k) for k in element.iter() if local(k) in ("decimal", "string") and k is not element}
    return {"decimal": "REG_DWORD", "string": "REG_SZ"}.get(kinds.pop(), "") if len(kinds) == 1 else f"? {kinds}"


def check(root):
    admx = ET.parse(root / "policy" / "velmar.admx").getroot()
    adml = ET.parse(root / "policy" / "en-US" / "velmar.adml").getroot()
    known = {"string": {s.get("id") for s in adml.iterfind("p:resources/p:stringTable/p:string", NS)},
             "presentation": {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}}
    categories = {c.get("name") for c in admx.iterfind("p:categories/p:category", NS)}
    prefixes = {u.get("prefix") for u in admx.iterfind("p:policyNamespaces/p:using", NS)}
    supported = {d.get("name") for d in admx.iterfind("p:supportedOn/p:definitions/p:definition", NS)}
    problems = [f"{name}={value}: no {kind} {ref!r} in the .adml" for e in admx.iter() for name, value in e.items()
                for kind, ref in re.findall(r"\$\((string|presentation)\.([^)]*)\)", value) if ref not in known[kind]]
    # A prefixed supportedOn names a definition in another template (windows:); the rest must be here.
    declared = {"parentCategory": lambda ref: ref in categories,
                "supportedOn": lambda ref: ref.split(":")[0] in prefixes if ":" in ref else ref in supported}
    problems += [f"{local(e)} {e.get('ref')!r} is not declared" for e in admx.iter()
                 if local(e) in declared and e.get("ref") is not None and not declared[local(e)](e.get("ref"))]
    found = {key: set() for key in TABLES}
    for policy in admx.iterfind("p:policies/p:policy", NS):
        if policy.get("class") != "Machine" or policy.get("key") not in TABLES:
            problems.append(f"{policy.get('name')}: class {policy.get('class')}, key {policy.get('key')}")
            continue
        elements = list(policy.iterfind("p:elements/*", NS))
        on_off = [v for v in (policy.find("p:enabledValue", NS), policy.find("p:disabledValue", NS)) if v is not None]
        found[policy.get("key")] |= {(policy.get("valueName"), value_type(v)) for v in on_off}
        found[policy.get("key")] |= {(e.get("valueName"), value_type(e)) for e in elements}
        ref = re.fullmatch(r"\$\(presentation\.(.*)\)", policy.get("presentation", ""))
        shown = {c.get("refId") for c in known["presentation"].get(ref and ref.group(1), []) if c.get("refId")}
        if {e.get("id") for e in elements} != shown:
            problems.append(f"{policy.get('name')}: elements {sorted(e.get('id') for e in elements)}, shown {shown}")
    for key, (source, name) in TABLES.items():
        table = re.search(name + r"\[\] = \{(.*?)\};", (root / source).read_text(encoding="utf-8"), re.S)
        program = re.findall(r'\{L"(\w+)", (REG_\w+)\}', table.group(1)) if table else []
        if not program or len(set(program)) != len(program) or found[key] != set(program):
            problems.append(f"under {key} the templates write {sorted(found[key], key=str)}, "
                            f"the program reads {sorted(program)}")
    return problems


if __name__ == "__main__":
    problems = check(pathlib.Path(sys.argv[1]))
    print("\n".join(problems) or "ok")
    sys.exit(1 if problems else 0)
