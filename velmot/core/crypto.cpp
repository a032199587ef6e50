// The classes keep the library's historic cipher calls (DES_, BF_, RSA_ and
// BN_ functions). OpenSSL 3 marks them deprecated but still exports them, and
// their exact behaviour (raw key bytes, chaining values carried across calls)
// is what stored data depends on.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "velmot/core/strings_internal.h"
#include "velmot/core/crypto.h"

#include "velmot/core/hash.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <openssl/blowfish.h>
#include <openssl/bn.h>
#include <openssl/des.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstring>

// Reports a broken precondition with the expression text callers know from
// the log, and yields whether it held.
#define CHECK(cond, text, info) ((cond) ? true : (AssertMsg(0, (text), __FILE__, __LINE__, (info), false), false))

namespace {

constexpr int kBlock = 8;

char const* TextOrEmpty(char const* p)
{
    return p ? p : "";
}


// Copies `in` into `out` (unless they are the same object) so that a cipher
// can then work in place on out's buffer.
void PrepareOutput(BINARY const& in, BINARY& out)
{
    if (&in != &out)
        out.Make(in.Length(), in.Buffer);
}

unsigned char* Bytes(char* p)
{
    return reinterpret_cast<unsigned char*>(p);
}

unsigned char const* Bytes(char const* p)
{
    return reinterpret_cast<unsigned char const*>(p);
}

} // namespace

// ---------------------------------------------------------------- DES3

struct DES3::STATE {
    DES_key_schedule schedule[3];
    DES_cblock chain[3];
};

DES3::DES3() = default;

DES3::DES3(char const* newKey)
{
    SetKey(newKey);
}

DES3::~DES3()
{
    Cleanup();
}

void DES3::Cleanup()
{
    // The schedules are key material: wipe them before they go back.
    for (STATE** s : {&encryptState, &decryptState}) {
        if (*s) {
            OPENSSL_cleanse(*s, sizeof(STATE));
            delete *s;
            *s = nullptr;
        }
    }
}

bool DES3::SetKey(char const* newKey)
{
    Cleanup();
    OPENSSL_cleanse(key, sizeof key);
    newKey = TextOrEmpty(newKey);
    if (!CHECK(strlen(newKey) == 24, "strlen(key)==24", "DES3::SetKey"))
        return false;
    memcpy(key, newKey, 24);
    for (STATE** s : {&encryptState, &decryptState}) {
        *s = new STATE{};
        for (int i = 0; i < 3; ++i) {
            DES_cblock part;
            memcpy(part, key + i * kBlock, kBlock);
            // Raw key bytes: DES ignores the parity bits, and the historic
            // keys were never adjusted, so no parity check either.
            DES_set_key_unchecked(&part, &(*s)->schedule[i]);
            OPENSSL_cleanse(part, sizeof part);
        }
    }
    return true;
}

bool DES3::Encrypt(char const* in, char* out, long len)
{
    if (!CHECK(len >= 0 && len % 8 == 0, "len%8==0", "DES3::Encrypt") || !CHECK(encryptState, "this->encrypt", "DES3 has no key"))
        return false;
    if (len == 0)
        return true;
    STATE* s = encryptState;
    // Three CBC passes over the whole data, each with its own chaining value.
    DES_ncbc_encrypt(Bytes(in), Bytes(out), len, &s->schedule[0], &s->chain[0], DES_ENCRYPT);
    DES_ncbc_encrypt(Bytes(out), Bytes(out), len, &s->schedule[1], &s->chain[1], DES_DECRYPT);
    DES_ncbc_encrypt(Bytes(out), Bytes(out), len, &s->schedule[2], &s->chain[2], DES_ENCRYPT);
    return true;
}

