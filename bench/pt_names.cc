#include "bench/pt_names.h"

#include <array>

namespace cobrix::bench {

namespace {

constexpr std::string_view kFirstNames[] = {
    "Maria",    "José",      "Ana",      "João",     "Antônio",  "Francisca", "Carlos",   "Luíza",
    "Paulo",    "Adriana",   "Lucas",    "Juliana",  "Luís",     "Márcia",    "Gabriel",  "Fernanda",
    "Rafael",   "Patrícia",  "Marcos",   "Aline",    "Sebastião", "Sandra",   "André",    "Camila",
    "Fábio",    "Amanda",    "Gonçalo",  "Bruna",    "Vinícius", "Jéssica",   "Cláudio",  "Letícia",
    "Matheus",  "Júlia",     "Márcio",   "Lúcia",    "Thiago",   "Vitória",   "Rogério",  "Beatriz",
    "Sérgio",   "Débora",    "Raimundo", "Cecília",  "Inácio",   "Mônica",    "Otávio",   "Helena",
    "Estêvão",  "Conceição", "Ícaro",    "Glória",   "Caetano",  "Tânia",     "Joaquim",  "Sônia",
    "Benedito", "Natália",   "Valéria",  "Érica",    "Ângelo",   "Irene",     "Jânio",    "Rosângela"};

constexpr std::string_view kMiddleNames[] = {
    "da Silva", "dos Santos", "de Oliveira", "de Souza", "das Graças", "de Jesus", "da Conceição",
    "Aparecida", "Cristina", "Eduardo", "Henrique", "Luís", "Vitória", "de Assunção", "do Carmo"};

constexpr std::string_view kSurnames[] = {
    "Araújo",    "Pereira",   "Gonçalves", "Conceição", "Ribeiro",   "Magalhães", "Simões",  "Brandão",
    "Lima",      "Carvalho",  "Gomes",     "Rodrigues", "Fagundes",  "Nóbrega",   "Guimarães", "Assunção",
    "Lopes",     "Marques",   "Albuquerque", "Falcão",  "Peçanha",   "Antunes",   "Sá",      "Mendonça",
    "Barbosa",   "Cardoso",   "Teixeira",  "Romão",     "Estevão",   "Monteiro",  "Damásio", "Calixto",
    "Rocha",     "Dias",      "Nunes",     "Moreira",   "Sant'Ana",  "D'Ávila",   "Brito",   "Valadão",
    "Castro",    "Freitas",   "Pinto",     "Loureiro",  "Câmara",    "Leão",      "Patrício", "Tavares"};

constexpr std::string_view kCompanyTrades[] = {
    "Comércio", "Serviços", "Informática", "Materiais de Construção", "Transportes", "Alimentação",
    "Distribuidora", "Panificação", "Autopeças", "Clínica Médica", "Contabilidade", "Educação", "Farmácia",
    "Academia", "Pousada", "Mercearia", "Açougue", "Ótica", "Papelaria", "Lavanderia"};

constexpr std::string_view kCompanySuffixes[] = {"Ltda", "ME", "EIRELI", "S.A.", "Ltda - ME", "EPP"};

constexpr std::string_view kDistricts[] = {
    "Centro",          "Jardim América",   "Vila Nova",        "São Cristóvão",   "Boa Vista",
    "Santa Mônica",    "Jardim Paulista",  "Bela Vista",       "Alto da Glória",  "Conceição",
    "Vila Operária",   "Parque São Jorge", "Jardim Primavera", "Morada do Sol",   "Santo Antônio",
    "São José",        "Nossa Senhora Aparecida", "Industrial", "Jardim Europa",  "Vila Esperança",
    "Cidade Nova",     "Planalto",         "Lagoa Seca",       "Barra do Ceará",  "Pirajá",
    "Jardim Botânico", "Três Poderes",     "Ipiranga",         "Cohab",           "Alvorada",
    "Vila Maria",      "São Benedito",     "Jardim Itália",    "Maracanã",        "Santa Luzia",
    "Bairro dos Estados", "Cerâmica",      "Várzea",           "Guanabara",       "Ponte Preta",
    "Monte Castelo",   "Jardim Paraíso",   "Cruzeiro",         "Vila Rica",       "Pôr do Sol",
    "São Judas Tadeu", "Tabajaras",        "Novo Horizonte",   "Rio Vermelho",    "Fátima"};

constexpr std::string_view kCityHeads[] = {
    "São José",       "Santa Rita",   "Nova Esperança", "Santo Antônio", "São João",   "Bom Jesus",
    "Santa Maria",    "Porto",        "Campo",          "Rio",           "Lagoa",      "Serra",
    "Monte",          "Vila",         "São Sebastião",  "Conceição",     "Nossa Senhora", "Paraíso",
    "Boa Esperança",  "Senador",      "Presidente",     "Governador",    "Itaú",       "Ibirá",
    "Piraí",          "Cruzeiro",     "Palmeira",       "Riacho",        "Barra",      "Ponte",
    "São Miguel",     "São Pedro",    "Santa Luzia",    "Jardim",        "Alto",       "Cachoeira",
    "Pedra",          "Três Rios",    "Água Branca",    "Lajeado",       "Marechal",   "Capão",
    "Ribeirão",       "Taboão",       "São Gonçalo",    "Canindé",       "Juazeiro",   "Itapeva",
    "Guaraçaí",       "Tupã"};

constexpr std::string_view kCityTails[] = {
    "do Sul",          "do Norte",       "da Serra",       "dos Campos",     "do Oeste",      "de Minas",
    "do Piauí",        "das Flores",     "do Paraíso",     "da Boa Vista",   "do Araguaia",   "do Tocantins",
    "de Goiás",        "da Bahia",       "do Pará",        "das Missões",    "do Itapecuru",  "da Mata",
    "do Rio Pardo",    "dos Pinhais",    "das Palmeiras",  "do Sertão",      "da Lagoa",      "do Ribeirão",
    "Alegre",          "Novo",           "Velho",          "Grande",         "Bonito",        "Formoso",
    "do Jacuí",        "do Capibaribe",  "do Iguaçu",      "das Almas",      "do Mearim",     "da Barra",
    "das Pedras",      "do Cariri",      "de Itaúna",      "do Guaporé",     "da Esperança",  "do Xingu",
    "dos Índios",      "da Ribeira",     "do Açu",         "do Paranapanema", "do São Francisco", "das Águas",
    "da Cruz",         "do Ouro",        "do Leste",       "da Glória",      "do Tietê",      "Paulista",
    "Mineiro",         "Gaúcho",         "Baiano",         "Fluminense",     "Capixaba",      "Potiguar"};

constexpr std::string_view kBranchPlaces[] = {
    "Matriz", "Centro", "Zona Norte", "Zona Sul", "Zona Leste", "Zona Oeste", "Litoral", "Serra", "Interior",
    "Vale", "Distrito Industrial", "Região Metropolitana"};

constexpr std::string_view kCustomerTypes[] = {
    "Pessoa Física", "Pessoa Jurídica", "Condomínio", "Órgão Público",
    "Empresarial", "Residencial", "Rural", "Revenda"};

constexpr std::size_t kBranches = 42;

void append_digits(Rng& rng, std::string& out, int count) {
  for (int i = 0; i < count; ++i) out.push_back(static_cast<char>('0' + rng.below(10)));
}

}  // namespace

void append_person_name(Rng& rng, std::string& out) {
  out += rng.pick(kFirstNames);
  out.push_back(' ');
  if (rng.chance(600)) {
    out += rng.pick(kMiddleNames);
    out.push_back(' ');
  }
  out += rng.pick(kSurnames);
  if (rng.chance(300)) {
    out.push_back(' ');
    out += rng.pick(kSurnames);
  }
}

void append_company_name(Rng& rng, std::string& out) {
  out += rng.pick(kSurnames);
  if (rng.chance(400)) {
    out += " & ";
    out += rng.pick(kSurnames);
  }
  out.push_back(' ');
  out += rng.pick(kCompanyTrades);
  out.push_back(' ');
  out += rng.pick(kCompanySuffixes);
}

void append_cpf(Rng& rng, std::string& out) {
  append_digits(rng, out, 3);
  out.push_back('.');
  append_digits(rng, out, 3);
  out.push_back('.');
  append_digits(rng, out, 3);
  out.push_back('-');
  append_digits(rng, out, 2);
}

void append_cnpj(Rng& rng, std::string& out) {
  append_digits(rng, out, 2);
  out.push_back('.');
  append_digits(rng, out, 3);
  out.push_back('.');
  append_digits(rng, out, 3);
  out += "/0001-";
  append_digits(rng, out, 2);
}

void append_mobile(Rng& rng, std::string& out) {
  static constexpr std::string_view kAreaCodes[] = {"11", "21", "31", "41", "47", "48", "51", "61",
                                                    "62", "71", "81", "85", "86", "91", "92", "98"};
  out.push_back('(');
  out += rng.pick(kAreaCodes);
  out += ") 9";
  append_digits(rng, out, 4);
  out.push_back('-');
  append_digits(rng, out, 4);
}

std::string_view district(Rng& rng) { return rng.pick(kDistricts); }

std::size_t city_count() { return std::size(kCityHeads) * std::size(kCityTails); }

std::string city_name(std::size_t index) {
  std::string name(kCityHeads[index % std::size(kCityHeads)]);
  name.push_back(' ');
  name += kCityTails[index / std::size(kCityHeads) % std::size(kCityTails)];
  return name;
}

std::size_t branch_count() { return kBranches; }

std::string branch_name(std::size_t index) {
  std::string name = "Net ";
  name += kSurnames[index % std::size(kSurnames)];
  name += " Telecom Ltda - ";
  name += kBranchPlaces[index % std::size(kBranchPlaces)];
  return name;
}

std::size_t customer_type_count() { return std::size(kCustomerTypes); }

std::string_view customer_type(std::size_t index) { return kCustomerTypes[index]; }

}  // namespace cobrix::bench
