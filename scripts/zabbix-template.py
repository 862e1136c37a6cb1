#!/usr/bin/env python3
"""Writes contrib/zabbix/cobrix_template_7.0.yaml from cobrix_template.yaml, and
the guide's reference tables of the templates into doc/guia.md.

The Zabbix 6.0 file is the one that is edited by hand; the 7.0 file is made
from it: what Zabbix 7.0 itself makes of the 6.0 file when it imports it
(its import converters from 6.0 to 7.0, for what these templates use), plus
two things that only 7.0 has: every item whose check the server, proxy or
agent may kill at a timeout (external check, agent item, ODBC query, also as
discovery rule or prototype) carries the timeout {$COBRIX.TEMPO_LIMITE}, which
each template holding such an item defines; and every discovery rule
disables what it no longer finds at once (the 6.0 file's prototypes stop
such items themselves), deleting it after the rule's lifetime as on 6.0.
The Zabbix tests on 7.0 check that both files mean the same to Zabbix,
apart from these two.

The SQL of every ODBC item, db.odbc.get[NAME,...], is queries.sql's query
NAME, to the byte: the script fails, in both uses, when the 6.0 file's
differs.

The guide's tables (macros, items, triggers, discovery rules, the macros
renamed since the previous version) sit between the lines
"<!-- gerado: NAME -->" and "<!-- fim: NAME -->" of doc/guia.md; the script
rewrites what is between them and leaves the rest of the guide alone (a guide
that does not exist yet is made of the tables alone).

  usage: zabbix-template.py          writes the 7.0 file and the guide's tables
         zabbix-template.py --check  fails if either is not what it would write
"""
import re
import sys
from pathlib import Path

import yaml

ZABBIX = Path(__file__).resolve().parent.parent / "contrib" / "zabbix"
SOURCE = ZABBIX / "cobrix_template.yaml"
TARGET = ZABBIX / "cobrix_template_7.0.yaml"
QUERIES = ZABBIX / "queries.sql"
GUIDE = ZABBIX.parent.parent / "doc" / "guia.md"

# The item types whose checks 7.0 bounds by the item's own timeout.
TIMEOUT_TYPES = {"ZABBIX_PASSIVE", "ZABBIX_ACTIVE", "SIMPLE", "EXTERNAL", "ODBC", "SSH", "TELNET"}
TIMEOUT_MACRO = {
    "macro": "{$COBRIX.TEMPO_LIMITE}",
    "value": "30s",
    "description": "Quanto tempo uma verificação deste template pode durar (a execução, o item do agente, a consulta "
                   "ODBC) antes de ser parada. 30s cobrem uma execução de até 200.000 clientes em atraso (a tabela de "
                   "tempos limite do guia); no máximo 600s.",
}
# The macros of the previous version that this one names otherwise (a host's
# value of the old name no longer applies; the guide tells how to rename it),
# and those it no longer has (None: the per-host file holds the value now, or
# nothing uses it).
RENAMED = {
    "{$COBRIX.INTERVAL}": "{$COBRIX.INTERVALO}",
    "{$COBRIX.NODATA}": "{$COBRIX.SEM_DADOS}",
    "{$COBRIX.TIMEOUT}": "{$COBRIX.TEMPO_LIMITE}",
    "{$COBRIX.TOTALS.INTERVAL}": "{$COBRIX.RESUMO.INTERVALO}",
    "{$COBRIX.ODBC.USER}": "{$COBRIX.ODBC.USUARIO}",
    "{$COBRIX.ODBC.PASSWORD}": "{$COBRIX.ODBC.SENHA}",
    "{$COBRIX.FILIAL.MATCHES}": "{$COBRIX.FILIAL.INCLUIR}",
    "{$COBRIX.FILIAL.NOT_MATCHES}": "{$COBRIX.FILIAL.EXCLUIR}",
    "{$COBRIX.CIDADE.MATCHES}": "{$COBRIX.CIDADE.INCLUIR}",
    "{$COBRIX.CIDADE.NOT_MATCHES}": "{$COBRIX.CIDADE.EXCLUIR}",
    "{$COBRIX.LLD.INTERVAL}": "{$COBRIX.DESCOBERTA.INTERVALO}",
    "{$COBRIX.LLD.LIFETIME}": "{$COBRIX.DESCOBERTA.RETENCAO}",
    "{$COBRIX.DEVEDOR.LIFETIME}": "{$COBRIX.DEVEDOR.RETENCAO}",
    "{$COBRIX.RESUMO.NODATA}": "{$COBRIX.RESUMO.SEM_DADOS}",
    "{$COBRIX.UNSUPPORTED.INTERVAL}": None,
    "{$IXC.DB.HOST}": None, "{$IXC.DB.PORT}": None, "{$IXC.DB.USER}": None, "{$IXC.DB.NAME}": None,
    "{$PG.HOST}": None, "{$PG.PORT}": None, "{$PG.DB}": None, "{$PG.USER}": None,
}
WIDGET_TYPES = {"CLOCK": "clock", "GRAPH_CLASSIC": "graph", "GRAPH_PROTOTYPE": "graphprototype",
                "ITEM": "item", "PLAIN_TEXT": "plaintext", "URL": "url"}