bool DES3::Decrypt(char const* in, char* out, long len)
{
    if (!CHECK(len >= 0 && len % 8 == 0, "len%8==0", "DES3::Decrypt") || !CHECK(decryptState, "this->decrypt", "DES3 has no key"))
        return false;
    if (len == 0)
        return true;
    STATE* s = decryptState;
    DES_ncbc_encrypt(Bytes(in), Bytes(out), len, &s->schedule[2], &s->chain[2], DES_DECRYPT);
    DES_ncbc_encrypt(Bytes(out), Bytes(out), len, &s->schedule[1], &s->chain[1], DES_ENCRYPT);
    DES_ncbc_encrypt(Bytes(out), Bytes(out), len, &s->schedule[0], &s->chain[0], DES_DECRYPT);
    return true;
}

bool DES3::Encrypt(BINARY const& in, BINARY& out)
{
    long len = in.Length();
    if (!CHECK(len % 8 == 0, "len%8==0", "DES3::Encrypt") || !CHECK(encryptState, "this->encrypt", "DES3 has no key"))
        return false;
    PrepareOutput(in, out);
    return Encrypt(out.Buffer, out.Buffer, len);
}

bool DES3::Decrypt(BINARY const& in, BINARY& out)
{
    long len = in.Length();
    if (!CHECK(len % 8 == 0, "len%8==0", "DES3::Decrypt") || !CHECK(decryptState, "this->decrypt", "DES3 has no key"))
        return false;
    PrepareOutput(in, out);
    return Decrypt(out.Buffer, out.Buffer, len);
}

void DES3::FillUp(BINARY& data, char fill)
{
    while (data.Length() % kBlock != 0)
        data.Append(&fill, 1);
}

STRING DES3::PadKey(char const* a, char const* b)
{
    a = TextOrEmpty(a);
    b = TextOrEmpty(b);
    STRING k;
    k.Make(0);
    if (!CHECK(*a || *b, "*b", "DES3::PadKey needs a text"))
        return k;
    while (k.Length() < 24) {
        k.Append(a);
        k.Append(b);
    }
    k.Cut(24);
    return k;
}

STRING DES3::Code2String(char const* data, long length, bool oneLine)
{
    static char const digits[] = "0123456789abcdef";
    if (!data)
        data = "";
    if (length < 0)
        length = static_cast<long>(strlen(data));
    STRING text;
    text.Make(0);
    for (long i = 0; i < length; ++i) {
        if (!oneLine && i > 0 && i % 30 == 0)
            text.Append("\r\n", 2);
        unsigned char c = static_cast<unsigned char>(data[i]);
        char pair[2] = {digits[c >> 4], digits[c & 15]};
        text.Append(pair, 2);
    }
    if (!oneLine && length > 0)
        text.Append("\r\n", 2);
    return text;
}

int32_t DES3::String2Code(STRING const& hex, char* out, int32_t size)
{
    char const* p = hex.Buf();
    int32_t const n = hex.Length();
    int32_t count = 0;
    int32_t i = 0;
    while (i < n) {
        if (p[i] == '\r' || p[i] == '\n') {
            ++i;
            continue;
        }
        int hi = strdetail::HexValue(p[i]);
        int lo = i + 1 < n ? strdetail::HexValue(p[i + 1]) : -1;
        if (hi < 0 || lo < 0) {
            AssertMsg(0, "FALSE", __FILE__, __LINE__, "String2Code: not a hexadecimal pair", true);
            return -1;
        }
        if (count >= size) {
            AssertMsg(0, "count<size", __FILE__, __LINE__, "String2Code: output too small", true);
            return -1;
        }
        out[count++] = static_cast<char>(hi << 4 | lo);
        i += 2;
    }
    return count;
}

int32_t DES3::String2Code(STRING const& hex, BINARY& out)
{
    // Two digits per byte, so half the text always suffices.
    BINARY bytes;
    bytes.Make(hex.Length() / 2 + 1);
    int32_t n = String2Code(hex, bytes.Buffer, bytes.Length());
    if (n < 0)
        return -1;
    bytes.Cut(n);
    out = bytes;
    return n;
}

