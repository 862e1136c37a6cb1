SELECT
    cliente.id as idCliente,
    fn_areceber.id_contrato AS idContrato,
    cliente.razao as razaoSocial,
    cliente.cnpj_cpf as cpfCnpj,
    cliente.telefone_celular as contatoCliente,
    cliente.ativo as statusCliente,
    cliente.data_cadastro,
    SUM(fn_areceber.valor_aberto) as valorAtraso,
    COUNT(fn_areceber.valor) as titulosAtraso,
    MIN(fn_areceber.data_vencimento) as dataVencimento,
    filial.razao as filial,
    cidade.nome as cidade,
    cliente.bairro as bairro,
    tipo_cliente.tipo_cliente as tipoCliente
FROM cliente
    LEFT JOIN fn_areceber ON fn_areceber.id_cliente = cliente.id
    LEFT JOIN filial on fn_areceber.filial_id = filial.id
    LEFT JOIN cidade ON cliente.cidade = cidade.id
    LEFT JOIN tipo_cliente on tipo_cliente.id = cliente.id_tipo_cliente
WHERE
    fn_areceber.status = 'A'
    AND fn_areceber.data_vencimento < CURRENT_DATE()
    AND fn_areceber.valor_aberto > 0
    AND fn_areceber.id_contrato IS NOT NULL
GROUP BY
    cliente.id,
    cliente.razao,
    cliente.cnpj_cpf,
    cliente.telefone_celular,
    tipo_cliente.tipo_cliente
ORDER BY fn_areceber.data_vencimento desc;
