#include "store/summary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <queue>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "model/customer_list.h"
#include "model/value_text.h"

namespace cobrix::store {

namespace {

__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

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

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t day_number(const DateTime& t) {
  const std::int64_t y = t.year - (t.month <= 2);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

// An amount as PostgreSQL's float8-to-numeric cast reads it: the double's
// 15 significant digits ("%.15g"), here digits × 10^exponent.
struct Amount {
  enum class Kind { finite, nan, plus_infinity, minus_infinity } kind = Kind::finite;
  std::int64_t digits = 0;
  int exponent = 0;
};

Amount exact_amount(double v) {
  if (std::isnan(v)) return {Amount::Kind::nan};
  if (std::isinf(v)) return {v < 0 ? Amount::Kind::minus_infinity : Amount::Kind::plus_infinity};
  // Most amounts are the nearest double to a number of cents: then that
  // number of cents, which has at most 15 digits, is what "%.15g" reads.
  const double cents = std::nearbyint(v * 100);
  if (std::fabs(cents) < 1e15 && cents / 100 == v) return {Amount::Kind::finite, static_cast<std::int64_t>(cents), -2};
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 15).ptr;
  Amount a;
  bool negative = false;
  bool point = false;
  const char* p = text;
  for (; p < end && *p != 'e'; ++p) {
    if (*p == '-') {
      negative = true;
    } else if (*p == '.') {
      point = true;
    } else {
      a.digits = a.digits * 10 + (*p - '0');
      if (point) --a.exponent;
    }
  }
  if (p < end) {
    int e = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, e);
    a.exponent += e;
  }
  if (negative) a.digits = -a.digits;
  return a;
}

// "-1234.05" for -123405 cents.
std::string cents_text(Int128 cents) {
  const bool negative = cents < 0;
  UInt128 rest = negative ? -static_cast<UInt128>(cents) : static_cast<UInt128>(cents);
  char digits[48];
  char* p = digits + sizeof digits;
  for (int place = -2; place <= 0 || rest != 0; ++place) {
    if (place == 0) *--p = '.';
    *--p = static_cast<char>('0' + static_cast<int>(rest % 10));
    rest /= 10;
  }
  if (negative) *--p = '-';
  return std::string(p, digits + sizeof digits);
}

// The exact sum of amounts, and its value rounded to cents as numeric's
// round(..., 2) rounds it: half away from zero.
class AmountSum {
 public:
  void add(const Amount& a) {
    switch (a.kind) {
      case Amount::Kind::nan: nan_ = true; return;
      case Amount::Kind::plus_infinity: plus_infinity_ = true; return;
      case Amount::Kind::minus_infinity: minus_infinity_ = true; return;
      case Amount::Kind::finite: break;
    }
    if (a.exponent >= -2 && a.exponent <= 13) {
      Int128 term = a.digits;
      for (int e = -2; e < a.exponent; ++e) term *= 10;
      cents_ += term;
      return;
    }
    auto at = std::find_if(others_.begin(), others_.end(), [&](const auto& t) { return t.first == a.exponent; });
    if (at == others_.end()) at = others_.insert(others_.end(), {a.exponent, 0});
    at->second += a.digits;
  }

  std::string rounded() const {
    if (nan_ || (plus_infinity_ && minus_infinity_)) return "NaN";
    if (plus_infinity_) return "Infinity";
    if (minus_infinity_) return "-Infinity";
    if (others_.empty()) return cents_text(cents_);
    std::vector<std::pair<int, Int128>> terms = others_;
    terms.emplace_back(-2, cents_);
    std::sort(terms.begin(), terms.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const int lo = std::min(terms.front().first, -3);
    const int hi = std::max(terms.back().first, 0) + 42;  // room for every carry of an Int128 sum
    // The decimal digits of the sum, lowest place first: each term added at
    // its place with the carry from below, floored so that every digit is
    // 0..9; a carry left at the top is -1 for a negative sum, which is then
    // written again as the digits of its negation.
    std::vector<int> digits;
    bool negative = false;
    for (const int sign : {1, -1}) {
      digits.assign(static_cast<std::size_t>(hi - lo + 1), 0);
      Int128 carry = 0;
      std::size_t t = 0;
      for (int place = lo; place <= hi; ++place) {
        Int128 v = carry;
        for (; t < terms.size() && terms[t].first == place; ++t) v += sign * terms[t].second;
        int d = static_cast<int>(v % 10);
        v /= 10;
        if (d < 0) {
          d += 10;
          v -= 1;
        }
        digits[static_cast<std::size_t>(place - lo)] = d;
        carry = v;
      }
      if (carry == 0) break;
      negative = true;
    }
    const auto at = [&](int place) -> int& { return digits[static_cast<std::size_t>(place - lo)]; };
    if (at(-3) >= 5)
      for (int place = -2; ++at(place) == 10; ++place) at(place) = 0;
    int top = hi;
    while (top > 0 && at(top) == 0) --top;
    const bool zero = top == 0 && at(0) == 0 && at(-1) == 0 && at(-2) == 0;
    std::string text = negative && !zero ? "-" : "";
    for (int place = top; place >= -2; --place) {
      if (place == -1) text += '.';
      text += static_cast<char>('0' + at(place));
    }
    return text;
  }

 private:
  Int128 cents_ = 0;                             // the terms of two decimals or fewer, in cents
  std::vector<std::pair<int, Int128>> others_;   // the others, each place's sum of digits
  bool nan_ = false;
  bool plus_infinity_ = false;
  bool minus_infinity_ = false;
};

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
