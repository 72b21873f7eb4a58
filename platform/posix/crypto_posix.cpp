#include "platform/crypto.h"

#include <openssl/evp.h>

namespace qor::platform {

bool Md5(const void* data, size_t size, Md5Digest* digest) {
    static const unsigned char empty = 0;
    if (data == nullptr) {
        if (size != 0) return false;
        data = &empty;
    }
    unsigned char result[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, result, &length, EVP_md5(), nullptr) != 1 || length != digest->size()) return false;
    for (size_t i = 0; i < digest->size(); ++i) (*digest)[i] = result[i];
    return true;
}

}  // namespace qor::platform
