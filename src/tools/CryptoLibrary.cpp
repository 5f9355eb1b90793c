// The digest functions the duplicate finder calls, forwarding to OpenSSL's libcrypto, which
// is opened when files are first hashed (see LazyLibrary.h) rather than at start.

extern "C" {
#include <openssl/evp.h>
}

#include "platform/LazyLibrary.h"

namespace {
#define LK_SONAME(major) "libcrypto.so." #major
#define LK_SONAME_OF(major) LK_SONAME(major)
constinit LazyLibrary Crypto(LK_SONAME_OF(OPENSSL_VERSION_MAJOR));
#undef LK_SONAME_OF
#undef LK_SONAME
} // namespace

extern "C" {

EVP_MD_CTX *EVP_MD_CTX_new(void) { LK_FORWARD(Crypto, EVP_MD_CTX_new); }
void EVP_MD_CTX_free(EVP_MD_CTX *ctx) { LK_FORWARD(Crypto, EVP_MD_CTX_free, ctx); }
int EVP_DigestInit_ex(EVP_MD_CTX *ctx, const EVP_MD *type, ENGINE *engine) { LK_FORWARD(Crypto, EVP_DigestInit_ex, ctx, type, engine); }
int EVP_DigestUpdate(EVP_MD_CTX *ctx, const void *data, size_t count) { LK_FORWARD(Crypto, EVP_DigestUpdate, ctx, data, count); }
int EVP_DigestFinal_ex(EVP_MD_CTX *ctx, unsigned char *md, unsigned int *size) { LK_FORWARD(Crypto, EVP_DigestFinal_ex, ctx, md, size); }
const EVP_MD *EVP_sha256(void) { LK_FORWARD(Crypto, EVP_sha256); }

} // extern "C"
