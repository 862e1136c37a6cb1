#include "store/md5.h"

#include <stdexcept>

#include <openssl/err.h>

namespace cobrix::store {

namespace {

[[noreturn]] void fail(const char* what) {
  char reason[256] = "";
  ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
  ERR_clear_error();
  throw std::runtime_error(std::string(what) + ": " + reason);
}

}  // namespace

Md5Hex::Md5Hex() : md_(EVP_MD_fetch(nullptr, "MD5", nullptr)), ctx_(EVP_MD_CTX_new()) {
  if (!md_) fail("MD5 indisponível");
  if (!ctx_) fail("EVP_MD_CTX_new");
}

std::string Md5Hex::operator()(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!EVP_DigestInit_ex(ctx_.get(), md_.get(), nullptr) || !EVP_DigestUpdate(ctx_.get(), text.data(), text.size()) ||
      !EVP_DigestFinal_ex(ctx_.get(), digest, &size))
    fail("MD5");
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * size);
  for (unsigned int i = 0; i < size; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0xf];
  }
  return hex;
}

}  // namespace cobrix::store