TEXT_TYPES = {"CHAR", "LOG", "TEXT"}
QUOTED = re.compile(r'"(?:\\"|[^"])*"')


def fail(message):
    sys.exit(f"zabbix-template.py: {message}")


def queries():
    """queries.sql's queries by name: the text from each "-- query: NAME"
    line to the next, without its comment lines and outer blank lines."""
    found, name = {}, None
    for line in QUERIES.read_text(encoding="utf-8").splitlines():
        header = re.fullmatch(r"-- query: (\S+)", line)
        if header:
            name = header.group(1)
            found[name] = []
        elif name and not line.startswith("--"):
            found[name].append(line)
    return {name: "\n".join(lines).strip() + "\n" for name, lines in found.items()}


def check_queries(export):
    """Every ODBC item, discovery rule or prototype sends queries.sql's query
    of its key's first parameter."""
    known = queries()
    for template in export.get("templates", []):
        rules = template.get("discovery_rules", [])
        for item in template.get("items", []) + rules + [p for r in rules for p in r.get("item_prototypes", [])]:
            if item.get("type") != "ODBC":
                continue
            name = re.match(r"db\.odbc\.get\[([^,\]]*)", item["key"])
            if not name or name.group(1) not in known:
                fail(f"{item['key']}: queries.sql não tem a consulta desse nome")
            if item.get("params") != known[name.group(1)]:
                fail(f"{item['key']}: a consulta difere da de {QUERIES.name} ({name.group(1)})")


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
    # 7.0's importer keeps lost resources enabled (DISABLE_NEVER) unless the
    # lifetime is 0; these templates disable them at once either way.
    rule["enabled_lifetime_type"] = "DISABLE_IMMEDIATELY"
    lifetime = rule.setdefault("lifetime", "30d")
    if re.fullmatch(r"0[smhdw]?", lifetime):
        rule["lifetime_type"] = "DELETE_IMMEDIATELY"
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


def item_history_fields(fields, items, reference):
    """7.0 has no plain text widget: its importer makes it an item history
    widget, each item a column numbered by the item's place in the template's
    item list, text in a monospace font. (Its "show as HTML" is not carried
    over: text stays text.)"""
    places = {item["key"]: place for place, item in enumerate(items)}
    converted = [{"type": "INTEGER", "name": "show_timestamp", "value": "1"},
                 {"type": "STRING", "name": "reference", "value": reference}]
    for field in fields:
        if field["name"] == "itemids":
            key = field["value"]["key"]
            if key not in places:
                fail(f"o widget de texto mostra um item que o template não tem: {key}")
            item = items[places[key]]
            column = f"columns.{places[key]}"
            converted += [{"type": "STRING", "name": f"{column}.name", "value": item["name"]},
                          {"type": "ITEM", "name": f"{column}.itemid", "value": field["value"]}]
            if item.get("value_type") in TEXT_TYPES:
                converted.append({"type": "INTEGER", "name": f"{column}.monospace_font", "value": "1"})
        elif field["name"] == "style":
            converted.append(dict(field, name="layout"))
        elif field["name"] == "show_as_html":
            fail("o widget de texto com show_as_html não é convertido")
        else:
            converted.append(field)
    return converted


def convert_dashboard(dashboard, items):
    """7.0's dashboards are 72 columns wide instead of 24, widget types are
    module names, graph widgets carry a reference for other widgets, and a
    plain text widget becomes an item history widget."""
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
            elif widget["type"] == "plaintext":
                widget["type"] = "itemhistory"
                widget["fields"] = fields = item_history_fields(fields, items, reference)
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
            convert_dashboard(dashboard, template.get("items", []))
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
    """The 7.0 file's text and the guide's."""
    source = yaml.safe_load(SOURCE.read_text(encoding="utf-8"))
    check_queries(source["zabbix_export"])
    guide_text = guide(source["zabbix_export"])
    return guide_text, HEADER + yaml.dump({"zabbix_export": convert(source["zabbix_export"])}, Dumper=Dumper, allow_unicode=True,
                     sort_keys=False, width=100000, default_flow_style=False)


# --- The guide's reference tables, from the 6.0 file.
ITEM_TYPES = {"EXTERNAL": "verificação externa", "ZABBIX_PASSIVE": "agente", "TRAP": "trapper", "ODBC": "ODBC",
              "DEPENDENT": "dependente", "INTERNAL": "interno", "CALCULATED": "calculado"}
PRIORITIES = {"NOT_CLASSIFIED": "não classificada", "INFO": "informação", "WARNING": "atenção", "AVERAGE": "média",
              "HIGH": "alta", "DISASTER": "desastre"}


def one_line(text):
    return " ".join(str(text).split()).replace("|", "\\|")


def cell(text):
    """A table cell of text: one line, pipes escaped, no HTML."""
    return one_line(text).replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def code(text):
    return f"`{one_line(text)}`" if text not in (None, "") else ""


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return "\n".join(lines)


