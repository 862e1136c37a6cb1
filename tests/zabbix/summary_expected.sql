-- What the summary template must discover for a host, computed from the rows
-- of its latest run in ixc_clientes (not from the summary): one line per
-- discovered item, its key, its name and its value to the cent, tab-separated.
--   psql -v host=HOST -v top=N -v not_cidade=REGEX -v nomes=0|1 -f summary_expected.sql
-- host: the installation; top: {$COBRIX.TOP.N}; not_cidade: the host's
-- {$COBRIX.CIDADE.EXCLUIR}; nomes: {$COBRIX.NOMES}. Branches and cities are
-- keyed by md5 of "tipo:nome", the customers without one by the bare tipo,
-- and named "(sem filial)" and "(sem cidade)"; debtors by their id, with
-- their name after it only when nomes is 1. Names lose their braces and
-- control characters (a run of them becomes one blank); branches' and
-- cities' are cut at 80 characters (72, "…", a blank and the key's first
-- six), debtors' at 100 (99 and "…"). Days are durations, in seconds.
\pset format unaligned
\pset fieldsep '\t'
\pset tuples_only on
CREATE FUNCTION pg_temp.limpo(nome text) RETURNS text LANGUAGE sql IMMUTABLE AS
  $$SELECT regexp_replace(replace(replace(nome, '{', ''), '}', ''), E'[\\x01-\\x1f\\x7f-\\x9f\\u2028\\u2029]+', ' ', 'g')$$;
CREATE FUNCTION pg_temp.cortado(nome text, maximo int, chave text) RETURNS text LANGUAGE sql IMMUTABLE AS
  $$SELECT CASE WHEN char_length(nome) <= maximo THEN nome
                WHEN chave IS NULL THEN left(nome, maximo - 1) || '…'
                ELSE left(nome, maximo - 8) || '… ' || left(chave, 6) END$$;
WITH run AS (
  SELECT * FROM ixc_clientes
   WHERE ixcidentification = :'host'
     AND timestamp = (SELECT max(timestamp) FROM ixc_clientes WHERE ixcidentification = :'host')
), grouped AS (
  SELECT 'filial' AS tipo, filial AS nome, r.* FROM run r
  UNION ALL
  SELECT 'cidade', cidade, r.* FROM run r
), groups AS (
  SELECT tipo, coalesce(md5(tipo || ':' || nome), tipo) AS chave,
         coalesce(pg_temp.cortado(pg_temp.limpo(nome), 80, md5(tipo || ':' || nome)), '(sem ' || tipo || ')') AS rotulo,
         count(*) FILTER (WHERE statuscliente <> 0) AS clientes_ativos,
         coalesce(sum(titulosatraso) FILTER (WHERE statuscliente <> 0), 0) AS titulos_ativos,
         coalesce(round(sum(valoratraso::numeric) FILTER (WHERE statuscliente <> 0), 2), 0) AS valor_ativos,
         count(*) FILTER (WHERE statuscliente = 0) AS clientes_inativos,
         coalesce(sum(titulosatraso) FILTER (WHERE statuscliente = 0), 0) AS titulos_inativos,
         coalesce(round(sum(valoratraso::numeric) FILTER (WHERE statuscliente = 0), 2), 0) AS valor_inativos,
         max(timestamp)::date - min(datavencimento)::date AS dias
    FROM grouped GROUP BY tipo, nome
), debtors AS (
  SELECT idcliente, CASE WHEN :nomes = 1 AND razaosocial IS NOT NULL
                         THEN ' ' || pg_temp.cortado(pg_temp.limpo(razaosocial), 100, NULL) ELSE '' END AS nome,
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
    ('dias', dias * 86400, 'atraso do vencimento mais antigo')) AS parts (part, valor, texto)
 WHERE NOT (tipo = 'cidade' AND rotulo ~ :'not_cidade')
UNION ALL
SELECT format('cobrix.devedor.%s[%s]', part, idcliente), format('Cobrix: devedor %s%s: %s', idcliente, nome, texto),
       round(valor, 2)
  FROM debtors CROSS JOIN LATERAL (VALUES
    ('valor', valoratraso::numeric, 'valor em atraso'),
    ('titulos', titulosatraso, 'títulos em atraso'),
    ('dias', dias * 86400, 'atraso do vencimento mais antigo')) AS parts (part, valor, texto)
ORDER BY 1;
