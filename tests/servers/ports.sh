# shellcheck shell=bash
# Sourced by the fixtures' start scripts.

# port_in_use ADDRESS PORT: whether something accepts connections there.
port_in_use() { (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

# free_port ENV ADDRESS...: a port free on every ADDRESS and not yet named in
# the env file ENV. It is taken below the ephemeral range (32768 up), where a
# client connection may hold a port that looked free a moment before.
free_port() {
  local env=$1 p a
  shift
  while :; do
    p=$((20000 + RANDOM % 12768))
    grep -q "=$p\$" "$env" 2>/dev/null && continue
    for a in "$@"; do port_in_use "$a" "$p" && continue 2; done
    echo "$p"
    return
  done
}

# mariadb_ready SOCKET PASSWORD: waits for a starting mariadbd, then drops
# its anonymous users and gives it the user cobrix, from anywhere, with
# PASSWORD and every privilege.
mariadb_ready() {
  for _ in $(seq 1 300); do
    mariadb-admin --no-defaults --socket="$1" -uroot ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb --no-defaults --socket="$1" -uroot <<SQL
DELETE FROM mysql.global_priv WHERE User = '';
CREATE USER 'cobrix'@'%' IDENTIFIED BY '$2';
GRANT ALL PRIVILEGES ON *.* TO 'cobrix'@'%' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
}
