#include "TestSigning.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace tachora::test {

namespace {
EVP_PKEY *Key(void *p) {
  return static_cast<EVP_PKEY *>(p);
}
}  // namespace

TTestSigningKey::TTestSigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")) {
  if (!key_) throw std::runtime_error("no Ed25519 key");
}

TTestSigningKey::~TTestSigningKey() {
  EVP_PKEY_free(Key(key_));
}

std::string TTestSigningKey::PublicKey() const {
  std::string raw(32, '\0');
  size_t size = raw.size();
  EVP_PKEY_get_raw_public_key(Key(key_), reinterpret_cast<unsigned char *>(raw.data()), &size);
  return raw;
}

std::string TTestSigningKey::Sign(std::string_view data) const {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
  std::string sig(64, '\0');
  size_t size = sig.size();
  if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, Key(key_)) != 1 ||
      EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char *>(sig.data()), &size,
                     reinterpret_cast<const unsigned char *>(data.data()), data.size()) != 1)
    throw std::runtime_error("signing failed");
  return sig;
}

std::string TTestSigningKey::SignBase64(std::string_view data) const {
  const std::string sig = Sign(data);
  std::string out(4 * ((sig.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                reinterpret_cast<const unsigned char *>(sig.data()),
                                static_cast<int>(sig.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace tachora::test
