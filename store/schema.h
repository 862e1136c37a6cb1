#pragma once
// The customer table ixc_clientes: its column map, creation and migration.

#include <libpq-fe.h>

#include <array>
#include <ostream>
#include <string>
#include <string_view>

#include "store/pg_connection.h"

namespace cobrix::store {

struct Column {
  std::string_view name;
  std::string_view sql_type;
};

// The sixteen columns in their fixed order: creation, migration, the insert
// column list and the position of each value in a row all follow it.
inline constexpr std::array<Column, 16> colunas_tabela{{
    {"idcliente", "INT"},
    {"idcontrato", "INT"},
    {"razaosocial", "TEXT"},
    {"cpfcnpj", "TEXT"},
    {"contatocliente", "TEXT"},
    {"valoratraso", "DOUBLE PRECISION"},
    {"titulosatraso", "INT"},
    {"statuscliente", "INT"},
    {"datacadastro", "TIMESTAMP"},
    {"datavencimento", "TIMESTAMP"},
    {"filial", "TEXT"},
    {"cidade", "TEXT"},
    {"bairro", "TEXT"},
    {"tipocliente", "TEXT"},
    {"ixcidentification", "TEXT"},
    {"timestamp", "TIMESTAMP"},
}};

// The CREATE TABLE IF NOT EXISTS statement with every column and the unique
// key over (idcliente, ixcidentification).
std::string create_table_statement();

// The query listing the columns of every visible table named ixc_clientes.
extern const char* const kColumnQuery;

// "ALTER TABLE ixc_clientes ADD COLUMN <name> <type>;"
std::string add_column_statement(const Column& column);

// Two runs creating the same catalog object at once (the table, an index):
// the loser gets, depending on the moment, a unique violation on the catalog
// (23505), "relation already exists" (42P07) or "type already exists" for a
// table's row type (42710), although the object now exists; a second attempt
// then finds it and does nothing.
bool lost_creation_race(const PgError& e);

// Creates the table when missing, and in the same round trip the summary
// table (store/summary_table.h), whose creation may fail without a word (a
// role that may not create it), and adds each missing column, printing a
// "Coluna" line per added column and an "Erro ao adicionar coluna" line per
// refused one (which is not a failure). The creation statement is retried
// once when a concurrent run created the table at the same moment (SQLSTATE
// 23505, 42P07 or 42710); when it is refused for lack of privilege (42501)
// and the role can see a table named ixc_clientes, the run goes on with that
// table. Throws PgError when the creation statement (otherwise) or the
// column query fails.
void ensure_table(PGconn* conn, std::ostream& out);

}  // namespace cobrix::store
