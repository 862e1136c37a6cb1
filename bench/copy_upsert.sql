-- COPY into a temporary table plus one INSERT ... SELECT ... ON CONFLICT
-- (ROWS_FILE: the file written by \copy ixc_clientes TO, substituted by run.sh).
CREATE TEMP TABLE ixc_clientes_novos (LIKE ixc_clientes);
\copy ixc_clientes_novos FROM 'ROWS_FILE'
INSERT INTO ixc_clientes SELECT * FROM ixc_clientes_novos
    ON CONFLICT (idcliente, ixcidentification) DO UPDATE SET idcontrato=EXCLUDED.idcontrato,
    razaosocial=EXCLUDED.razaosocial, cpfcnpj=EXCLUDED.cpfcnpj, contatocliente=EXCLUDED.contatocliente,
    valoratraso=EXCLUDED.valoratraso, titulosatraso=EXCLUDED.titulosatraso, statuscliente=EXCLUDED.statuscliente,
    datacadastro=EXCLUDED.datacadastro, datavencimento=EXCLUDED.datavencimento, filial=EXCLUDED.filial,
    cidade=EXCLUDED.cidade, bairro=EXCLUDED.bairro, tipocliente=EXCLUDED.tipocliente, timestamp=EXCLUDED.timestamp;
