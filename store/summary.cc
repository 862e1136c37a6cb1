#include "store/summary.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "model/customer_list.h"
#include "model/value_text.h"
#include "store/amount_sum.h"

namespace cobrix::store {

namespace {

// The record keys the summary reads, as positions in kCustomerKeys.
enum Key : std::size_t {
  kId = 0,
  kRazaoSocial = 2,
  kStatus = 5,
  kValor = 7,
  kTitulos = 8,
  kVencimento = 9,
  kFilial = 10,
  kCidade = 11,
};

// The value under kCustomerKeys[key]: where the discovery puts it, else
// wherever the record has it; nullptr when it has none.
const ValueView* find(const std::vector<FieldView>& fields, Key key) {
  if (key < fields.size() && fields[key].key == kCustomerKeys[key]) return &fields[key].value;
  for (const FieldView& field : fields)
    if (field.key == kCustomerKeys[key]) return &field.value;
  return nullptr;
}

std::optional<std::int64_t> integer_of(const ValueView* v) {
  if (const auto* i = v ? std::get_if<std::int64_t>(v) : nullptr) return *i;
  return std::nullopt;
}

std::optional<double> amount_of(const ValueView* v) {
  if (!v) return std::nullopt;
  if (const auto* d = std::get_if<double>(v)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(v)) return static_cast<double>(*i);
  return std::nullopt;
}

std::optional<DateTime> date_of(const ValueView* v) {
  if (const auto* t = v ? std::get_if<DateTime>(v) : nullptr) return *t;
  return std::nullopt;
}

// The text that a text column stores for `v`: a text as it is, another
// kind in the form the upsert sends it; `buffer` holds a made text.
std::optional<std::string_view> text_of(const ValueView* v, std::string& buffer) {
  if (!v || std::holds_alternative<Null>(*v)) return std::nullopt;
  if (const auto* s = std::get_if<std::string_view>(v)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(v)) {
    buffer = std::to_string(*i);
  } else if (const auto* d = std::get_if<double>(v)) {
    buffer = std::isnan(*d) ? "NaN" : std::isinf(*d) ? (*d < 0 ? "-Infinity" : "Infinity") : format_double(*d);
  } else {
    buffer = format_datetime(std::get<DateTime>(*v));
  }
  return buffer;
}

std::optional<std::string> owned(std::optional<std::string_view> text) {
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

bool earlier(const DateTime& a, const DateTime& b) {
  return std::tie(a.year, a.month, a.day, a.hour, a.minute, a.second, a.microsecond) <
         std::tie(b.year, b.month, b.day, b.hour, b.minute, b.second, b.microsecond);
}

// What one record adds to a group.
struct Customer {
  std::optional<std::int64_t> status;
  std::optional<std::int64_t> titulos;
  Amount amount;
  bool has_amount = false;
  std::optional<DateTime> vencimento;
};

class GroupSum {
 public:
  void add(const Customer& c) {
    if (c.vencimento && (!vencimento_ || earlier(*c.vencimento, *vencimento_))) vencimento_ = c.vencimento;
    if (!c.status) return;
    Part& part = *c.status != 0 ? ativos_ : inativos_;
    ++part.clientes;
    part.titulos += c.titulos.value_or(0);
    if (c.has_amount) part.valor.add(c.amount);
  }

  GroupSummary summary(std::optional<std::string> nome, const DateTime& run) const {
    GroupSummary s;
    s.nome = std::move(nome);
    s.clientes_ativos = ativos_.clientes;
    s.titulos_ativos = ativos_.titulos;
    s.valor_ativos = ativos_.valor.rounded();
    s.clientes_inativos = inativos_.clientes;
    s.titulos_inativos = inativos_.titulos;
    s.valor_inativos = inativos_.valor.rounded();
    s.vencimento = vencimento_;
    if (vencimento_) s.dias_atraso = day_number(run) - day_number(*vencimento_);
    return s;
  }

 private:
  struct Part {
    std::int64_t clientes = 0;
    std::int64_t titulos = 0;
    AmountSum valor;
  };
  Part ativos_;
  Part inativos_;
  std::optional<DateTime> vencimento_;
};

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// The groups of one text column (branch, city), the customers without a
// value apart.
class Groups {
 public:
  GroupSum& of(std::optional<std::string_view> name) {
    if (!name) {
      any_without_ = true;
      return without_;
    }
    const auto found = named_.find(*name);
    return found != named_.end() ? found->second : named_.try_emplace(std::string(*name)).first->second;
  }

  std::vector<GroupSummary> summaries(const DateTime& run) const {
    std::vector<const std::pair<const std::string, GroupSum>*> order;
    for (const auto& entry : named_) order.push_back(&entry);
    std::sort(order.begin(), order.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    std::vector<GroupSummary> out;
    for (const auto* entry : order) out.push_back(entry->second.summary(entry->first, run));
    if (any_without_) out.push_back(without_.summary(std::nullopt, run));
    return out;
  }

 private:
  std::unordered_map<std::string, GroupSum, TextHash, std::equal_to<>> named_;
  GroupSum without_;
  bool any_without_ = false;
};

// A debtor's place: amount descending with NaN above every number (as
// PostgreSQL orders float8), then idcliente ascending with none last, then
// record order.
struct Candidate {
  double amount;
  std::optional<std::int64_t> id;
  std::size_t index;
};

bool ranks_before(const Candidate& a, const Candidate& b) {
  const bool nan_a = std::isnan(a.amount);
  const bool nan_b = std::isnan(b.amount);
  if (nan_a != nan_b) return nan_a;
  if (!nan_a && a.amount != b.amount) return a.amount > b.amount;
  if (a.id.has_value() != b.id.has_value()) return a.id.has_value();
  if (a.id && *a.id != *b.id) return *a.id < *b.id;
  return a.index < b.index;
}

}  // namespace

RunSummary summarize(const RecordList& records, const DateTime& timestamp) {
  GroupSum total;
  Groups filiais;
  Groups cidades;
  // The kept candidates, the last-placed on top, to be replaced by a better one.
  std::priority_queue<Candidate, std::vector<Candidate>, decltype(&ranks_before)> top(&ranks_before);
  std::vector<FieldView> fields;
  std::string filial_text;
  std::string cidade_text;
  for (std::size_t i = 0; i < records.size(); ++i) {
    records.read(i, fields);
    Customer c;
    c.status = integer_of(find(fields, kStatus));
    c.titulos = integer_of(find(fields, kTitulos));
    c.vencimento = date_of(find(fields, kVencimento));
    const std::optional<double> amount = amount_of(find(fields, kValor));
    if (amount) {
      c.amount = exact_amount(*amount);
      c.has_amount = true;
    }
    total.add(c);
    const auto filial = text_of(find(fields, kFilial), filial_text);
    const auto cidade = text_of(find(fields, kCidade), cidade_text);
    filiais.of(filial).add(c);
    cidades.of(cidade).add(c);
    if (!amount) continue;
    const Candidate candidate{*amount, integer_of(find(fields, kId)), i};
    if (top.size() < kTopDebtors) {
      top.push(candidate);
    } else if (ranks_before(candidate, top.top())) {
      top.pop();
      top.push(candidate);
    }
  }

  RunSummary summary;
  summary.timestamp = timestamp;
  summary.total = total.summary(std::nullopt, timestamp);
  summary.filiais = filiais.summaries(timestamp);
  summary.cidades = cidades.summaries(timestamp);
  std::vector<Candidate> ranked;
  for (; !top.empty(); top.pop()) ranked.push_back(top.top());
  std::reverse(ranked.begin(), ranked.end());
  std::string buffer;
  for (const Candidate& candidate : ranked) {
    records.read(candidate.index, fields);
    Debtor d;
    d.idcliente = candidate.id;
    d.razaosocial = owned(text_of(find(fields, kRazaoSocial), buffer));
    d.filial = owned(text_of(find(fields, kFilial), buffer));
    d.cidade = owned(text_of(find(fields, kCidade), buffer));
    d.statuscliente = integer_of(find(fields, kStatus));
    d.valoratraso = candidate.amount;
    d.titulosatraso = integer_of(find(fields, kTitulos));
    d.vencimento = date_of(find(fields, kVencimento));
    if (d.vencimento) d.dias_atraso = day_number(timestamp) - day_number(*d.vencimento);
    summary.devedores.push_back(std::move(d));
  }
  return summary;
}

}  // namespace cobrix::store