// ---------------------------------------------------------------- BLOWFISH

struct BLOWFISH::STATE {
    BF_KEY encryptKey;
    unsigned char encryptChain[kBlock];
    BF_KEY decryptKey;
    unsigned char decryptChain[kBlock];
    bool keyed;
};

BLOWFISH::BLOWFISH() : state(new STATE{}) {}

BLOWFISH::BLOWFISH(char const* newKey, int length) : state(new STATE{})
{
    SetKey(newKey, length);
}

BLOWFISH::~BLOWFISH()
{
    OPENSSL_cleanse(state.get(), sizeof(STATE));
}

bool BLOWFISH::SetKey(char const* newKey, int len)
{
    OPENSSL_cleanse(state.get(), sizeof(STATE));
    newKey = TextOrEmpty(newKey);
    if (len == -1)
        len = static_cast<int>(strlen(newKey));
    if (!CHECK(len % 8 == 0, "len%8==0", "BLOWFISH::SetKey") || !CHECK(len > 0, "len>0", "BLOWFISH::SetKey"))
        return false;
    BF_set_key(&state->encryptKey, len, Bytes(newKey));
    BF_set_key(&state->decryptKey, len, Bytes(newKey));
    state->keyed = true;
    return true;
}

bool BLOWFISH::Encrypt(char const* in, char* out, long len)
{
    if (!CHECK(len >= 0 && len % 8 == 0, "len%8==0", "BLOWFISH::Encrypt") || !CHECK(state->keyed, "this->keyed", "BLOWFISH has no key"))
        return false;
    if (len > 0)
        BF_cbc_encrypt(Bytes(in), Bytes(out), len, &state->encryptKey, state->encryptChain, BF_ENCRYPT);
    return true;
}

bool BLOWFISH::Decrypt(char const* in, char* out, long len)
{
    if (!CHECK(len >= 0 && len % 8 == 0, "len%8==0", "BLOWFISH::Decrypt") || !CHECK(state->keyed, "this->keyed", "BLOWFISH has no key"))
        return false;
    if (len > 0)
        BF_cbc_encrypt(Bytes(in), Bytes(out), len, &state->decryptKey, state->decryptChain, BF_DECRYPT);
    return true;
}

bool BLOWFISH::Encrypt(BINARY const& in, BINARY& out)
{
    long len = in.Length();
    if (!CHECK(len % 8 == 0, "len%8==0", "BLOWFISH::Encrypt") || !CHECK(state->keyed, "this->keyed", "BLOWFISH has no key"))
        return false;
    PrepareOutput(in, out);
    return Encrypt(out.Buffer, out.Buffer, len);
}

bool BLOWFISH::Decrypt(BINARY const& in, BINARY& out)
{
    long len = in.Length();
    if (!CHECK(len % 8 == 0, "len%8==0", "BLOWFISH::Decrypt") || !CHECK(state->keyed, "this->keyed", "BLOWFISH has no key"))
        return false;
    PrepareOutput(in, out);
    return Decrypt(out.Buffer, out.Buffer, len);
}

STRING BLOWFISH::PadKey(char const* a, char const* b)
{
    a = TextOrEmpty(a);
    b = TextOrEmpty(b);
    STRING k(a);
    int32_t const l = (k.Length() + 7) / 8 * 8;
    size_t const blen = strlen(b);
    for (size_t i = 0; blen > 0 && k.Length() < l; ++i)
        k.Append(&b[i % blen], 1);
    CHECK(k.Length() >= l && k.Length() % 8 == 0, "k.Length()>=l && k.Length()%8==0", "BLOWFISH::PadKey");
    return k;
}

// ---------------------------------------------------------------- CYPHER

namespace {

// Decimal numbers of more digits than this exceed every modulus OpenSSL
// accepts (16384 bits is about 4933 digits).
constexpr int32_t kMaxDecimalDigits = 5000;
constexpr int kMaxModulusBits = 16384;

using RSAOP = int (*)(int, unsigned char const*, unsigned char*, RSA*, int);

} // namespace

