#pragma once
// Brazilian-Portuguese names for the generated IXC data: people, companies,
// districts, cities, branches and customer types, with their accents.

#include <cstddef>
#include <string>
#include <string_view>

#include "bench/rng.h"

namespace cobrix::bench {

// Appends a person's full name ("Maria das Graças Araújo") to `out`.
void append_person_name(Rng& rng, std::string& out);
// Appends a company name ("Ribeiro & Conceição Comércio Ltda") to `out`.
void append_company_name(Rng& rng, std::string& out);
// Appends a formatted CPF ("123.456.789-09") or CNPJ ("12.345.678/0001-90").
void append_cpf(Rng& rng, std::string& out);
void append_cnpj(Rng& rng, std::string& out);
// Appends a mobile number ("(11) 98765-4321").
void append_mobile(Rng& rng, std::string& out);

std::string_view district(Rng& rng);

// City `index` in [0, city_count()): distinct names built from two lists.
std::size_t city_count();
std::string city_name(std::size_t index);

// Branch `index` in [0, branch_count()).
std::size_t branch_count();
std::string branch_name(std::size_t index);

// Customer type `index` in [0, customer_type_count()).
std::size_t customer_type_count();
std::string_view customer_type(std::size_t index);

}  // namespace cobrix::bench
