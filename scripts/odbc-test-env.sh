#!/bin/sh
# A throw-away ODBC environment for the database tests: odbcinst.ini with the SQLite3 and
# PostgreSQL drivers, odbc.ini with one data source of each, and a PostgreSQL server that listens
# only on a Unix socket inside the directory. Installs nothing: the packages unixodbc,
# libsqliteodbc, odbc-postgresql and postgresql must be there.
#
#   odbc-test-env.sh start DIR     prepare DIR, start the server, print the variables to export
#   odbc-test-env.sh stop DIR      stop the server (the directory is left for inspection)
#   odbc-test-env.sh env DIR       print the variables again
#   odbc-test-env.sh prepare DIR   only the ini files and the SQLite data source (no server)
#   odbc-test-env.sh pg-stop DIR / pg-start DIR   take the server away and bring it back
#
# The tests read ODBCSYSINI and ODBCINI, and run their PostgreSQL cases only when
# QUORNA_TEST_PG_DSN names the ready data source.
set -eu

cmd=${1:-}
dir=${2:-}
if [ -z "$cmd" ] || [ -z "$dir" ]; then
    echo "usage: $0 start|stop|env|prepare|pg-stop|pg-start DIR" >&2
    exit 2
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

pgbin=${QUORNA_PG_BIN:-}
if [ -z "$pgbin" ]; then
    for candidate in /usr/lib/postgresql/*/bin; do
        [ -x "$candidate/initdb" ] && pgbin=$candidate
    done
fi
odbclib=/usr/lib/x86_64-linux-gnu/odbc
[ -d "$odbclib" ] || odbclib=$(dirname "$(find /usr/lib -name libsqlite3odbc.so 2>/dev/null | head -n 1)")

pgdata=$dir/pgdata
pgsock=$dir/pgsock
pglog=$dir/pglog
pgport=54329
pgdb=quorna
pguser=quorna
pgpassword=quorna-test

# The server refuses to run as root: it runs as the postgres account, else as nobody.
as_server() {
    if [ "$(id -u)" -ne 0 ]; then
        "$@"
    elif id postgres >/dev/null 2>&1; then
        runuser -u postgres -- "$@"
    else
        runuser -u nobody -- "$@"
    fi
}

server_owner() {
    if [ "$(id -u)" -ne 0 ]; then id -un
    elif id postgres >/dev/null 2>&1; then echo postgres
    else echo nobody
    fi
}

prepare() {
    mkdir -p "$dir/sqlite"
    cat >"$dir/odbcinst.ini" <<INI
[SQLite3]
Description=SQLite3 ODBC Driver
Driver=$odbclib/libsqlite3odbc.so
Setup=$odbclib/libsqlite3odbc.so

[PostgreSQL Unicode]
Description=PostgreSQL ODBC driver (Unicode)
Driver=$odbclib/psqlodbcw.so
Setup=$odbclib/libodbcpsqlS.so
INI
    cat >"$dir/odbc.ini" <<INI
[QuornaSQLite]
Description=Quorna test database (SQLite)
Driver=SQLite3
Database=$dir/sqlite/quorna.db
Timeout=2000

[QuornaPostgres]
Description=Quorna test database (PostgreSQL)
Driver=PostgreSQL Unicode
Servername=$pgsock
Port=$pgport
Database=$pgdb
INI
    # No data sources of the user's own: the tests see exactly the two above.
    : >"$dir/user-odbc.ini"
}

print_env() {
    echo "export ODBCSYSINI='$dir'"
    echo "export ODBCINI='$dir/user-odbc.ini'"
    echo "export QUORNA_TEST_ODBC_DIR='$dir'"
    if [ -f "$dir/pg-ready" ]; then
        echo "export QUORNA_TEST_PG_DSN=QuornaPostgres"
        echo "export QUORNA_TEST_PG_USER=$pguser"
        echo "export QUORNA_TEST_PG_PASSWORD=$pgpassword"
    fi
}

pg_start() {
    as_server "$pgbin/pg_ctl" -D "$pgdata" -l "$pglog/postgres.log" -w -t 30 \
        -o "-k $pgsock -p $pgport -c listen_addresses=''" start >/dev/null
}

pg_stop() {
    if [ -f "$pgdata/postmaster.pid" ]; then
        as_server "$pgbin/pg_ctl" -D "$pgdata" -m fast -w -t 30 stop >/dev/null
    fi
}

case "$cmd" in
prepare)
    prepare
    print_env
    ;;
start)
    prepare
    if [ -z "$pgbin" ]; then
        echo "$0: no PostgreSQL server programs found; only the SQLite data source is ready" >&2
        print_env
        exit 0
    fi
    pg_stop 2>/dev/null || true
    rm -rf "$pgdata" "$pgsock" "$pglog" "$dir/pg-ready"
    # The server's account must reach the directory, and owns its own three folders in it.
    chmod 755 "$dir"
    owner=$(server_owner)
    mkdir -p "$pgsock" "$pgdata" "$pglog"
    chown "$owner" "$pgsock" "$pgdata" "$pglog"
    if ! as_server test -w "$pgdata"; then
        echo "$0: the account $owner cannot reach $dir (a parent folder is closed to it); use a folder under /tmp" >&2
        exit 1
    fi
    as_server "$pgbin/initdb" -D "$pgdata" -U postgres --auth-local=trust --auth-host=reject \
        -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
    # The test account signs in with a password over the socket; the server's own account may not.
    cat >"$pgdata/pg_hba.conf" <<HBA
local all postgres trust
local all all scram-sha-256
HBA
    chown "$owner" "$pgdata/pg_hba.conf"
    pg_start
    as_server "$pgbin/psql" -h "$pgsock" -p "$pgport" -U postgres -d postgres -q -v ON_ERROR_STOP=1 \
        -c "CREATE ROLE $pguser LOGIN PASSWORD '$pgpassword'" \
        -c "CREATE DATABASE $pgdb OWNER $pguser" >/dev/null
    : >"$dir/pg-ready"
    print_env
    ;;
stop)
    pg_stop
    rm -f "$dir/pg-ready"
    ;;
env)
    print_env
    ;;
pg-stop)
    pg_stop
    ;;
pg-start)
    pg_start
    ;;
*)
    echo "$0: unknown command $cmd" >&2
    exit 2
    ;;
esac
