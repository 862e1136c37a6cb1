#pragma once
// The customer records of a run, held compactly. A customer record has
// fifteen fields with fixed keys in a fixed order, so the keys live in the
// layout, not in the records; the values of a record are packed one after
// the other (a kind byte, then a variable-length integer, the eight bytes of
// a double, the packed fields of a date, or a text's length and bytes), and
// the records are packed in large blocks, texts included. The fifteenth
// value, the installation's identification, is the same for every record of
// a list and is held once; so is each distinct text of the fields that
// customers share (branch, city, district, customer type), which a record
// names by its number.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/record_list.h"

namespace cobrix {

// The fifteen record keys, in record order.
inline constexpr std::array<std::string_view, 15> kCustomerKeys = {
    "{#ID_CLIENTE}",      "{#ID_CONTRATO}",   "{#RAZAO_SOCIAL}", "{#CPF_CNPJ}", "{#CONTATO_CLIENTE}",
    "{#STATUS_CLIENTE}",  "{#DATA_CADASTRO}", "{#VALOR_ATRASO}", "{#TITULOS_ATRASO}",
    "{#DATA_VENCIMENTO}", "{#FILIAL}",        "{#CIDADE}",       "{#BAIRRO}",   "{#TIPO_CLIENTE}",
    "{#IXC_IDENTIFICATION}"};

// The values that each record holds for itself: all but the identification.
inline constexpr std::size_t kOwnCustomerValues = kCustomerKeys.size() - 1;

// An immutable list of customer records. Its storage never moves: a text
// view read from it stays valid while the list lives, moves included (a
// moved-from list is empty). Only a CustomerListBuilder makes a non-empty one.
class CustomerList final : public RecordList {
 public:
  CustomerList() = default;
  CustomerList(CustomerList&& other) noexcept { swap(other); }
  CustomerList& operator=(CustomerList&& other) noexcept {
    CustomerList(std::move(other)).swap(*this);
    return *this;
  }
  CustomerList(const CustomerList&) = delete;
  CustomerList& operator=(const CustomerList&) = delete;

  std::size_t size() const override { return starts_.size(); }
  bool empty() const { return starts_.empty(); }
  // The fifteen fields of record `index`, keys from kCustomerKeys.
  void read(std::size_t index, std::vector<FieldView>& fields) const override;
  // The value of field `field` (0 to 14, kCustomerKeys order) of record `index`.
  ValueView value(std::size_t index, std::size_t field) const;
  // Bytes of storage: the blocks and the record index.
  std::size_t storage_bytes() const;

 private:
  friend class CustomerListBuilder;

  void swap(CustomerList& other) noexcept {
    std::swap(identification_, other.identification_);
    blocks_.swap(other.blocks_);
    block_sizes_.swap(other.block_sizes_);
    starts_.swap(other.starts_);
    shared_.swap(other.shared_);
  }

  std::string_view identification_ = "";          // a view of the first block
  std::vector<std::unique_ptr<char[]>> blocks_;   // packed records and texts, never reallocated
  std::vector<std::size_t> block_sizes_;
  std::vector<const char*> starts_;               // where each record begins
  std::vector<std::string_view> shared_;          // the shared texts by number, views of the blocks
};

// Appends customer records, in order, to a list that it hands over at the end.
class CustomerListBuilder {
 public:
  // `identification` becomes the fifteenth value of every record.
  explicit CustomerListBuilder(std::string_view identification);

  // Appends one record from its first fourteen values, in kCustomerKeys
  // order. The values are copied (texts included): `values` may be views of
  // storage that goes away after the call.
  void add(std::span<const ValueView, kOwnCustomerValues> values);

  std::size_t size() const { return list_.size(); }

  // The records added so far; the builder is spent.
  CustomerList finish() &&;

 private:
  // Room for `bytes` bytes at the end of the last block, or in a new block.
  char* reserve(std::size_t bytes);
  // A copy of `text` and a NUL in the blocks.
  std::string_view keep(std::string_view text);
  // The number of the shared text `text`, or -1 when the table is full.
  std::int64_t shared_number(std::string_view text);

  CustomerList list_;
  char* free_ = nullptr;  // the first unused byte of the last block
  std::size_t left_ = 0;  // unused bytes there
  std::unordered_map<std::string_view, std::uint32_t> shared_numbers_;  // keys view list_.shared_
};

}  // namespace cobrix
