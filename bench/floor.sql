-- The table that the floor measurements write into: the same columns, types
-- and unique key that cobrix creates.
CREATE TABLE ixc_clientes (
    idcliente INT, idcontrato INT, razaosocial TEXT, cpfcnpj TEXT, contatocliente TEXT,
    valoratraso DOUBLE PRECISION, titulosatraso INT, statuscliente INT, datacadastro TIMESTAMP,
    datavencimento TIMESTAMP, filial TEXT, cidade TEXT, bairro TEXT, tipocliente TEXT,
    ixcidentification TEXT, timestamp TIMESTAMP,
    UNIQUE (idcliente, ixcidentification)
);
