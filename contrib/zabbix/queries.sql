-- What the Zabbix templates read through ODBC (db.odbc.get, DSN
-- {$COBRIX.ODBC.DSN}), one query per interval and host: the summary that the
-- installation's latest run wrote to ixc_clientes_resumo. {HOST.HOST} (the
-- installation's identification, the run's Zabbix host) is the one macro,
-- which Zabbix replaces before sending the text; how many debtors the
-- templates keep ({$COBRIX.TOP.N}) is applied to the answer, as a number, by
-- a preprocessing step, never to this text. Each query is the text from its
-- "-- query:" line to the next one, these comment lines left out.
--
-- The rows, told apart by tipo (posicao orders those of one tipo):
--   total    posicao 0, always present once the installation has run (zeros
--            when the run found no overdue customer); always the first row,
--            so $[0].clientes_ativos and the other five totals keep the
--            JSONPath of the former totals query
--   filial   one per branch, nome its name, NULL for the customers without
--            one (a branch named '' is another row); by nome, bytewise
--   cidade   one per city, likewise
-- chave names a branch or city apart from every other row whatever its name
-- holds: md5 of tipo, ':' and nome, or the bare tipo (filial, cidade) where
-- nome is NULL, which no md5 (32 hexadecimal digits) can be; the templates'
-- item keys and JSONPaths take it instead of the name. Other rows: their tipo.
-- The run writes it with the row (coalesce(md5(tipo || ':' || nome), tipo)),
-- so that the readers' query computes nothing per row.
--   devedor  the customers with the largest overdue amount, as many as the
--            run keeps (100), posicao 1 the largest (equal amounts by idcliente)
-- For total, filial and cidade: clientes_/titulos_/valor_ativos (statuscliente
-- <> 0) and _inativos (= 0), amounts rounded to cents; datavencimento the
-- oldest due date and dias_atraso its age in days at the run's date. For
-- devedor: idcliente, razaosocial, filial, cidade, statuscliente, valoratraso,
-- titulosatraso, datavencimento and dias_atraso as that customer's row.
-- timestamp is the run's, the same on every row; idade the summary's age in
-- seconds by the server's clock, computed once per row from the two (the
-- run writes its local time, which the run checks against the server's).
-- No row at all: the installation has not written a summary in the last day.

-- query: cobrix.resumo
SELECT tipo, posicao, nome, chave,
       clientes_ativos, titulos_ativos, valor_ativos,
       clientes_inativos, titulos_inativos, valor_inativos,
       datavencimento, dias_atraso,
       idcliente, razaosocial, filial, cidade, statuscliente, valoratraso, titulosatraso,
       timestamp, floor(extract(epoch FROM LOCALTIMESTAMP - timestamp)) AS idade
  FROM ixc_clientes_resumo
 WHERE ixcidentification = '{HOST.HOST}'
 ORDER BY tipo <> 'total', tipo, posicao

-- query: cobrix.totais
-- The six totals alone, with the names of the former totals query: a
-- drop-in for a template that reads only them.
SELECT clientes_ativos, titulos_ativos, valor_ativos, clientes_inativos, titulos_inativos, valor_inativos
  FROM ixc_clientes_resumo
 WHERE ixcidentification = '{HOST.HOST}' AND tipo = 'total' AND posicao = 0
