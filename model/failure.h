#pragma once
// The failures that end a run and reach the operator's report.

#include <stdexcept>
#include <string>
#include <string_view>

namespace cobrix {

// A failure of one of the run's parts. `kind()` names that part in the
// operator's words ("MySQL do IXC", "PostgreSQL", ...); the run driver puts
// it in front of the message, so a report reads as what failed, not as a
// type name.
class Failure : public std::runtime_error {
 public:
  Failure(std::string_view kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  std::string_view kind() const { return kind_; }

 private:
  std::string_view kind_;  // always one of the constant texts below
};

inline constexpr std::string_view kIxcMysqlKind = "MySQL do IXC";
inline constexpr std::string_view kPostgresKind = "PostgreSQL";
inline constexpr std::string_view kConversionKind = "valor do IXC que não pode ser convertido";
inline constexpr std::string_view kPasswordsKind = "senhas";
inline constexpr std::string_view kClockKind = "relógio";

// A value of the IXC result that cannot become a record value (a text that
// is not UTF-8, an amount that is not a number, a date that is not a date).
class ConversionError : public Failure {
 public:
  explicit ConversionError(const std::string& message) : Failure(kConversionKind, message) {}
};

}  // namespace cobrix
