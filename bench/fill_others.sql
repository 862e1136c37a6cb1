-- Rows of other installations, :first to :last of one numbering (psql
-- variables): installations of :per rows each (outra-0001, ...), values shaped
-- like the generated customers', each installation's rows stamped alike as
-- a run stamps them, installation k k minutes before the fill (modulo 12
-- hours): outra-0060 ran an hour ago.
INSERT INTO ixc_clientes (idcliente, idcontrato, razaosocial, cpfcnpj, contatocliente, valoratraso, titulosatraso,
                          statuscliente, datacadastro, datavencimento, filial, cidade, bairro, tipocliente,
                          ixcidentification, timestamp)
SELECT (g - 1) % :per + 1, 100000 + g % 900000,
       (ARRAY['Maria','José','Ana','João','Antônio','Francisca','Luíza','Conceição','Raimundo','Sebastião'])[1 + g % 10]
         || ' ' || (ARRAY['da Silva','dos Santos','de Oliveira','Gonçalves','Araújo','D''Ávila','Conceição','Ribeiro'])[1 + (g / 10) % 8]
         || ' ' || (ARRAY['Pereira','Lima','Ferreira','Sousa','Carvalho','Gomes','Martins','Rocha'])[1 + (g / 80) % 8],
       CASE WHEN g % 5 = 0
            THEN lpad((g % 100)::text, 2, '0') || '.' || lpad((g * 7 % 1000)::text, 3, '0') || '.'
                 || lpad((g * 13 % 1000)::text, 3, '0') || '/0001-' || lpad((g % 97)::text, 2, '0')
            ELSE lpad((g * 7 % 1000)::text, 3, '0') || '.' || lpad((g * 13 % 1000)::text, 3, '0') || '.'
                 || lpad((g * 17 % 1000)::text, 3, '0') || '-' || lpad((g % 97)::text, 2, '0') END,
       CASE WHEN g % 10 = 0 THEN NULL
            ELSE '(' || (11 + g % 89) || ') 9' || lpad((g % 10000)::text, 4, '0') || '-' || lpad((g * 31 % 10000)::text, 4, '0') END,
       round((49.9 + (g % 1000) * 0.731)::numeric, 2)::float8, 1 + g % 12, (g % 7 <> 0)::int,
       CASE WHEN g % 50 = 0 THEN NULL ELSE timestamp '2010-01-01' + (g % 5000) * interval '1 day' END,
       current_date - (1 + g % 180),
       'Filial ' || (1 + g % 42) || ' Telecomunicações Ltda',
       (ARRAY['São Paulo','Belo Horizonte','Goiânia','Ribeirão Preto','Uberlândia','Campinas','Maringá','Feira de Santana'])[1 + g % 8],
       CASE WHEN g % 20 = 0 THEN NULL ELSE 'Bairro ' || (1 + g % 300) END,
       (ARRAY['Pessoa Física','Pessoa Jurídica','Condomínio','Empresa','Órgão público','Revenda','Cortesia','Funcionário'])[1 + g % 8],
       'outra-' || lpad(((g - 1) / :per + 1)::text, 4, '0'),
       localtimestamp - ((g - 1) / :per % 720 + 1) * interval '1 minute'
  FROM generate_series(:first, :last) g;
