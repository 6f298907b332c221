// An Ed25519 key pair made for one test run, standing in for the release
// key: tests sign the downloads they serve with it and give the program its
// public half.
#pragma once

#include <string>
#include <string_view>

namespace tachora::test {

class TTestSigningKey {
 public:
  TTestSigningKey();
  ~TTestSigningKey();
  TTestSigningKey(const TTestSigningKey &) = delete;
  TTestSigningKey &operator=(const TTestSigningKey &) = delete;

  // The 32 raw bytes of the public key.
  std::string PublicKey() const;
  // The 64-byte signature of `data`.
  std::string Sign(std::string_view data) const;
  // The signature as base64, the form the version file carries.
  std::string SignBase64(std::string_view data) const;

 private:
  void *key_;  // EVP_PKEY
};

}  // namespace tachora::test
