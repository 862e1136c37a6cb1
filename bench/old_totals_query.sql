-- The totals query that the template read through ODBC before the runs wrote
-- a summary: the six totals computed from the rows of the installation's
-- latest run in ixc_clientes. Kept to be timed against the summary's queries.
SELECT count(*) FILTER (WHERE statuscliente <> 0) AS clientes_ativos,
       coalesce(sum(titulosatraso) FILTER (WHERE statuscliente <> 0), 0) AS titulos_ativos,
       coalesce(round(sum(valoratraso::numeric) FILTER (WHERE statuscliente <> 0), 2), 0) AS valor_ativos,
       count(*) FILTER (WHERE statuscliente = 0) AS clientes_inativos,
       coalesce(sum(titulosatraso) FILTER (WHERE statuscliente = 0), 0) AS titulos_inativos,
       coalesce(round(sum(valoratraso::numeric) FILTER (WHERE statuscliente = 0), 2), 0) AS valor_inativos
  FROM ixc_clientes
 WHERE ixcidentification = '{HOST.HOST}'
   AND timestamp = (SELECT max(timestamp) FROM ixc_clientes WHERE ixcidentification = '{HOST.HOST}')
