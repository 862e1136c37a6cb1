-- An IXC-like sample database for cobrix: the five tables that the
-- overdue-customers query reads, with plausible column types and indexes,
-- some dozens of customers and their receivables, and the edge cases that
-- the discovery must handle. Written for cobrix; not IXC's real schema.
--
--   mariadb <database> < sample/ixc_sample.sql
--
-- Due dates are relative to CURRENT_DATE(), so the overdue receivables stay
-- overdue whatever day the sample is loaded. Loading it again starts over.

SET NAMES utf8mb4 COLLATE utf8mb4_general_ci;
-- Billing databases carry zero dates ('0000-00-00'); allow them here.
SET SESSION sql_mode = 'STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION';

DROP TABLE IF EXISTS fn_areceber;
DROP TABLE IF EXISTS cliente;
DROP TABLE IF EXISTS tipo_cliente;
DROP TABLE IF EXISTS cidade;
DROP TABLE IF EXISTS filial;

CREATE TABLE filial (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  razao VARCHAR(150) NOT NULL,
  fantasia VARCHAR(150) DEFAULT NULL,
  cnpj VARCHAR(20) DEFAULT NULL,
  PRIMARY KEY (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

CREATE TABLE cidade (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  nome VARCHAR(100) NOT NULL,
  uf CHAR(2) NOT NULL,
  cod_ibge INT UNSIGNED DEFAULT NULL,
  PRIMARY KEY (id),
  KEY idx_cidade_nome (nome)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

CREATE TABLE tipo_cliente (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  tipo_cliente VARCHAR(60) NOT NULL,
  PRIMARY KEY (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

CREATE TABLE cliente (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  razao VARCHAR(200) NOT NULL,
  fantasia VARCHAR(200) DEFAULT NULL,
  cnpj_cpf VARCHAR(20) DEFAULT NULL,
  tipo_pessoa CHAR(1) NOT NULL DEFAULT 'F',
  telefone_celular VARCHAR(40) DEFAULT NULL,
  email VARCHAR(150) DEFAULT NULL,
  ativo CHAR(1) DEFAULT 'S',
  data_cadastro DATE DEFAULT NULL,
  endereco VARCHAR(200) DEFAULT NULL,
  bairro VARCHAR(100) DEFAULT NULL,
  cidade INT UNSIGNED DEFAULT NULL,
  id_tipo_cliente INT UNSIGNED DEFAULT NULL,
  PRIMARY KEY (id),
  KEY idx_cliente_cnpj_cpf (cnpj_cpf),
  KEY idx_cliente_cidade (cidade),
  KEY idx_cliente_tipo (id_tipo_cliente),
  KEY idx_cliente_ativo (ativo)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

-- status: 'A' aberto, 'R' recebido, 'C' cancelado.
CREATE TABLE fn_areceber (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  id_cliente INT UNSIGNED NOT NULL,
  id_contrato INT UNSIGNED DEFAULT NULL,
  filial_id INT UNSIGNED DEFAULT NULL,
  status CHAR(1) NOT NULL DEFAULT 'A',
  data_emissao DATE DEFAULT NULL,
  data_vencimento DATE DEFAULT NULL,
  valor DECIMAL(10,2) DEFAULT NULL,
  valor_aberto DECIMAL(10,2) NOT NULL DEFAULT 0.00,
  valor_recebido DECIMAL(10,2) NOT NULL DEFAULT 0.00,
  obs VARCHAR(255) DEFAULT NULL,
  PRIMARY KEY (id),
  KEY idx_areceber_cliente (id_cliente),
  KEY idx_areceber_status_vencimento (status, data_vencimento),
  KEY idx_areceber_contrato (id_contrato),
  KEY idx_areceber_filial (filial_id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

INSERT INTO filial (id, razao, fantasia, cnpj) VALUES
  (1, 'Tarvex Telecomunicações Ltda', 'Tarvex Fibra', '12.345.678/0001-90'),
  (2, 'Tarvex Telecom Filial São José', 'Tarvex São José', '12.345.678/0002-71'),
  (3, 'Provedor Águas Claras Internet ME', 'Águas Claras Net', '98.765.432/0001-10');

INSERT INTO cidade (id, nome, uf, cod_ibge) VALUES
  (1, 'São Paulo', 'SP', 3550308),
  (2, 'Florianópolis', 'SC', 4205407),
  (3, 'São José', 'SC', 4216602),
  (4, 'Ribeirão Preto', 'SP', 3543402),
  (5, 'Maceió', 'AL', 2704302);

INSERT INTO tipo_cliente (id, tipo_cliente) VALUES
  (1, 'Pessoa Física'),
  (2, 'Pessoa Jurídica'),
  (3, 'Condomínio');

-- Ordinary customers.
INSERT INTO cliente (id, razao, cnpj_cpf, telefone_celular, ativo, data_cadastro, bairro, cidade, id_tipo_cliente) VALUES
  (101, 'Gonçalo Magalhães', '601.815.908-30', '(21) 94943-2486', 'S', '2013-07-14', 'Cidade Nova', 1, 1),
  (102, 'Lúcia Magalhães', '462.819.482-19', '(51) 92596-9974', 'S', '2021-11-07', 'Jardim América', 2, 1),
  (103, 'Túlio Simões', '194.875.749-11', '(51) 93490-9011', 'S', '2020-07-06', 'Pôr do Sol', 3, 1),
  (104, 'Flávia Araújo', '895.559.797-11', '(21) 91994-6072', 'N', '2016-08-23', 'Liberdade', 4, 1),
  (105, 'Maria Falcão', '423.667.127-68', '(62) 95561-7804', 'S', '2016-03-27', 'Santa Efigênia', 5, 1),
  (106, 'Padaria Pão de Açúcar Ltda', '24.402.685/9952-89', '(11) 98481-7428', 'S', '2022-11-24', 'Pôr do Sol', 1, 2),
  (107, 'Gonçalo Peçanha', '010.928.159-01', '(31) 95132-6691', 'S', '2015-10-13', 'Liberdade', 2, 1),
  (108, 'José Magalhães', '154.728.038-52', '(81) 95883-2491', 'S', '2023-09-01', 'Boa Vista', 3, 1),
  (109, 'Bárbara Simões', '387.500.474-39', '(51) 96974-2319', 'S', '2017-08-26', 'São Cristóvão', 4, 1),
  (110, 'Conceição Romão', '353.799.075-11', '(41) 98832-3924', 'S', '2018-12-25', 'Pôr do Sol', 5, 1),
  (111, 'Francisca Brandão', '202.972.997-52', '(11) 91233-2683', 'N', '2020-09-05', 'Cidade Nova', 1, 1),
  (112, 'Mercearia São João ME', '04.348.395/4862-05', '(81) 97891-9219', 'S', '2019-11-19', 'Vila Esperança', 2, 2),
  (113, 'Maria Assunção', '888.718.033-40', '(81) 91456-2038', 'S', '2013-09-15', 'Alto da Glória', 3, 1),
  (114, 'Otávio Brás', '783.848.372-61', '(21) 94942-8017', 'S', '2018-08-11', 'Jardim América', 4, 1),
  (115, 'Túlio Loureiro', '242.731.672-32', '(62) 96556-7902', 'S', '2023-07-17', 'São Cristóvão', 5, 1),
  (116, 'Fábio da Silva', '658.948.113-11', '(31) 95430-3122', 'S', '2016-05-02', 'Pôr do Sol', 1, 1),
  (117, 'José Guimarães', '026.140.141-93', '(21) 98434-1189', 'S', '2013-05-28', 'Santa Efigênia', 2, 1),
  (118, 'Oficina Mecânica Irmãos Gonçalves', '48.347.824/5040-00', '(41) 99425-8778', 'N', '2023-09-18', 'São Cristóvão', 3, 2),
  (119, 'Luís Simões', '532.650.201-46', '(62) 99289-5619', 'S', '2014-01-03', 'Liberdade', 4, 1),
  (120, 'Francisca Guimarães', '704.558.530-43', '(51) 97252-2374', 'S', '2017-03-01', 'Alto da Glória', 5, 1),
  (121, 'Simão Araújo', '269.060.443-19', '(85) 97381-6343', 'S', '2020-03-22', 'Alto da Glória', 1, 1),
  (122, 'Antônio Gonçalves', '868.288.909-31', '(51) 92718-7170', 'S', '2012-01-05', 'Alto da Glória', 2, 1),
  (123, 'Otávio Araújo', '741.433.377-61', '(11) 94248-2269', 'S', '2019-11-10', 'Liberdade', 3, 1),
  (124, 'Açougue Bom Preço', '49.920.707/4137-48', '(71) 92941-9996', 'S', '2016-08-15', 'São Cristóvão', 4, 2),
  (125, 'Fábio Guimarães', '633.191.284-52', '(48) 92846-6983', 'N', '2021-11-17', 'São Cristóvão', 5, 1),
  (126, 'Letícia Loureiro', '651.505.561-30', '(51) 92064-7437', 'S', '2023-05-09', 'Pôr do Sol', 1, 1),
  (127, 'Luís Loureiro', '606.883.106-79', '(48) 98955-1802', 'S', '2014-11-28', 'Cidade Nova', 2, 1),
  (128, 'Márcia Patrício', '446.347.861-22', '(71) 94604-8421', 'S', '2013-04-17', 'Santa Efigênia', 3, 1),
  (129, 'Inês Guimarães', '930.666.836-45', '(85) 96900-3062', 'S', '2012-08-09', 'Cidade Nova', 4, 1),
  (130, 'Farmácia Saúde & Vida', '79.701.687/7313-22', '(71) 92392-1647', 'S', '2020-11-04', 'Centro', 5, 2),
  (131, 'Túlio Patrício', '248.611.148-93', '(85) 91018-1171', 'S', '2018-05-08', 'Cidade Nova', 1, 1),
  (132, 'Lúcia Simões', '064.003.761-43', '(41) 99076-1558', 'N', '2022-07-12', 'Santa Efigênia', 2, 1),
  (133, 'Márcia Falcão', '373.441.979-23', '(11) 93398-7446', 'S', '2019-07-22', 'Centro', 3, 1),
  (134, 'Maria Gonçalves', '267.511.253-28', '(48) 97203-7125', 'S', '2023-08-02', 'Santa Efigênia', 4, 1),
  (135, 'Cláudio Loureiro', '461.073.587-35', '(11) 97730-5063', 'S', '2017-12-16', 'Pôr do Sol', 5, 1),
  (136, 'Escritório Contábil Conceição', '60.710.431/9554-59', '(51) 95515-5872', 'S', '2012-05-24', 'Centro', 1, 2),
  (137, 'Estêvão Patrício', '293.557.591-83', '(62) 92060-1554', 'S', '2018-03-08', 'Alto da Glória', 2, 1),
  (138, 'Conceição Magalhães', '679.381.444-94', '(48) 94263-8199', 'S', '2017-05-24', 'São Cristóvão', 3, 1),
  (139, 'Vitória Mendonça', '351.643.883-17', '(71) 94786-8344', 'N', '2012-02-01', 'Santa Efigênia', 4, 1),
  (140, 'Vitória Patrício', '310.399.315-82', '(11) 92733-6729', 'S', '2019-10-09', 'São Cristóvão', 5, 1);

INSERT INTO fn_areceber (id, id_cliente, id_contrato, filial_id, status, data_vencimento, valor, valor_aberto) VALUES
  (5001, 101, 7101, 1, 'A', CURRENT_DATE() + INTERVAL 3 DAY, 89.90, 89.90),
  (5002, 101, 7101, 3, 'R', CURRENT_DATE() - INTERVAL 90 DAY, 199.90, 0.00),
  (5003, 101, 7101, 1, 'A', CURRENT_DATE() - INTERVAL 90 DAY, 99.90, 99.90),
  (5004, 102, 7102, 2, 'A', CURRENT_DATE() + INTERVAL 3 DAY, 99.90, 99.90),
  (5005, 102, 7102, 2, 'R', CURRENT_DATE() - INTERVAL 12 DAY, 250.00, 0.00),
  (5006, 102, 7102, 2, 'A', CURRENT_DATE() + INTERVAL 3 DAY, 149.90, 149.90),
  (5007, 102, 7102, 1, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 250.00, 250.00),
  (5008, 104, 7104, 3, 'A', CURRENT_DATE() + INTERVAL 25 DAY, 149.90, 149.90),
  (5009, 104, 7104, 2, 'A', CURRENT_DATE() - INTERVAL 90 DAY, 149.90, 149.90),
  (5010, 104, 7104, 2, 'A', CURRENT_DATE() + INTERVAL 3 DAY, 89.90, 89.90),
  (5011, 105, 7105, 1, 'A', CURRENT_DATE() - INTERVAL 45 DAY, 89.90, 89.90),
  (5012, 105, 7105, 1, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 79.00, 79.00),
  (5013, 105, 7105, 3, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 250.00, 250.00),
  (5014, 106, 7106, 3, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 149.90, 149.90),
  (5015, 106, 7106, 1, 'A', CURRENT_DATE() - INTERVAL 90 DAY, 99.90, 99.90),
  (5016, 106, 7106, 1, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 99.90, 99.90),
  (5017, 107, 7107, 2, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 89.90, 89.90),
  (5018, 107, 7107, 2, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 149.90, 149.90),
  (5019, 108, 7108, 1, 'A', CURRENT_DATE() - INTERVAL 45 DAY, 119.90, 119.90),
  (5020, 108, 7108, 3, 'R', CURRENT_DATE() - INTERVAL 1 DAY, 250.00, 0.00),
  (5021, 108, 7108, 3, 'A', CURRENT_DATE() + INTERVAL 10 DAY, 99.90, 99.90),
  (5022, 108, 7108, 2, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 250.00, 250.00),
  (5023, 110, 7110, 2, 'A', CURRENT_DATE() + INTERVAL 25 DAY, 149.90, 149.90),
  (5024, 110, 7110, 3, 'A', CURRENT_DATE() + INTERVAL 25 DAY, 89.90, 89.90),
  (5025, 111, 7111, 1, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 250.00, 250.00),
  (5026, 112, 7112, 1, 'A', CURRENT_DATE() - INTERVAL 1 DAY, 199.90, 199.90),
  (5027, 112, 7112, 1, 'A', CURRENT_DATE() - INTERVAL 45 DAY, 199.90, 199.90),
  (5028, 112, 7112, 2, 'A', CURRENT_DATE() - INTERVAL 45 DAY, 99.90, 99.90),
  (5029, 112, 7112, 3, 'R', CURRENT_DATE() + INTERVAL 25 DAY, 89.90, 0.00),
  (5030, 113, 7113, 3, 'R', CURRENT_DATE() - INTERVAL 1 DAY, 199.90, 0.00),
  (5031, 113, 7113, 2, 'A', CURRENT_DATE() + INTERVAL 25 DAY, 119.90, 119.90),
  (5032, 114, 7114, 1, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 250.00, 250.00),
  (5033, 115, 7115, 2, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 79.00, 79.00),
  (5034, 115, 7115, 2, 'A', CURRENT_DATE() - INTERVAL 20 DAY, 199.90, 199.90),
  (5035, 116, 7116, 3, 'A', CURRENT_DATE() - INTERVAL 45 DAY, 199.90, 199.90),
  (5036, 116, 7116, 2, 'R', CURRENT_DATE() - INTERVAL 5 DAY, 79.00, 0.00),
  (5037, 117, 7117, 1, 'A', CURRENT_DATE() - INTERVAL 35 DAY, 199.90, 199.90),
  (5038, 117, 7117, 1, 'A', CURRENT_DATE() - INTERVAL 1 DAY, 79.00, 79.00),
  (5039, 117, 7117, 1, 'A', CURRENT_DATE() - INTERVAL 45 DAY, 119.90, 119.90),
  (5040, 117, 7117, 3, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 119.90, 119.90),
  (5041, 118, 7118, 3, 'A', CURRENT_DATE() + INTERVAL 10 DAY, 250.00, 250.00),
  (5042, 118, 7118, 3, 'A', CURRENT_DATE() + INTERVAL 10 DAY, 149.90, 149.90),
  (5043, 118, 7118, 3, 'A', CURRENT_DATE() - INTERVAL 1 DAY, 119.90, 119.90),
  (5044, 119, 7119, 1, 'A', CURRENT_DATE() - INTERVAL 90 DAY, 149.90, 149.90),
  (5045, 120, 7120, 1, 'R', CURRENT_DATE() + INTERVAL 10 DAY, 99.90, 0.00),
  (5046, 120, 7120, 2, 'R', CURRENT_DATE() - INTERVAL 90 DAY, 89.90, 0.00),
  (5047, 121, 7121, 3, 'A', CURRENT_DATE() + INTERVAL 25 DAY, 199.90, 199.90),
  (5048, 122, 7122, 3, 'A', CURRENT_DATE() + INTERVAL 10 DAY, 89.90, 89.90),
  (5049, 122, 7122, 2, 'R', CURRENT_DATE() + INTERVAL 10 DAY, 99.90, 0.00),
  (5050, 122, 7122, 1, 'A', CURRENT_DATE() - INTERVAL 90 DAY, 149.90, 149.90),
  (5051, 122, 7122, 3, 'R', CURRENT_DATE() - INTERVAL 1 DAY, 89.90, 0.00),
  (5052, 123, 7123, 3, 'A', CURRENT_DATE() - INTERVAL 35 DAY, 79.00, 79.00),
  (5053, 124, 7124, 2, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 89.90, 89.90),
  (5054, 124, 7124, 3, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 250.00, 250.00),
  (5055, 125, 7125, 1, 'A', CURRENT_DATE() - INTERVAL 12 DAY, 89.90, 89.90),
  (5056, 125, 7125, 2, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 79.00, 79.00),
  (5057, 125, 7125, 1, 'A', CURRENT_DATE() - INTERVAL 35 DAY, 79.00, 79.00),
  (5058, 126, 7126, 2, 'A', CURRENT_DATE() - INTERVAL 20 DAY, 149.90, 149.90),
  (5059, 126, 7126, 1, 'A', CURRENT_DATE() - INTERVAL 35 DAY, 89.90, 89.90),
  (5060, 126, 7126, 1, 'A', CURRENT_DATE() + INTERVAL 10 DAY, 99.90, 99.90),
  (5061, 126, 7126, 2, 'A', CURRENT_DATE() - INTERVAL 12 DAY, 199.90, 199.90),
  (5062, 127, 7127, 2, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 149.90, 149.90),
  (5063, 128, 7128, 1, 'A', CURRENT_DATE() - INTERVAL 45 DAY, 199.90, 199.90),
  (5064, 128, 7128, 2, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 99.90, 99.90),
  (5065, 128, 7128, 1, 'R', CURRENT_DATE() - INTERVAL 60 DAY, 119.90, 0.00),
  (5066, 129, 7129, 1, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 119.90, 119.90),
  (5067, 129, 7129, 2, 'A', CURRENT_DATE() - INTERVAL 12 DAY, 79.00, 79.00),
  (5068, 129, 7129, 1, 'A', CURRENT_DATE() - INTERVAL 35 DAY, 250.00, 250.00),
  (5069, 129, 7129, 3, 'A', CURRENT_DATE() - INTERVAL 90 DAY, 149.90, 149.90),
  (5070, 130, 7130, 3, 'A', CURRENT_DATE() + INTERVAL 3 DAY, 89.90, 89.90),
  (5071, 131, 7131, 3, 'A', CURRENT_DATE() - INTERVAL 35 DAY, 119.90, 119.90),
  (5072, 131, 7131, 1, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 199.90, 199.90),
  (5073, 132, 7132, 1, 'A', CURRENT_DATE() + INTERVAL 10 DAY, 149.90, 149.90),
  (5074, 132, 7132, 3, 'A', CURRENT_DATE() - INTERVAL 35 DAY, 79.00, 79.00),
  (5075, 132, 7132, 1, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 149.90, 149.90),
  (5076, 133, 7133, 2, 'A', CURRENT_DATE() + INTERVAL 3 DAY, 99.90, 99.90),
  (5077, 134, 7134, 1, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 89.90, 89.90),
  (5078, 134, 7134, 2, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 119.90, 119.90),
  (5079, 134, 7134, 1, 'A', CURRENT_DATE() - INTERVAL 1 DAY, 250.00, 250.00),
  (5080, 136, 7136, 1, 'A', CURRENT_DATE() - INTERVAL 90 DAY, 250.00, 250.00),
  (5081, 136, 7136, 2, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 79.00, 79.00),
  (5082, 136, 7136, 2, 'A', CURRENT_DATE() - INTERVAL 35 DAY, 149.90, 149.90),
  (5083, 136, 7136, 1, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 99.90, 99.90),
  (5084, 137, 7137, 2, 'R', CURRENT_DATE() - INTERVAL 20 DAY, 99.90, 0.00),
  (5085, 137, 7137, 3, 'A', CURRENT_DATE() - INTERVAL 60 DAY, 119.90, 119.90),
  (5086, 137, 7137, 2, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 89.90, 89.90),
  (5087, 137, 7137, 1, 'A', CURRENT_DATE() + INTERVAL 25 DAY, 149.90, 149.90),
  (5088, 138, 7138, 2, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 99.90, 99.90);

-- Edge cases, one customer each (ids 201 and up).
INSERT INTO cliente (id, razao, cnpj_cpf, telefone_celular, ativo, data_cadastro, bairro, cidade, id_tipo_cliente) VALUES
  -- contact: null, empty, a single blank (null, null, kept)
  (201, 'Contato Nulo da Silva', '111.111.111-11', NULL, 'S', '2019-05-20', 'Centro', 1, 1),
  (202, 'Contato Vazio Araújo', '222.222.222-22', '', 'S', '2019-05-21', 'Centro', 1, 1),
  (203, 'Contato Branco Simões', '333.333.333-33', ' ', 'S', '2019-05-22', 'Centro', 1, 1),
  -- status: lower-case n, empty and null are active; only 'N' is inactive
  (204, 'Status Minúsculo Brandão', '444.444.444-44', '(48) 99999-0004', 'n', '2020-01-10', 'Trindade', 2, 1),
  (205, 'Status Vazio Falcão', '555.555.555-55', '(48) 99999-0005', '', '2020-01-11', 'Trindade', 2, 1),
  (206, 'Status Nulo Guimarães', '666.666.666-66', '(48) 99999-0006', NULL, '2020-01-12', 'Trindade', 2, 1),
  (207, 'Inativo Loureiro', '777.777.777-77', '(48) 99999-0007', 'N', '2020-01-13', 'Trindade', 2, 1),
  -- sign-up date: null, zero date, zero day; and 2018-11-04, a day without
  -- a local midnight in America/Sao_Paulo (daylight saving started at 00:00)
  (208, 'Cadastro Nulo Damásio', '888.888.888-88', '(11) 98888-0008', 'S', NULL, 'Moema', 1, 1),
  (209, 'Cadastro Zerado Romão', '999.999.999-99', '(11) 98888-0009', 'S', '0000-00-00', 'Moema', 1, 1),
  (210, 'Cadastro Dia Zero Calixto', '010.010.010-10', '(11) 98888-0010', 'S', '2015-06-00', 'Moema', 1, 1),
  (211, 'Horário de Verão Peçanha', '011.011.011-11', '(11) 98888-0011', 'S', '2018-11-04', 'Moema', 1, 1),
  -- no city (and no district), no type, no branch on the receivable
  (212, 'Sem Cidade Mendonça', '012.012.012-12', '(82) 97777-0012', 'S', '2017-08-15', NULL, NULL, 1),
  (213, 'Sem Tipo Brás', '013.013.013-13', '(82) 97777-0013', 'S', '2017-08-16', 'Ponta Verde', 5, NULL),
  (214, 'Sem Filial Estevão', '014.014.014-14', '(82) 97777-0014', 'S', '2017-08-17', 'Ponta Verde', 5, 3),
  -- texts: both quote kinds, backslashes, controls, DEL, accents, emoji and
  -- an SQL-injection-looking name
  (215, 'Bar do Zé''s "Boteco"', '015.015.015-15', '(21) 96666-0015', 'S', '2016-02-29', 'Copacabana', 1, 2),
  (216, 'D''Ávila & Filhos', '016.016.016-16', '(21) 96666-0016', 'S', '2016-03-01', 'Barra \\ Tijuca', 1, 2),
  (217, CONCAT('Linha1', CHAR(10), 'Linha2', CHAR(9), 'Tab', CHAR(13), 'CR', CHAR(1), CHAR(127)), '017.017.017-17', '(21) 96666-0017', 'S', '2016-03-02', 'Leblon', 1, 1),
  (218, 'Robert''); DROP TABLE cliente;--', '018.018.018-18', '(21) 96666-0018', 'S', '2016-03-03', 'Ipanema', 1, 1),
  (219, 'Açaí da Praia 🌴🍹 Ltda', '019.019.019-19', '(71) 95555-0019', 'S', '2021-12-24', 'Barra', 1, 2),
  (220, CONCAT('Espaço', _utf8mb4 X'C2A0', 'Rígido', _utf8mb4 X'E2808B', 'Zero'), '020.020.020-20', '(71) 95555-0020', 'S', '2021-12-25', 'Rio Vermelho', 1, 1),
  -- several receivables: a null valor is not counted, open amounts summed,
  -- the earliest due date shown
  (221, 'Vários Títulos Gonçalves', '021.021.021-21', '(51) 94444-0021', 'S', '2014-09-09', 'Moinhos de Vento', 4, 1),
  -- only receivables that are not overdue: never listed
  (222, 'Em Dia Conceição', '022.022.022-22', '(51) 94444-0022', 'S', '2014-09-10', 'Moinhos de Vento', 4, 1),
  -- inactive, with its receivable long overdue
  (223, 'Inativo Centavos Assunção', '023.023.023-23', '(51) 94444-0023', 'N', '2014-09-11', 'Bom Fim', 4, 1);

INSERT INTO fn_areceber (id, id_cliente, id_contrato, filial_id, status, data_vencimento, valor, valor_aberto) VALUES
  (9201, 201, 8201, 1, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 99.90, 99.90),
  (9202, 202, 8202, 1, 'A', CURRENT_DATE() - INTERVAL 41 DAY, 99.90, 99.90),
  (9203, 203, 8203, 1, 'A', CURRENT_DATE() - INTERVAL 42 DAY, 99.90, 99.90),
  (9204, 204, 8204, 2, 'A', CURRENT_DATE() - INTERVAL 15 DAY, 129.90, 129.90),
  (9205, 205, 8205, 2, 'A', CURRENT_DATE() - INTERVAL 16 DAY, 129.90, 129.90),
  (9206, 206, 8206, 2, 'A', CURRENT_DATE() - INTERVAL 17 DAY, 129.90, 129.90),
  (9207, 207, 8207, 2, 'A', CURRENT_DATE() - INTERVAL 120 DAY, 129.90, 129.90),
  (9208, 208, 8208, 1, 'A', CURRENT_DATE() - INTERVAL 8 DAY, 79.90, 79.90),
  (9209, 209, 8209, 1, 'A', CURRENT_DATE() - INTERVAL 9 DAY, 79.90, 79.90),
  (9210, 210, 8210, 1, 'A', CURRENT_DATE() - INTERVAL 10 DAY, 79.90, 79.90),
  (9211, 211, 8211, 1, 'A', CURRENT_DATE() - INTERVAL 11 DAY, 79.90, 79.90),
  (9212, 212, 8212, 3, 'A', CURRENT_DATE() - INTERVAL 30 DAY, 59.90, 59.90),
  (9213, 213, 8213, 3, 'A', CURRENT_DATE() - INTERVAL 31 DAY, 59.90, 59.90),
  (9214, 214, 8214, NULL, 'A', CURRENT_DATE() - INTERVAL 32 DAY, 59.90, 59.90),
  (9215, 215, 8215, 1, 'A', CURRENT_DATE() - INTERVAL 50 DAY, 350.00, 350.00),
  (9216, 216, 8216, 1, 'A', CURRENT_DATE() - INTERVAL 51 DAY, 420.50, 210.25),
  (9217, 217, 8217, 1, 'A', CURRENT_DATE() - INTERVAL 52 DAY, 99.90, 99.90),
  (9218, 218, 8218, 1, 'A', CURRENT_DATE() - INTERVAL 53 DAY, 0.01, 0.01),
  (9219, 219, 8219, 2, 'A', CURRENT_DATE() - INTERVAL 54 DAY, 189.90, 189.90),
  (9220, 220, 8220, 2, 'A', CURRENT_DATE() - INTERVAL 55 DAY, 189.90, 189.90),
  (9221, 221, 8221, 1, 'A', CURRENT_DATE() - INTERVAL 70 DAY, 100.00, 100.00),
  (9222, 221, 8221, 1, 'A', CURRENT_DATE() - INTERVAL 40 DAY, 100.00, 60.00),
  (9223, 221, 8221, 1, 'A', CURRENT_DATE() - INTERVAL 10 DAY, NULL, 25.50),
  (9224, 221, 8221, 1, 'R', CURRENT_DATE() - INTERVAL 100 DAY, 100.00, 0.00),
  (9225, 222, 8222, 1, 'A', CURRENT_DATE(), 99.90, 99.90),
  (9226, 222, 8222, 1, 'A', CURRENT_DATE() + INTERVAL 20 DAY, 99.90, 99.90),
  (9227, 222, 8222, 1, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 99.90, 0.00),
  (9228, 222, NULL, 1, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 99.90, 99.90),
  (9229, 222, 8222, 1, 'C', CURRENT_DATE() - INTERVAL 5 DAY, 99.90, 99.90),
  (9230, 222, 8222, 1, 'R', CURRENT_DATE() - INTERVAL 5 DAY, 99.90, 99.90),
  (9231, 223, 8223, 3, 'A', CURRENT_DATE() - INTERVAL 200 DAY, 10.01, 10.01);