namespace {

// One part of a key text; null when it is missing, empty or not a number.
BIGNUM* KeyPart(HASH const& key, char const* name)
{
    int i = key.KeyIndex(name);
    if (i < 0)
        return nullptr;
    BIGNUM* part = CYPHER::DecToBigNum(*key.Values[i]);
    if (!part && key.Values[i]->Length() > 0)
        LOGIT("CYPHER: the key part %s is not a decimal number\n", name);
    return part;
}

void PutKeyPart(HASH& key, char const* name, BIGNUM const* part)
{
    if (part)
        key[name] = CYPHER::BigNumToDec(part);
}

} // namespace

CYPHER::CYPHER() : rsa(RSA_new()) {}

CYPHER::CYPHER(HASH const& key) : rsa(RSA_new())
{
    BIGNUM* n = KeyPart(key, "n");
    BIGNUM* e = KeyPart(key, "e");
    BIGNUM* d = KeyPart(key, "d");
    // OpenSSL takes the parts in groups and only whole groups; what cannot be
    // used stays unset, and the operations that need it fail with -1.
    if (n && e) {
        RSA_set0_key(rsa, n, e, d);
    } else {
        BN_free(n);
        BN_free(e);
        BN_clear_free(d);
    }
    BIGNUM* p = KeyPart(key, "p");
    BIGNUM* q = KeyPart(key, "q");
    if (p && q) {
        RSA_set0_factors(rsa, p, q);
    } else {
        BN_clear_free(p);
        BN_clear_free(q);
    }
    BIGNUM* dmp1 = KeyPart(key, "dmp1");
    BIGNUM* dmq1 = KeyPart(key, "dmq1");
    BIGNUM* iqmp = KeyPart(key, "iqmp");
    if (dmp1 && dmq1 && iqmp) {
        RSA_set0_crt_params(rsa, dmp1, dmq1, iqmp);
    } else {
        BN_clear_free(dmp1);
        BN_clear_free(dmq1);
        BN_clear_free(iqmp);
    }
    LOGIT("CYPHER::CYPHER from a key text: public %d, private %d\n", HasPublic(), HasPrivate());
}

HASH CYPHER::PublicKey() const
{
    HASH key;
    PutKeyPart(key, "e", RSA_get0_e(rsa));
    PutKeyPart(key, "n", RSA_get0_n(rsa));
    return key;
}

HASH CYPHER::PrivateKey() const
{
    HASH key = PublicKey();
    PutKeyPart(key, "d", RSA_get0_d(rsa));
    PutKeyPart(key, "p", RSA_get0_p(rsa));
    PutKeyPart(key, "q", RSA_get0_q(rsa));
    PutKeyPart(key, "iqmp", RSA_get0_iqmp(rsa));
    PutKeyPart(key, "dmp1", RSA_get0_dmp1(rsa));
    PutKeyPart(key, "dmq1", RSA_get0_dmq1(rsa));
    return key;
}

CYPHER::CYPHER(int bits)
{
    LOGIT("CYPHER::CYPHER bits= %d\n", bits);
    // Mix what differs between runs and machines into the generator. OpenSSL
    // seeds itself from the system as well; this keeps the historic input.
    unsigned long long now = OSYS::GetLTime();
    STRING seed;
    seed.FormatAppend("%llu", now);
    seed.FormatAppend("%llu", ~now);
    seed.Append(OSYS::DateTimeFromLtimeLocalized(0));
    seed.Append(OSYS::GetExeFilename());
    seed.Append(OSYS::ComputerName());
    RAND_seed(seed.Buf(), seed.Length());
    if (CHECK(bits >= 512 && bits <= kMaxModulusBits, "bits>=512 && bits<=16384", "CYPHER::CYPHER"))
        rsa = RSA_generate_key(bits, RSA_F4, nullptr, nullptr);
    if (!rsa)
        rsa = RSA_new();
    LOGIT("CYPHER::CYPHER done, %d bytes\n", Size());
}

