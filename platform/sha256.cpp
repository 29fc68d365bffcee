#include "platform/sha256.h"

#include <openssl/evp.h>

#include <new>

namespace vesmer {

namespace {

// The digest's implementation, looked up once: a lookup at every start takes a lock of the
// library's own, which several runs at once in one process then wait for in turn.
const EVP_MD* Sha256Method() {
  static EVP_MD* const method = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return method != nullptr ? method : EVP_sha256();
}

}  // namespace

// OpenSSL's digest: it uses the processor's SHA instructions where there are some.
struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  State() : context(EVP_MD_CTX_new()) {
    if (context == nullptr || EVP_DigestInit_ex(context, Sha256Method(), nullptr) != 1) {
      EVP_MD_CTX_free(context);
      throw std::bad_alloc();
    }
  }
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::OnChunk(std::string_view bytes) {
  if (EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()) != 1) throw std::bad_alloc();
  bytes_ += bytes.size();
}

std::string Sha256::Hex() const {
  // A copy, so that the digest of what came so far leaves the running state as it is.
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = copy != nullptr && EVP_MD_CTX_copy_ex(copy, state_->context) == 1 &&
                  EVP_DigestFinal_ex(copy, digest, &length) == 1;
  EVP_MD_CTX_free(copy);
  if (!ok) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 sha;
  sha.OnChunk(bytes);
  return sha.Hex();
}

}  // namespace vesmer
