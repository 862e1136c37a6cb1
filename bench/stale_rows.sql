-- :stale rows of an installation no longer monitored, past the retention age.
INSERT INTO ixc_clientes (idcliente, razaosocial, valoratraso, titulosatraso, statuscliente, ixcidentification, timestamp)
SELECT g, 'Cliente Desativado ' || g, 99.9, 1, 1, 'desativada', localtimestamp - interval '2 days' - random() * interval '1 day'
  FROM generate_series(1, :stale) g
    ON CONFLICT (idcliente, ixcidentification) DO UPDATE SET timestamp = EXCLUDED.timestamp;
