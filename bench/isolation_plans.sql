-- The plans of a run's statements as the run's role :"role" meets them in
-- the layout of this database (:policies true: row-level security, the
-- run's own role; false: the single-role layout, the tables' owner), each
-- executed by EXPLAIN ANALYZE in one transaction that is rolled back. :'own'
-- is the run's identification.
BEGIN;
SET LOCAL ROLE :"role";
SET LOCAL jit = off;
\if :policies
\echo -- the check that the role writes its installation
EXPLAIN (ANALYZE, BUFFERS, COSTS OFF)
SELECT current_user, coalesce(bool_or(escrita), false) FROM ixc_clientes_acesso
 WHERE papel = current_user AND ixcidentification = :'own';
\echo -- the summary lock: the mapping row of the role
EXPLAIN (ANALYZE, BUFFERS, COSTS OFF)
UPDATE ixc_clientes_acesso SET ultima_execucao = now() WHERE papel = current_user AND ixcidentification = :'own';
\endif
\echo -- the upsert of a page, one row
EXPLAIN (ANALYZE, BUFFERS, COSTS OFF)
INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) VALUES (900000000, :'own', localtimestamp)
    ON CONFLICT (idcliente, ixcidentification) DO UPDATE SET timestamp = EXCLUDED.timestamp;
\echo -- the delete of the previous summary
EXPLAIN (ANALYZE, BUFFERS, COSTS OFF) DELETE FROM ixc_clientes_resumo WHERE ixcidentification = :'own';
\if :policies
\echo -- the retention delete
EXPLAIN (ANALYZE, BUFFERS, COSTS OFF) DELETE FROM ixc_clientes WHERE timestamp < LOCALTIMESTAMP - INTERVAL '1 day';
\else
\echo -- the retention delete of old summaries
EXPLAIN (ANALYZE, BUFFERS, COSTS OFF)
DELETE FROM ixc_clientes_resumo WHERE ctid = ANY (ARRAY(SELECT ctid FROM ixc_clientes_resumo
                                                         WHERE timestamp < NOW() - INTERVAL '1 day' FOR UPDATE SKIP LOCKED));
\echo -- the retention delete
EXPLAIN (ANALYZE, BUFFERS, COSTS OFF) DELETE FROM ixc_clientes WHERE timestamp < NOW() - INTERVAL '1 day';
\endif
ROLLBACK;
