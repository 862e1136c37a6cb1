-- Secondary indexes that an IXC billing database carries on these tables.
ALTER TABLE cliente
  ADD INDEX idx_cliente_cidade (cidade),
  ADD INDEX idx_cliente_tipo (id_tipo_cliente),
  ADD INDEX idx_cliente_cnpj_cpf (cnpj_cpf),
  ADD INDEX idx_cliente_ativo (ativo);
ALTER TABLE fn_areceber
  ADD INDEX idx_areceber_cliente (id_cliente),
  ADD INDEX idx_areceber_status_vencimento (status, data_vencimento),
  ADD INDEX idx_areceber_contrato (id_contrato),
  ADD INDEX idx_areceber_filial (filial_id);
ANALYZE TABLE cliente, fn_areceber, filial, cidade, tipo_cliente;
