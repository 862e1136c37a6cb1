-- What the summary template must discover for a host, computed from the rows
-- of its latest run in ixc_clientes (not from the summary): one line per
-- discovered item, its key, its name and its value to the cent, tab-separated.
--   psql -v host=HOST -v top=N -v not_cidade=REGEX -f summary_expected.sql
-- host: the installation; top: {$COBRIX.TOP.N}; not_cidade: the host's
-- {$COBRIX.CIDADE.NOT_MATCHES}. Branches and cities are keyed by md5 of
-- "tipo:nome", the customers without one by the bare tipo, and named
-- "(sem filial)" and "(sem cidade)"; debtors' names lose their control
-- characters (a run of them becomes one blank).
\pset format unaligned
\pset fieldsep '\t'
\pset tuples_only on
WITH run AS (
  SELECT * FROM ixc_clientes
   WHERE ixcidentification = :'host'
     AND timestamp = (SELECT max(timestamp) FROM ixc_clientes WHERE ixcidentification = :'host')
), grouped AS (
  SELECT 'filial' AS tipo, filial AS nome, r.* FROM run r
  UNION ALL
  SELECT 'cidade', cidade, r.* FROM run r
), groups AS (
  SELECT tipo, coalesce(md5(tipo || ':' || nome), tipo) AS chave, coalesce(nome, '(sem ' || tipo || ')') AS rotulo,
         count(*) FILTER (WHERE statuscliente <> 0) AS clientes_ativos,
         coalesce(sum(titulosatraso) FILTER (WHERE statuscliente <> 0), 0) AS titulos_ativos,
         coalesce(round(sum(valoratraso::numeric) FILTER (WHERE statuscliente <> 0), 2), 0) AS valor_ativos,
         count(*) FILTER (WHERE statuscliente = 0) AS clientes_inativos,
         coalesce(sum(titulosatraso) FILTER (WHERE statuscliente = 0), 0) AS titulos_inativos,
         coalesce(round(sum(valoratraso::numeric) FILTER (WHERE statuscliente = 0), 2), 0) AS valor_inativos,
         max(timestamp)::date - min(datavencimento)::date AS dias
    FROM grouped GROUP BY tipo, nome
), debtors AS (
  SELECT idcliente, regexp_replace(razaosocial, E'[\\x01-\\x1f\\x7f]+', ' ', 'g') AS nome,
         valoratraso, titulosatraso, timestamp::date - datavencimento::date AS dias
    FROM run WHERE valoratraso IS NOT NULL
   ORDER BY valoratraso DESC, idcliente NULLS LAST
   LIMIT :top
)
SELECT format('cobrix.%s.%s[%s]', tipo, part, chave), format('Cobrix: %s %s: %s', tipo, rotulo, texto),
       round(valor, 2)
  FROM groups CROSS JOIN LATERAL (VALUES
    ('clientes.ativos', clientes_ativos::numeric, 'clientes ativos em atraso'),
    ('titulos.ativos', titulos_ativos, 'títulos em atraso dos clientes ativos'),
    ('valor.ativos', valor_ativos, 'valor em atraso dos clientes ativos'),
    ('clientes.inativos', clientes_inativos, 'clientes inativos em atraso'),
    ('titulos.inativos', titulos_inativos, 'títulos em atraso dos clientes inativos'),
    ('valor.inativos', valor_inativos, 'valor em atraso dos clientes inativos'),
    ('dias', dias, 'dias de atraso do vencimento mais antigo')) AS parts (part, valor, texto)
 WHERE NOT (tipo = 'cidade' AND rotulo ~ :'not_cidade')
UNION ALL
SELECT format('cobrix.devedor.%s[%s]', part, idcliente), format('Cobrix: devedor %s %s: %s', idcliente, nome, texto),
       round(valor, 2)
  FROM debtors CROSS JOIN LATERAL (VALUES
    ('valor', valoratraso::numeric, 'valor em atraso'),
    ('titulos', titulosatraso, 'títulos em atraso'),
    ('dias', dias, 'dias de atraso do vencimento mais antigo')) AS parts (part, valor, texto)
ORDER BY 1;
