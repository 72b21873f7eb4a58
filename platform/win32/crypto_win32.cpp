#include "platform/crypto.h"

#include <windows.h>
#include <wincrypt.h>

namespace qor::platform {

bool Md5(const void* data, size_t size, Md5Digest* digest) {
    static const BYTE empty = 0;
    if (data == nullptr) {
        if (size != 0) return false;
        data = &empty;
    }
    if (size > MAXDWORD) return false;
    HCRYPTPROV provider = 0;
    // An AES-capable RSA provider opened for verification only: no key container is needed.
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
    bool ok = false;
    HCRYPTHASH hash = 0;
    if (::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        BYTE result[16];
        DWORD length = sizeof result;
        if (::CryptHashData(hash, static_cast<const BYTE*>(data), static_cast<DWORD>(size), 0) &&
            ::CryptGetHashParam(hash, HP_HASHVAL, result, &length, 0) && length == digest->size()) {
            for (size_t i = 0; i < digest->size(); ++i) (*digest)[i] = result[i];
            ok = true;
        }
        ::CryptDestroyHash(hash);
    }
    ::CryptReleaseContext(provider, 0);
    return ok;
}

}  // namespace qor::platform
