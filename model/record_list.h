#pragma once
// The reading side of a list of records: what the store, the debug report
// and the record printer see, whichever way the records are held.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "model/record.h"

namespace cobrix {

// One value as read from a record list. A text is a view of the list's own
// storage (never a copy): it is valid for as long as the list it was read
// from lives, and it is always followed there by a NUL byte, so that
// data() can be handed to C interfaces that take a string.
using ValueView = std::variant<Null, std::int64_t, double, std::string_view, DateTime>;

// One field as read: the key is constant text, the value a view as above.
struct FieldView {
  std::string_view key;
  ValueView value;
};

// A read-only sequence of records. Implementations never change once they
// can be read, so every view they hand out stays valid while they live.
class RecordList {
 public:
  virtual ~RecordList() = default;

  // The number of records.
  virtual std::size_t size() const = 0;

  // Replaces the content of `fields` with the fields of record `index`
  // (0 <= index < size()), in record order. Reusing one vector for every
  // record keeps the reading free of allocations.
  virtual void read(std::size_t index, std::vector<FieldView>& fields) const = 0;

 protected:
  RecordList() = default;
  RecordList(const RecordList&) = default;
  RecordList& operator=(const RecordList&) = default;
};

// The view of one held value (a text is a view of the held string).
ValueView view_of(const Value& value);

// Generic records (any keys, any order, any number of fields) read in
// place. Holds a view of the records: they must outlive this object and
// must not change while it is read.
class RecordSpan final : public RecordList {
 public:
  explicit RecordSpan(std::span<const Record> records) : records_(records) {}

  std::size_t size() const override { return records_.size(); }
  void read(std::size_t index, std::vector<FieldView>& fields) const override;

 private:
  std::span<const Record> records_;
};

}  // namespace cobrix
