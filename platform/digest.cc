// Digest service over the process's crypto library.
#include <openssl/evp.h>

#include "platform/kx9platform.h"

bool PlatformHash(ULONG algorithm, const BYTE* data, std::size_t len, BYTE* out, ULONG outLen) {
  const EVP_MD* md = nullptr;
  switch (algorithm) {
    case CALG_MD5: md = EVP_md5(); break;
    default: return false;
  }
  if (md == nullptr || out == nullptr || (data == nullptr && len != 0)) return false;
  // Like the original service, a buffer too small for the whole value fails.
  const int size = EVP_MD_get_size(md);
  if (size <= 0 || outLen < static_cast<ULONG>(size)) return false;
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int got = 0;
  static const unsigned char kNothing = 0;
  if (EVP_Digest(data != nullptr ? data : &kNothing, len, value, &got, md, nullptr) != 1) return false;
  std::memcpy(out, value, got);
  return true;
}
