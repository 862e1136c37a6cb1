#pragma once
// MD5 digests as lowercase hexadecimal text, the form of PostgreSQL's md5():
// the summary's row keys, computed by the run so that its readers need not.

#include <memory>
#include <string>
#include <string_view>

#include <openssl/evp.h>

namespace cobrix::store {

// Owns OpenSSL's MD5 method and a digest context, fetched once and reused
// for every text (fetching them per digest costs more than the digest).
class Md5Hex {
 public:
  // Throws std::runtime_error when OpenSSL offers no MD5 (a FIPS-only
  // configuration).
  Md5Hex();

  // The 32 hexadecimal digits of the MD5 of `text`'s bytes.
  std::string operator()(std::string_view text);

 private:
  struct MdFree {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
  };
  struct CtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_MD, MdFree> md_;
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx_;
};

}  // namespace cobrix::store
