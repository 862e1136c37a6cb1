-- Prints the rows that cobrix stored, in the order it stored them, as the
-- same 1000-row INSERT ... ON CONFLICT pages with literal values, one
-- statement per line (run with psql -At).
SELECT 'INSERT INTO ixc_clientes (idcliente, idcontrato, razaosocial, cpfcnpj, contatocliente, valoratraso, '
       'titulosatraso, statuscliente, datacadastro, datavencimento, filial, cidade, bairro, tipocliente, '
       'ixcidentification, timestamp) VALUES '
       || string_agg(format('(%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s)',
                            coalesce(idcliente::text, 'NULL'), coalesce(idcontrato::text, 'NULL'),
                            quote_nullable(razaosocial), quote_nullable(cpfcnpj), quote_nullable(contatocliente),
                            coalesce(valoratraso::text, 'NULL'), coalesce(titulosatraso::text, 'NULL'),
                            coalesce(statuscliente::text, 'NULL'), quote_nullable(datacadastro::text),
                            quote_nullable(datavencimento::text), quote_nullable(filial), quote_nullable(cidade),
                            quote_nullable(bairro), quote_nullable(tipocliente), quote_nullable(ixcidentification),
                            quote_nullable(timestamp::text)), ',' ORDER BY n)
       || ' ON CONFLICT (idcliente, ixcidentification) DO UPDATE SET idcontrato=EXCLUDED.idcontrato, '
          'razaosocial=EXCLUDED.razaosocial, cpfcnpj=EXCLUDED.cpfcnpj, contatocliente=EXCLUDED.contatocliente, '
          'valoratraso=EXCLUDED.valoratraso, titulosatraso=EXCLUDED.titulosatraso, '
          'statuscliente=EXCLUDED.statuscliente, datacadastro=EXCLUDED.datacadastro, '
          'datavencimento=EXCLUDED.datavencimento, filial=EXCLUDED.filial, cidade=EXCLUDED.cidade, '
          'bairro=EXCLUDED.bairro, tipocliente=EXCLUDED.tipocliente, timestamp=EXCLUDED.timestamp;'
  FROM (SELECT (row_number() OVER (ORDER BY ctid) - 1) / 1000 AS page, row_number() OVER (ORDER BY ctid) AS n, t.*
          FROM ixc_clientes t) s
 GROUP BY page
 ORDER BY page;
