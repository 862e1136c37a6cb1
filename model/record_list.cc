#include "model/record_list.h"

#include <type_traits>

namespace cobrix {

ValueView view_of(const Value& value) {
  return std::visit(
      [](const auto& v) -> ValueView {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>)
          return std::string_view(v);
        else
          return v;
      },
      value);
}

void RecordSpan::read(std::size_t index, std::vector<FieldView>& fields) const {
  fields.clear();
  for (const Field& field : records_[index]) fields.push_back({field.key, view_of(field.value)});
}

}  // namespace cobrix
