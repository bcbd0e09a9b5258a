// The MD5-based crypt: "$apr1$" hashes of htpasswd files. The rounds are the
// same for every magic word, so tests check them with "$1$" against the
// system's crypt.
#include <cstring>
#include <string>

#include "http/http_auth.h"
#include "http/md5.h"

namespace hx {

namespace {

constexpr const char* kApr1Magic = "$apr1$";
constexpr size_t kMaxSaltLength = 8;
constexpr int kRounds = 1000;

}  // namespace

extern "C" void to64(char* s, unsigned long v, int n) {
    static const char kAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    while (--n >= 0) {
        *s++ = kAlphabet[v & 0x3f];
        v >>= 6;
    }
}

void md5_crypt_encode(const char* magic, const char* pw, const char* salt, char* result, size_t nbytes) {
    const size_t magicLength = std::strlen(magic);
    if (std::strncmp(salt, magic, magicLength) == 0) {
        salt += magicLength;
    }
    size_t saltLength = 0;
    while (saltLength < kMaxSaltLength && salt[saltLength] != '\0' && salt[saltLength] != '$') {
        ++saltLength;
    }
    const size_t pwLength = std::strlen(pw);

    li_MD5_CTX context;
    li_MD5_Init(&context);
    li_MD5_Update(&context, pw, pwLength);
    li_MD5_Update(&context, magic, magicLength);
    li_MD5_Update(&context, salt, saltLength);

    unsigned char final[16];
    li_MD5_CTX alternate;
    li_MD5_Init(&alternate);
    li_MD5_Update(&alternate, pw, pwLength);
    li_MD5_Update(&alternate, salt, saltLength);
    li_MD5_Update(&alternate, pw, pwLength);
    li_MD5_Final(final, &alternate);
    for (size_t left = pwLength; left > 0; left -= left > 16 ? 16 : left) {
        li_MD5_Update(&context, final, left > 16 ? 16 : left);
    }
    for (size_t bits = pwLength; bits != 0; bits >>= 1) {
        if ((bits & 1) != 0) {
            const unsigned char zero = 0;
            li_MD5_Update(&context, &zero, 1);
        } else {
            li_MD5_Update(&context, pw, 1);
        }
    }
    li_MD5_Final(final, &context);

    // Deliberately slow: a thousand further digests.
    for (int i = 0; i < kRounds; ++i) {
        li_MD5_CTX round;
        li_MD5_Init(&round);
        if ((i & 1) != 0) {
            li_MD5_Update(&round, pw, pwLength);
        } else {
            li_MD5_Update(&round, final, 16);
        }
        if (i % 3 != 0) {
            li_MD5_Update(&round, salt, saltLength);
        }
        if (i % 7 != 0) {
            li_MD5_Update(&round, pw, pwLength);
        }
        if ((i & 1) != 0) {
            li_MD5_Update(&round, final, 16);
        } else {
            li_MD5_Update(&round, pw, pwLength);
        }
        li_MD5_Final(final, &round);
    }

    std::string text(magic);
    text.append(salt, saltLength);
    text += '$';
    char digits[22];
    char* out = digits;
    static constexpr int kTriples[5][3] = {{0, 6, 12}, {1, 7, 13}, {2, 8, 14}, {3, 9, 15}, {4, 10, 5}};
    for (const auto& triple : kTriples) {
        const unsigned long value = (static_cast<unsigned long>(final[triple[0]]) << 16) |
                                    (static_cast<unsigned long>(final[triple[1]]) << 8) | final[triple[2]];
        to64(out, value, 4);
        out += 4;
    }
    to64(out, final[11], 2);
    text.append(digits, sizeof digits);

    if (nbytes == 0) {
        return;
    }
    const size_t copied = text.size() < nbytes - 1 ? text.size() : nbytes - 1;
    std::memcpy(result, text.data(), copied);
    result[copied] = '\0';
}

extern "C" void apr_md5_encode(const char* pw, const char* salt, char* result, size_t nbytes) {
    md5_crypt_encode(kApr1Magic, pw, salt, result, nbytes);
}

}  // namespace hx
