// The few OpenSSL functions Tokvane calls, defined here and handed on to libcrypto, which is
// opened the first time one of them is called rather than when the program starts.
//
// Why: linking libcrypto directly makes every start map it, relocate some 18,000 entries and run
// its set-up (about 1.4 MB resident and a few milliseconds), although the window needs it only
// to wipe a secret, draw random bytes or check a code, all after it is shown. The callers keep
// calling OpenSSL by its own names; only the moment the library is loaded moves. If another part
// of the process has loaded libcrypto already, dlopen hands back that same library.
//
// Each definition below is checked against OpenSSL's own declaration by the compiler. A new
// OpenSSL function needs a line here too: the link fails until it has one.
#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <string.h>

namespace {

constexpr const char* kCryptoLibrary = "libcrypto.so.3";

struct CryptoFunctions {
  void* library = nullptr;
  decltype(&OPENSSL_cleanse) cleanse = nullptr;
  decltype(&RAND_bytes) randomBytes = nullptr;
  decltype(&EVP_MD_CTX_new) newDigestContext = nullptr;
  decltype(&EVP_MD_CTX_free) freeDigestContext = nullptr;
  decltype(&EVP_MD_CTX_reset) resetDigestContext = nullptr;
  decltype(&EVP_DigestInit_ex) digestInit = nullptr;
  decltype(&EVP_DigestUpdate) digestUpdate = nullptr;
  decltype(&EVP_DigestFinal_ex) digestFinal = nullptr;
  decltype(&EVP_sha1) sha1 = nullptr;
  decltype(&HMAC) hmac = nullptr;
};

template <typename Function>
void Resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
}

CryptoFunctions Open() {
  CryptoFunctions functions;
  // RTLD_LOCAL: libcrypto's own calls among its functions stay inside it.
  functions.library = ::dlopen(kCryptoLibrary, RTLD_NOW | RTLD_LOCAL);
  if (functions.library == nullptr) return functions;
  Resolve(functions.library, "OPENSSL_cleanse", functions.cleanse);
  Resolve(functions.library, "RAND_bytes", functions.randomBytes);
  Resolve(functions.library, "EVP_MD_CTX_new", functions.newDigestContext);
  Resolve(functions.library, "EVP_MD_CTX_free", functions.freeDigestContext);
  Resolve(functions.library, "EVP_MD_CTX_reset", functions.resetDigestContext);
  Resolve(functions.library, "EVP_DigestInit_ex", functions.digestInit);
  Resolve(functions.library, "EVP_DigestUpdate", functions.digestUpdate);
  Resolve(functions.library, "EVP_DigestFinal_ex", functions.digestFinal);
  Resolve(functions.library, "EVP_sha1", functions.sha1);
  Resolve(functions.library, "HMAC", functions.hmac);
  return functions;
}

// Opened once, by whichever thread comes first (the key worker or the window); the library
// stays loaded until the process ends.
const CryptoFunctions& Crypto() {
  static const CryptoFunctions functions = Open();
  return functions;
}

}  // namespace

// A wipe never fails for want of the library: explicit_bzero is glibc's wipe that the compiler
// may not drop either.
void OPENSSL_cleanse(void* ptr, size_t len) {
  if (const auto cleanse = Crypto().cleanse) {
    cleanse(ptr, len);
  } else if (ptr != nullptr) {
    ::explicit_bzero(ptr, len);
  }
}

// Without the library every call below fails the way OpenSSL reports failure, and the callers
// already handle that (no random secret, no nonce, no digest, no code).
int RAND_bytes(unsigned char* buf, int num) {
  const auto randomBytes = Crypto().randomBytes;
  return randomBytes != nullptr ? randomBytes(buf, num) : 0;
}

EVP_MD_CTX* EVP_MD_CTX_new(void) {
  const auto create = Crypto().newDigestContext;
  return create != nullptr ? create() : nullptr;
}

void EVP_MD_CTX_free(EVP_MD_CTX* ctx) {
  if (const auto release = Crypto().freeDigestContext) release(ctx);
}

int EVP_MD_CTX_reset(EVP_MD_CTX* ctx) {
  const auto reset = Crypto().resetDigestContext;
  return reset != nullptr ? reset(ctx) : 0;
}

int EVP_DigestInit_ex(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl) {
  const auto init = Crypto().digestInit;
  return init != nullptr ? init(ctx, type, impl) : 0;
}

int EVP_DigestUpdate(EVP_MD_CTX* ctx, const void* d, size_t cnt) {
  const auto update = Crypto().digestUpdate;
  return update != nullptr ? update(ctx, d, cnt) : 0;
}

int EVP_DigestFinal_ex(EVP_MD_CTX* ctx, unsigned char* md, unsigned int* s) {
  const auto final = Crypto().digestFinal;
  return final != nullptr ? final(ctx, md, s) : 0;
}

const EVP_MD* EVP_sha1(void) {
  const auto sha1 = Crypto().sha1;
  return sha1 != nullptr ? sha1() : nullptr;
}

unsigned char* HMAC(const EVP_MD* evp_md, const void* key, int key_len, const unsigned char* data, size_t data_len,
                    unsigned char* md, unsigned int* md_len) {
  const auto hmac = Crypto().hmac;
  return hmac != nullptr ? hmac(evp_md, key, key_len, data, data_len, md, md_len) : nullptr;
}
