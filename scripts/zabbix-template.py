#!/usr/bin/env python3
"""Writes contrib/zabbix/cobrix_template_7.0.yaml from cobrix_template.yaml.

The Zabbix 6.0 file is the one that is edited by hand; the 7.0 file is made
from it: what Zabbix 7.0 itself makes of the 6.0 file when it imports it
(its import converters from 6.0 to 7.0, for what these templates use), plus
one thing that only 7.0 has: every item whose check the server, proxy or
agent may kill at a timeout (external check, agent item, ODBC query, also as
discovery rule or prototype) carries the timeout {$COBRIX.TIMEOUT}, which
each template holding such an item defines. The Zabbix tests on 7.0 check
that both files mean the same to Zabbix, apart from that timeout.

  usage: zabbix-template.py          writes the 7.0 file
         zabbix-template.py --check  fails if the 7.0 file is not what it would write
"""
import re
import sys
from pathlib import Path

import yaml

ZABBIX = Path(__file__).resolve().parent.parent / "contrib" / "zabbix"
SOURCE = ZABBIX / "cobrix_template.yaml"
TARGET = ZABBIX / "cobrix_template_7.0.yaml"

# The item types whose checks 7.0 bounds by the item's own timeout.
TIMEOUT_TYPES = {"ZABBIX_PASSIVE", "ZABBIX_ACTIVE", "SIMPLE", "EXTERNAL", "ODBC", "SSH", "TELNET"}
TIMEOUT_MACRO = {
    "macro": "{$COBRIX.TIMEOUT}",
    "value": "30s",
    "description": "How long one check of this template may last (the run, the agent item, the ODBC query) "
                   "before it is stopped and its item left not supported. 30s covers a run of up to 200,000 "
                   "overdue customers (the guide's Timeouts table); at most 600s.",
}
WIDGET_TYPES = {"CLOCK": "clock", "GRAPH_CLASSIC": "graph", "GRAPH_PROTOTYPE": "graphprototype",
                "ITEM": "item", "URL": "url"}
QUOTED = re.compile(r'"(?:\\"|[^"])*"')


def fail(message):
    sys.exit(f"zabbix-template.py: {message}")


def escape_backslashes(expression):
    """7.0 reads a backslash in a quoted function parameter as an escape: a
    6.0 parameter's literal backslash becomes two ("\\"" stays a quote)."""
    return QUOTED.sub(lambda m: re.sub(r'\\(?!")', r"\\\\", m.group(0)), expression)


def convert_triggers(triggers):
    for trigger in triggers:
        for key in ("expression", "recovery_expression"):
            if key in trigger:
                trigger[key] = escape_backslashes(trigger[key])
        if "\\" in trigger.get("event_name", ""):
            fail(f"event_name com barra invertida não é convertido: {trigger['event_name']}")


def convert_item(item, prototype=False):
    """Returns whether the item got the timeout."""
    item.setdefault("type", "ZABBIX_PASSIVE")
    if item["type"] == "CALCULATED" and "params" in item:
        if "last_foreach" in item["params"]:
            fail("fórmula com last_foreach não é convertida")
        item["params"] = escape_backslashes(item["params"])
    for step in item.get("preprocessing", []):
        if step["type"] == "CHECK_NOT_SUPPORTED":
            step["parameters"] = ["-1"]
    if prototype:
        item.pop("inventory_link", None)
    elif "history" not in item:
        item["history"] = "90d"  # 6.0's default, which 7.0 no longer has
    for key in ("triggers", "trigger_prototypes"):
        convert_triggers(item.get(key, []))
    if item["type"] in TIMEOUT_TYPES:
        item["timeout"] = TIMEOUT_MACRO["macro"]
        return True
    return False


def convert_discovery_rule(rule):
    timed = convert_item(rule, prototype=True)
    rule["enabled_lifetime_type"] = "DISABLE_NEVER"
    lifetime = rule.setdefault("lifetime", "30d")
    if re.fullmatch(r"0[smhdw]?", lifetime):
        rule["lifetime_type"] = "DELETE_IMMEDIATELY"
        rule["enabled_lifetime_type"] = "DISABLE_IMMEDIATELY"
    for prototype in rule.get("item_prototypes", []):
        timed = convert_item(prototype, prototype=True) or timed
    convert_triggers(rule.get("trigger_prototypes", []))
    if rule.get("host_prototypes"):
        fail("protótipos de host não são convertidos")
    return timed


def next_reference(reference):
    """The next widget reference: AAAAA, AAAAB, ..., AAAAZ, AAABA."""
    letters = list(reference)
    for i in reversed(range(len(letters))):
        if letters[i] != "Z":
            letters[i] = chr(ord(letters[i]) + 1)
            return "".join(letters)
        letters[i] = "A"
    fail("referências de widget esgotadas")