def source_of(item):
    if item.get("type") == "DEPENDENT":
        return f"de {code(item['master_item']['key'])}"
    if item.get("type") == "TRAP":
        return f"enviado; aceito de {code(item.get('allowed_hosts', 'qualquer endereço'))}"
    return f"a cada {code(item.get('delay', '1m'))}"


def trigger_rows(template, trigger):
    depends = ", ".join(d["name"] for d in trigger.get("dependencies", []))
    return [template, cell(trigger["name"]), cell(trigger.get("event_name", "")),
            PRIORITIES[trigger.get("priority", "NOT_CLASSIFIED")], code(trigger["expression"]), cell(depends)]


def guide_tables(export):
    """The reference tables of the templates, by name."""
    macros, items, triggers, rules = [], [], [], []
    for template in export["templates"]:
        name = cell(template["name"])
        timed = False
        for item in template.get("items", []):
            timed = timed or item.get("type") in TIMEOUT_TYPES
            items.append([name, cell(item["name"]), code(item["key"]), ITEM_TYPES[item["type"]], source_of(item),
                          code(item.get("units", ""))])
            triggers += [trigger_rows(name, t) for t in item.get("triggers", [])]
        for rule in template.get("discovery_rules", []):
            conditions = [f"{c['macro']} {'não casa com' if c.get('operator') == 'NOT_MATCHES_REGEX' else 'casa com'} "
                          f"{c['value']}" for c in rule.get("filter", {}).get("conditions", [])]
            prototypes = rule.get("item_prototypes", [])
            rules.append([name, cell(rule["name"]), code(rule["key"]), source_of(rule), cell("; ".join(conditions)),
                          code(rule.get("lifetime", "30d")),
                          "<br>".join(f"{cell(p['name'])}: {code(p['key'])}" + (f" ({code(p['units'])})" if p.get("units") else "")
                                      for p in prototypes)])
            for prototype in prototypes:
                triggers += [trigger_rows(name, t) for t in prototype.get("trigger_prototypes", [])]
            triggers += [trigger_rows(name, t) for t in rule.get("trigger_prototypes", [])]
        for macro in template.get("macros", []):
            default = "(secreta)" if macro.get("type") == "SECRET_TEXT" else code(macro.get("value", ""))
            macros.append([name, code(macro["macro"]), default, cell(macro.get("description", ""))])
        if timed:
            macros.append([name, code(TIMEOUT_MACRO["macro"]), code(TIMEOUT_MACRO["value"]),
                           "Só no Zabbix 7.0. " + cell(TIMEOUT_MACRO["description"])])
    triggers += [trigger_rows("", t) for t in export.get("triggers", [])]
    renamed = [[code(old), code(new) if new else "(sai: " + ("o arquivo do host guarda o valor" if old.startswith(
        ("{$IXC", "{$PG")) else "nada mais a usa") + ")"] for old, new in RENAMED.items()]
    return {
        "macros": table(["Template", "Macro", "Padrão", "Descrição"], macros),
        "itens": table(["Template", "Item", "Chave", "Tipo", "Valor", "Unidades"], items),
        "gatilhos": table(["Template", "Gatilho", "Nome do evento", "Gravidade", "Expressão", "Depende de"], triggers),
        "descobertas": table(["Template", "Regra", "Chave", "Valor", "Filtro", "Retenção", "Protótipos de itens"], rules),
        "macros-renomeadas": table(["Macro da versão anterior", "Nesta versão"], renamed),
    }


def guide(export):
    """doc/guia.md with each marked section's lines replaced by its table."""
    tables = guide_tables(export)
    text = GUIDE.read_text(encoding="utf-8") if GUIDE.exists() else "".join(
        f"<!-- gerado: {name} -->\n<!-- fim: {name} -->\n\n" for name in tables).rstrip("\n") + "\n"
    for name, body in tables.items():
        pattern = re.compile(rf"(^<!-- gerado: {re.escape(name)} -->\n).*?(^<!-- fim: {re.escape(name)} -->$)",
                             re.S | re.M)
        if not pattern.search(text):
            fail(f"{GUIDE.name} não tem as linhas <!-- gerado: {name} --> e <!-- fim: {name} -->")
        text = pattern.sub(lambda m: m.group(1) + body + "\n" + m.group(2), text)
    return text


def main():
    guide_text, text = render()
    if sys.argv[1:] == ["--check"]:
        if not TARGET.exists() or TARGET.read_text(encoding="utf-8") != text:
            fail(f"{TARGET.name} não corresponde a {SOURCE.name}: rode scripts/zabbix-template.py")
        if not GUIDE.exists() or GUIDE.read_text(encoding="utf-8") != guide_text:
            fail(f"as tabelas de {GUIDE.name} não correspondem a {SOURCE.name}: rode scripts/zabbix-template.py")
        print(f"{TARGET.name} e as tabelas de {GUIDE.name}: em dia com {SOURCE.name}")
    elif sys.argv[1:]:
        fail("uso: zabbix-template.py [--check]")
    else:
        TARGET.write_text(text, encoding="utf-8")
        GUIDE.write_text(guide_text, encoding="utf-8")


if __name__ == "__main__":
    main()
