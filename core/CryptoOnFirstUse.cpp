// The few OpenSSL functions Tokvane calls, defined here and handed on to libcrypto, which is
// opened the first time one of them is called rather than when the program starts.
//
// Why: linking libcrypto directly makes every start map it, relocate some 18,000 entries and run
// its set-up (about 1.4 MB resident and a few milliseconds), although the window needs it only
// to wipe a secret, draw random bytes or check a code, all after it is shown. The callers keep
// calling OpenSSL by its own names; only the moment the library is loaded moves.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <string.h>

#include "core/LibraryOnFirstUse.h"

namespace {

// Opened once, by whichever thread comes first (the key worker or the window); the library
// stays loaded until the process ends.
void* Crypto() {
  static void* const library = tokvane::OpenLibrary("libcrypto.so.3");
  return library;
}

}  // namespace

// A wipe never fails for want of the library: explicit_bzero is glibc's wipe that the compiler
// may not drop either.
void OPENSSL_cleanse(void* ptr, size_t len) {
  static const auto cleanse = tokvane::FindInLibrary<decltype(&OPENSSL_cleanse)>(Crypto(), "OPENSSL_cleanse");
  if (cleanse != nullptr) {
    cleanse(ptr, len);
  } else if (ptr != nullptr) {
    ::explicit_bzero(ptr, len);
  }
}

void EVP_MD_CTX_free(EVP_MD_CTX* ctx) {
  static const auto release = tokvane::FindInLibrary<decltype(&EVP_MD_CTX_free)>(Crypto(), "EVP_MD_CTX_free");
  if (release != nullptr) release(ctx);
}

// Without the library every call below fails the way OpenSSL reports failure, and the callers
// already handle that (no random secret, no nonce, no digest, no code).
TOKVANE_CALL_ON_FIRST_USE(Crypto(), int, RAND_bytes, 0, (unsigned char* buf, int num), (buf, num))
TOKVANE_CALL_ON_FIRST_USE(Crypto(), EVP_MD_CTX*, EVP_MD_CTX_new, nullptr, (void), ())
TOKVANE_CALL_ON_FIRST_USE(Crypto(), int, EVP_MD_CTX_reset, 0, (EVP_MD_CTX * ctx), (ctx))
TOKVANE_CALL_ON_FIRST_USE(Crypto(), int, EVP_DigestInit_ex, 0, (EVP_MD_CTX * ctx, const EVP_MD* type, ENGINE* impl),
                          (ctx, type, impl))
TOKVANE_CALL_ON_FIRST_USE(Crypto(), int, EVP_DigestUpdate, 0, (EVP_MD_CTX * ctx, const void* d, size_t cnt),
                          (ctx, d, cnt))
TOKVANE_CALL_ON_FIRST_USE(Crypto(), int, EVP_DigestFinal_ex, 0, (EVP_MD_CTX * ctx, unsigned char* md, unsigned int* s),
                          (ctx, md, s))
TOKVANE_CALL_ON_FIRST_USE(Crypto(), const EVP_MD*, EVP_sha1, nullptr, (void), ())
TOKVANE_CALL_ON_FIRST_USE(Crypto(), unsigned char*, HMAC, nullptr,
                          (const EVP_MD* evp_md, const void* key, int key_len, const unsigned char* data,
                           size_t data_len, unsigned char* md, unsigned int* md_len),
                          (evp_md, key, key_len, data, data_len, md, md_len))
