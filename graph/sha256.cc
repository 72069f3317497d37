#include "graph/sha256.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace ko {
namespace {

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

}  // namespace

std::string sha256Hex(const void* data, size_t size) {
  const DigestContext context(EVP_MD_CTX_new());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // An empty range may come with a null pointer, which the update call need not be shown.
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
      (size != 0 && EVP_DigestUpdate(context.get(), data, size) != 1) ||
      EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    throw std::runtime_error("sha256: libcrypto could not compute the digest");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0xf]);
  }
  return hex;
}

}  // namespace ko