def natural_key(text):
    return [int(part) if part.isdigit() else part.lower() for part in re.split(r"(\d+)", text)]


def convert_dashboard(dashboard):
    """7.0's dashboards are 72 columns wide instead of 24, widget types are
    module names, and graph widgets carry a reference for other widgets."""
    reference = "AAAAA"
    for page in dashboard.get("pages", []):
        for widget in page.get("widgets", []):
            if widget["type"] not in WIDGET_TYPES:
                fail(f"widget {widget['type']} não é convertido")
            widget["type"] = WIDGET_TYPES[widget["type"]]
            if "x" in widget:
                widget["x"] = str(int(widget["x"]) * 3)
            widget["width"] = str(int(widget.get("width", "1")) * 3)
            fields = widget.get("fields", [])
            for field in fields:
                name = re.sub(r"^([a-z]+)\.([a-z_]+)\.(\d+)\.(\d+)$", r"\1.\3.\2.\4", field["name"])
                field["name"] = re.sub(r"^([a-z]+)\.([a-z_]+)\.(\d+)$", r"\1.\3.\2", name)
            if widget["type"] in ("graph", "graphprototype"):
                fields.append({"type": "STRING", "name": "reference", "value": reference})
                reference = next_reference(reference)
            if fields:
                widget["fields"] = sorted(fields, key=lambda f: natural_key(f["name"]))


def convert(export):
    export["version"] = "7.0"
    export.pop("date", None)
    if "groups" in export:
        export["template_groups"] = export.pop("groups")
    if "hosts" in export:
        fail("hosts não são convertidos")
    for template in export.get("templates", []):
        timed = False
        for item in template.get("items", []):
            timed = convert_item(item) or timed
        for rule in template.get("discovery_rules", []):
            timed = convert_discovery_rule(rule) or timed
        for dashboard in template.get("dashboards", []):
            convert_dashboard(dashboard)
        if timed:
            template.setdefault("macros", []).insert(0, dict(TIMEOUT_MACRO))
    convert_triggers(export.get("triggers", []))
    # Keys in the order Zabbix writes them.
    order = ["version", "template_groups", "templates", "triggers", "graphs"]
    return {key: export[key] for key in order + sorted(export) if key in export}


class Dumper(yaml.SafeDumper):
    """YAML in the layout of Zabbix's own export (Symfony's dumper): lists
    indented under their key, texts of several lines as literal blocks, and
    single quotes around every text that Symfony's dumper quotes (its reader
    takes some plain words for numbers, booleans, null or dates)."""

    def increase_indent(self, flow=False, indentless=False):
        return super().increase_indent(flow, False)


NEEDS_QUOTES = re.compile(r"""[\s'":{}\[\],&*#?]|^[-?|<>=!%@`]|^$"""
                          r"|^[-+]?(\d[\d_]*\.?\d*|\.\d+)([eE][-+]?\d+)?$|^0x[0-9a-fA-F]+$|^\d{4}-\d\d-\d\d"
                          r"|^(y|Y|n|N|yes|Yes|YES|no|No|NO|on|On|ON|off|Off|OFF|true|True|TRUE|false|False|FALSE"
                          r"|null|Null|NULL|~)$")


def represent_str(dumper, text):
    if "\n" in text:
        return dumper.represent_scalar("tag:yaml.org,2002:str", text, style="|")
    return dumper.represent_scalar("tag:yaml.org,2002:str", text, style="'" if NEEDS_QUOTES.search(text) else None)


Dumper.add_representer(str, represent_str)


HEADER = (f"# Zabbix 7.0: made by scripts/zabbix-template.py from {SOURCE.name} (Zabbix 6.0);\n"
          f"# edit that file and run the script again.\n")


def render():
    source = yaml.safe_load(SOURCE.read_text(encoding="utf-8"))
    return HEADER + yaml.dump({"zabbix_export": convert(source["zabbix_export"])}, Dumper=Dumper, allow_unicode=True,
                     sort_keys=False, width=100000, default_flow_style=False)


def main():
    text = render()
    if sys.argv[1:] == ["--check"]:
        if not TARGET.exists() or TARGET.read_text(encoding="utf-8") != text:
            fail(f"{TARGET.name} não corresponde a {SOURCE.name}: rode scripts/zabbix-template.py")
        print(f"{TARGET.name}: em dia com {SOURCE.name}")
    elif sys.argv[1:]:
        fail("uso: zabbix-template.py [--check]")
    else:
        TARGET.write_text(text, encoding="utf-8")


if __name__ == "__main__":
    main()
