#include "model/customer_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace cobrix {

namespace {

// New blocks take this many bytes (more for a record that needs more). Large
// enough that the unused tail of a block and the block's own bookkeeping are
// a small share, small enough that the last, partly filled block is too.
constexpr std::size_t kBlockBytes = 64 * 1024;

// The kind byte in front of each packed value.
enum class Kind : unsigned char { null, integer, real, text, datetime, shared_text };

// The fields whose texts repeat across customers: branch, city, district,
// customer type. Their distinct texts are held once, up to a bound that
// keeps a field that does not repeat after all from growing the table
// without need (texts beyond it are packed in the record as usual).
constexpr std::array<bool, kOwnCustomerValues> kSharedField = {false, false, false, false, false, false, false,
                                                               false, false, false, true,  true,  true,  true};
constexpr std::size_t kMaxSharedTexts = 1 << 16;

// Unsigned integers: seven bits a byte, low bits first, the high bit set on
// every byte but the last. Signed ones first map 0, -1, 1, -2, ... to
// 0, 1, 2, 3, ..., so that small magnitudes of either sign take few bytes.
constexpr std::size_t kMaxVarint = 10;

std::uint64_t zigzag(std::int64_t v) {
  return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}
std::int64_t unzigzag(std::uint64_t u) { return static_cast<std::int64_t>(u >> 1) ^ -static_cast<std::int64_t>(u & 1); }

char* put_varint(char* p, std::uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<char>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<char>(v);
  return p;
}

std::uint64_t get_varint(const char*& p) {
  std::uint64_t v = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*p++);
    v |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return v;
  }
}

// The seven fields of a date-time, each as a signed integer.
constexpr std::size_t kDateFields = 7;

// The most bytes that `value` can take packed.
std::size_t packed_bound(const ValueView& value) {
  switch (value.index()) {
    case 0: return 1;
    case 1: return 1 + kMaxVarint;
    case 2: return 1 + sizeof(double);
    case 3: return 1 + kMaxVarint + std::get<std::string_view>(value).size() + 1;
    default: return 1 + kDateFields * kMaxVarint;
  }
}

char* pack_shared(char* p, std::uint32_t number) {
  *p++ = static_cast<char>(Kind::shared_text);
  return put_varint(p, number);
}

char* pack(char* p, const ValueView& value) {
  if (std::holds_alternative<Null>(value)) {
    *p++ = static_cast<char>(Kind::null);
  } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
    *p++ = static_cast<char>(Kind::integer);
    p = put_varint(p, zigzag(*i));
  } else if (const auto* d = std::get_if<double>(&value)) {
    *p++ = static_cast<char>(Kind::real);
    std::memcpy(p, d, sizeof *d);
    p += sizeof *d;
  } else if (const auto* s = std::get_if<std::string_view>(&value)) {
    // The bytes, then a NUL, which the reading contract promises after every text.
    *p++ = static_cast<char>(Kind::text);
    p = put_varint(p, s->size());
    if (!s->empty()) std::memcpy(p, s->data(), s->size());
    p += s->size();
    *p++ = '\0';
  } else {
    const DateTime& t = std::get<DateTime>(value);
    *p++ = static_cast<char>(Kind::datetime);
    for (const int field : {t.year, t.month, t.day, t.hour, t.minute, t.second, t.microsecond})
      p = put_varint(p, zigzag(field));
  }
  return p;
}

ValueView unpack(const char*& p, std::span<const std::string_view> shared) {
  switch (static_cast<Kind>(*p++)) {
    case Kind::shared_text:
      return shared[get_varint(p)];
    case Kind::null:
      return Null{};
    case Kind::integer:
      return unzigzag(get_varint(p));
    case Kind::real: {
      double d;
      std::memcpy(&d, p, sizeof d);
      p += sizeof d;
      return d;
    }
    case Kind::text: {
      const std::size_t size = get_varint(p);
      const std::string_view text(p, size);
      p += size + 1;
      return text;
    }
    default: {
      int fields[kDateFields];
      for (int& field : fields) field = static_cast<int>(unzigzag(get_varint(p)));
      return DateTime{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6]};
    }
  }
}

}  // namespace

void CustomerList::read(std::size_t index, std::vector<FieldView>& fields) const {
  fields.clear();
  const char* p = starts_[index];
  for (std::size_t f = 0; f < kOwnCustomerValues; ++f) fields.push_back({kCustomerKeys[f], unpack(p, shared_)});
  fields.push_back({kCustomerKeys[kOwnCustomerValues], identification_});
}

ValueView CustomerList::value(std::size_t index, std::size_t field) const {
  if (field == kOwnCustomerValues) return identification_;
  const char* p = starts_[index];
  for (std::size_t f = 0; f < field; ++f) unpack(p, shared_);
  return unpack(p, shared_);
}

std::size_t CustomerList::storage_bytes() const {
  std::size_t bytes = starts_.size() * sizeof(const char*) + shared_.size() * sizeof(std::string_view);
  for (const std::size_t size : block_sizes_) bytes += size;
  return bytes;
}

CustomerListBuilder::CustomerListBuilder(std::string_view identification) {
  list_.identification_ = keep(identification);
}

void CustomerListBuilder::add(std::span<const ValueView, kOwnCustomerValues> values) {
  // The numbers of the shared texts first: a new one is copied to the
  // blocks before the record's own room is taken.
  std::array<std::int64_t, kOwnCustomerValues> shared;
  shared.fill(-1);
  std::size_t bound = 0;
  for (std::size_t f = 0; f < kOwnCustomerValues; ++f) {
    const auto* text = std::get_if<std::string_view>(&values[f]);
    if (kSharedField[f] && text) shared[f] = shared_number(*text);
    bound += shared[f] >= 0 ? 1 + kMaxVarint : packed_bound(values[f]);
  }
  char* const start = reserve(bound);
  char* end = start;
  for (std::size_t f = 0; f < kOwnCustomerValues; ++f)
    end = shared[f] >= 0 ? pack_shared(end, static_cast<std::uint32_t>(shared[f])) : pack(end, values[f]);
  list_.starts_.push_back(start);
  left_ -= static_cast<std::size_t>(end - free_);
  free_ = end;
}

std::string_view CustomerListBuilder::keep(std::string_view text) {
  char* const p = reserve(text.size() + 1);
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  free_ += text.size() + 1;
  left_ -= text.size() + 1;
  return {p, text.size()};
}

std::int64_t CustomerListBuilder::shared_number(std::string_view text) {
  if (const auto it = shared_numbers_.find(text); it != shared_numbers_.end()) return it->second;
  if (list_.shared_.size() >= kMaxSharedTexts) return -1;
  const auto number = static_cast<std::uint32_t>(list_.shared_.size());
  list_.shared_.push_back(keep(text));
  shared_numbers_.emplace(list_.shared_.back(), number);
  return number;
}

char* CustomerListBuilder::reserve(std::size_t bytes) {
  if (bytes > left_) {
    const std::size_t size = std::max(kBlockBytes, bytes);
    // Not zero-filled: a block's pages are touched only as records fill them.
    list_.blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    list_.block_sizes_.push_back(size);
    free_ = list_.blocks_.back().get();
    left_ = size;
  }
  return free_;
}

CustomerList CustomerListBuilder::finish() && {
  shared_numbers_ = {};
  free_ = nullptr;  // the blocks go with the list
  left_ = 0;
  // The record index keeps its spare capacity: shrinking it would copy it
  // at the moment the run holds the most, and untouched capacity costs no
  // resident memory.
  return std::move(list_);
}

}  // namespace cobrix
