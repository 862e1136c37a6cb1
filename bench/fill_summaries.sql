-- The summaries of the other installations (fill_others.sql) that have none
-- yet, of the size their runs would write: the totals, 42 branches, 8 cities
-- and 100 debtors each, stamped with the installation's run. Each such
-- installation has a customer 1, found through the table's unique key.
WITH others AS (
  SELECT c.ixcidentification, c.timestamp
    FROM ixc_clientes c
   WHERE c.idcliente = 1 AND c.ixcidentification LIKE 'outra-%'
     AND NOT EXISTS (SELECT 1 FROM ixc_clientes_resumo r WHERE r.ixcidentification = c.ixcidentification)),
parts (tipo, posicao, share) AS (
  SELECT 'total', 0, 1
  UNION ALL SELECT 'filial', g, 42 FROM generate_series(1, 42) g
  UNION ALL SELECT 'cidade', g, 8 FROM generate_series(1, 8) g
  UNION ALL SELECT 'devedor', g, NULL FROM generate_series(1, 100) g)
INSERT INTO ixc_clientes_resumo (ixcidentification, timestamp, tipo, posicao, nome, clientes_ativos, titulos_ativos,
                                 valor_ativos, clientes_inativos, titulos_inativos, valor_inativos, datavencimento,
                                 dias_atraso, idcliente, razaosocial, filial, cidade, statuscliente, valoratraso,
                                 titulosatraso)
SELECT o.ixcidentification, o.timestamp, p.tipo, p.posicao,
       CASE p.tipo WHEN 'filial' THEN 'Filial ' || p.posicao || ' Telecomunicações Ltda'
                   WHEN 'cidade' THEN (ARRAY['São Paulo','Belo Horizonte','Goiânia','Ribeirão Preto','Uberlândia',
                                             'Campinas','Maringá','Feira de Santana'])[p.posicao] END,
       17143 / p.share, 111429 / p.share, round(7937342.57 / p.share, 2),
       2857 / p.share, 18571 / p.share, round(1322890.43 / p.share, 2),
       o.timestamp::date - 180, 180,
       CASE WHEN p.share IS NULL THEN 1000 + p.posicao END,
       CASE WHEN p.share IS NULL THEN 'Maria D''Ávila Pereira ' || p.posicao END,
       CASE WHEN p.share IS NULL THEN 'Filial 1 Telecomunicações Ltda' END,
       CASE WHEN p.share IS NULL THEN 'São Paulo' END,
       CASE WHEN p.share IS NULL THEN 1 END,
       CASE WHEN p.share IS NULL THEN 780.21 - p.posicao END,
       CASE WHEN p.share IS NULL THEN 12 END
  FROM others o CROSS JOIN parts p
 ORDER BY o.ixcidentification, p.tipo, p.posicao;
