# shellcheck shell=bash
# What differs between the Zabbix releases that tests/zabbix runs on, sourced
# by its scripts: Debian 12's Zabbix 6.0 and Debian 13's 7.0, told apart by
# the installed server package. The one place to change for another release,
# or for another difference that a test meets.
# shellcheck disable=SC2034  # every setting here is read by the sourcing script
zbx_package_version=$(dpkg-query -W -f='${Version}' zabbix-server-pgsql)   # 1:7.0.22+dfsg-1~deb13u1
ZBX_RELEASE=$(sed -E 's/^([0-9]+:)?([0-9]+\.[0-9]+)\..*/\2/' <<<"$zbx_package_version")

# The import rules of the frontend's "Import" form for templates, as it
# offers them by default to a Super admin.
zbx_rules_common='"templates": {"updateExisting": true, "createMissing": true},
  "templateLinkage": {"createMissing": true, "deleteMissing": DELETE},
  "valueMaps": {"updateExisting": true, "createMissing": true, "deleteMissing": DELETE},
  "templateDashboards": {"updateExisting": true, "createMissing": true, "deleteMissing": DELETE},
  "items": {"updateExisting": true, "createMissing": true, "deleteMissing": DELETE},
  "discoveryRules": {"updateExisting": true, "createMissing": true, "deleteMissing": DELETE},
  "triggers": {"updateExisting": true, "createMissing": true, "deleteMissing": DELETE},
  "graphs": {"updateExisting": true, "createMissing": true, "deleteMissing": DELETE},
  "httptests": {"updateExisting": true, "createMissing": true, "deleteMissing": DELETE}'

case $ZBX_RELEASE in
  6.0)
    # The shipped template file for this release.
    zbx_template=cobrix_template.yaml
    # The server's, proxy's and agent's Timeout, which bounds every external
    # check, agent item and ODBC query: set as the guide's "Timeouts" says
    # for a run of up to 55,000 overdue customers.
    zbx_daemon_timeout=10
    # How long one check may last, and the item timeout that sets it (none).
    zbx_check_timeout=$zbx_daemon_timeout
    zbx_item_timeout=
    # Proxy settings that only this release knows.
    zbx_proxy_settings=$'ConfigFrequency=1\nStartHistoryPollers=1'
    zbx_import_rules="{\"groups\": {\"updateExisting\": true, \"createMissing\": true}, ${zbx_rules_common//DELETE/false}}"
    # The API of the groups that hold templates.
    zbx_template_group_api=hostgroup
    # The session token travels in the request's "auth" member.
    zbx_bearer=0
    # The proxy's name in the proxy API.
    zbx_proxy_name=host
    # zbx_proxy_params NAME: proxy.create's parameters for an active proxy.
    zbx_proxy_params() { jq -n --arg name "$1" '{host: $name, status: 5}'; }
    # zbx_by_proxy PROXYID: host.create's members for a host monitored by it.
    zbx_by_proxy() { jq -n --arg id "$1" '{proxy_hostid: $id}'; }
    # A widget's view request, as the dashboard's script sends it: jq over
    # one widget of the page's dashboard data ($d the dashboard, $h the
    # host); its fields travel as JSON text, the host apart. The page's
    # session token goes in the address (zbx_widget_sid=1).
    zbx_widget_request='{templateid: $d.templateid, dashboardid: $d.dashboardid, widgetid, name,
      fields: (.fields | tojson), dynamic_hostid: $h, view_mode: 0, edit_mode: 0, page: 1,
      content_width: 1200, content_height: 300}'
    zbx_widget_sid=1
    # What a discovery rule does with what it no longer finds: its items
    # stay enabled (the template's JSONPath discards their values).
    zbx_lost_status=0
    ;;
  7.0)
    zbx_template=cobrix_template_7.0.yaml
    # Left at the default: 7.0 bounds external checks, agent items and ODBC
    # queries by the item's own timeout (the template's {$COBRIX.TEMPO_LIMITE}),
    # or else by Administration → General → Timeouts (3 s by default).
    zbx_daemon_timeout=
    zbx_check_timeout=30
    zbx_item_timeout='{$COBRIX.TEMPO_LIMITE}'
    zbx_proxy_settings='ProxyConfigFrequency=1'
    zbx_import_rules="{\"template_groups\": {\"updateExisting\": true, \"createMissing\": true},
      \"host_groups\": {\"updateExisting\": true, \"createMissing\": true}, ${zbx_rules_common//DELETE/true}}"
    zbx_template_group_api=templategroup
    # The session token travels in the header "Authorization: Bearer".
    zbx_bearer=1
    zbx_proxy_name=name
    zbx_proxy_params() { jq -n --arg name "$1" '{name: $name, operating_mode: 0}'; }
    zbx_by_proxy() { jq -n --arg id "$1" '{monitored_by: 1, proxyid: $id}'; }
    # The fields as an object, the dashboard's host and time period in place
    # of the references to them.
    zbx_widget_request='{templateid: $d.templateid, dashboardid: $d.dashboardid, widgetid, name,
      fields: (.fields | walk(if type == "object" and ._reference == "DASHBOARD._hostid" then [$h]
        elif type == "object" and ._reference == "DASHBOARD._timeperiod" then {from: "now-1h", to: "now"}
        else . end)),
      view_mode: 0, edit_mode: 0, page: 1, contents_width: 1200, contents_height: 300}'
    zbx_widget_sid=0
    # Disabled at once (the template's DISABLE_IMMEDIATELY).
    zbx_lost_status=1
    ;;
  *)
    echo "tests/zabbix/release.sh: Zabbix $ZBX_RELEASE ($zbx_package_version) não é uma versão conhecida" >&2
    return 1
    ;;
esac
