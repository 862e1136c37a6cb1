-- The five IXC tables that cobrix reads, without their secondary indexes
-- (ixc_indexes.sql adds those after the bulk load, which is faster).
CREATE TABLE cliente (
  id INT NOT NULL PRIMARY KEY,
  razao VARCHAR(255),
  cnpj_cpf VARCHAR(20),
  telefone_celular VARCHAR(30) NULL,
  ativo CHAR(1),
  data_cadastro DATE NULL,
  bairro VARCHAR(100) NULL,
  cidade INT NULL,
  id_tipo_cliente INT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

CREATE TABLE fn_areceber (
  id INT NOT NULL PRIMARY KEY,
  id_cliente INT NOT NULL,
  id_contrato INT NULL,
  filial_id INT NULL,
  status CHAR(1) NOT NULL,
  data_vencimento DATE NOT NULL,
  valor DECIMAL(10,2) NULL,
  valor_aberto DECIMAL(10,2) NOT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

CREATE TABLE filial (
  id INT NOT NULL PRIMARY KEY,
  razao VARCHAR(255)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

CREATE TABLE cidade (
  id INT NOT NULL PRIMARY KEY,
  nome VARCHAR(255)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;

CREATE TABLE tipo_cliente (
  id INT NOT NULL PRIMARY KEY,
  tipo_cliente VARCHAR(100)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;