CYPHER::~CYPHER()
{
    RSA_free(rsa);
    RAND_cleanup();
}

bool CYPHER::HasPublic() const
{
    BIGNUM const* n = nullptr;
    BIGNUM const* e = nullptr;
    RSA_get0_key(rsa, &n, &e, nullptr);
    return n && e && !BN_is_zero(n) && !BN_is_zero(e) && BN_num_bits(n) <= kMaxModulusBits &&
           RSA_size(rsa) <= MAXRESULT;
}

bool CYPHER::HasPrivate() const
{
    BIGNUM const* d = nullptr;
    RSA_get0_key(rsa, nullptr, nullptr, &d);
    return HasPublic() && d && !BN_is_zero(d);
}

int32_t CYPHER::Size() const
{
    return HasPublic() ? RSA_size(rsa) : 0;
}

int CYPHER::Run(BINARY& in, BINARY& out, NEED need, bool encrypt)
{
    if (need == NEED::PRIVATE ? !HasPrivate() : !HasPublic()) {
        LOGIT("CYPHER: the key is incomplete\n");
        return -1;
    }
    int const n = RSA_size(rsa);
    if (encrypt) {
        // PKCS#1 v1.5 padding takes 11 bytes of the block.
        if (!CHECK(in.Length() + 11 <= n, "in.Length()+11<=n", "CYPHER: data too long for the key"))
            return -1;
    } else if (in.Length() != n) {
        AssertMsg(0, "in.Length()==n", __FILE__, __LINE__, "CYPHER: cipher text of the wrong size", true);
        return -1;
    }
    RSAOP op = nullptr;
    if (encrypt)
        op = need == NEED::PUBLIC ? RSA_public_encrypt : RSA_private_encrypt;
    else
        op = need == NEED::PUBLIC ? RSA_public_decrypt : RSA_private_decrypt;
    static unsigned char const nothing[1] = {0};
    unsigned char const* from = in.Buffer ? Bytes(in.Buffer) : nothing;
    unsigned char result[MAXRESULT];
    int rc = op(in.Length(), from, result, rsa, RSA_PKCS1_PADDING);
    if (rc < 0) {
        LOGIT("CYPHER: the operation failed\n");
        return -1;
    }
    out.Make(rc, reinterpret_cast<char const*>(result));
    OPENSSL_cleanse(result, sizeof result);
    return rc;
}

int CYPHER::PublicEncrypt(BINARY& in, BINARY& out)
{
    return Run(in, out, NEED::PUBLIC, true);
}

int CYPHER::PrivateEncrypt(BINARY& in, BINARY& out)
{
    return Run(in, out, NEED::PRIVATE, true);
}

int CYPHER::PrivateDecrypt(BINARY& in, BINARY& out)
{
    return Run(in, out, NEED::PRIVATE, false);
}

int CYPHER::PublicDecrypt(BINARY& in, BINARY& out)
{
    return Run(in, out, NEED::PUBLIC, false);
}

bignum_st* CYPHER::DecToBigNum(STRING const& text)
{
    int32_t len = text.Length();
    if (len == 0 || len > kMaxDecimalDigits)
        return nullptr;
    char const* p = text.Buf();
    for (int32_t i = 0; i < len; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return nullptr;
    }
    BIGNUM* number = nullptr;
    if (BN_dec2bn(&number, p) != len) {
        BN_free(number);
        return nullptr;
    }
    return number;
}

STRING CYPHER::BigNumToDec(bignum_st const* number)
{
    STRING text;
    if (!number)
        return text;
    char* dec = BN_bn2dec(number);
    if (dec) {
        text = dec;
        OPENSSL_free(dec);
    }
    return text;
}
