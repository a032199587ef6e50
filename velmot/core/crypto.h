// Ciphers over OpenSSL libcrypto: DES3 (triple DES as three CBC passes),
// BLOWFISH (CBC) and CYPHER (RSA keys with PKCS#1 v1.5 operations, keys kept
// in a HASH as decimal texts).
//
// The symmetric classes keep separate encryption and decryption states whose
// chaining values carry on from one call to the next, so a sender and a
// receiver that process the same sequence of messages stay in step. The
// chaining values start at zero and keys are used as raw bytes; stored data
// depends on exactly this, so neither may change.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <memory>

class HASH;
struct bignum_st;
struct rsa_st;

class VELMOT_EXPORT DES3 {
public:
    DES3();
    explicit DES3(char const* key);
    ~DES3();
    DES3(DES3 const&) = delete;
    DES3& operator=(DES3 const&) = delete;

    // The key must be exactly 24 characters: three DES keys of 8 bytes.
    bool SetKey(char const* key);
    // `length` must be a multiple of 8; `in` and `out` may be the same
    // buffer. False (nothing written) without a key or with a bad length.
    bool Encrypt(char const* in, char* out, long length);
    bool Decrypt(char const* in, char* out, long length);
    // `out` becomes the result, of the same length as `in`.
    bool Encrypt(BINARY const& in, BINARY& out);
    bool Decrypt(BINARY const& in, BINARY& out);
    void Cleanup();

    static void FillUp(BINARY& data, char fill);
    static STRING PadKey(char const* a, char const* b);
    // Cipher text as lower-case hexadecimal, lines of 60 digits ending in
    // CR LF unless oneLine is set; a length of -1 means up to the first zero.
    static STRING Code2String(char const* data, long length, bool oneLine);
    // Reads pairs of hexadecimal digits (CR and LF skipped) into at most
    // `size` bytes of `out`. Returns the byte count, or -1 when the text
    // holds anything else or does not fit.
    static int32_t String2Code(STRING const& hex, char* out, int32_t size);
    static int32_t String2Code(STRING const& hex, BINARY& out);

    struct STATE; // three key schedules and three chaining values

private:
    STATE* encryptState = nullptr;
    STATE* decryptState = nullptr;
    char key[25] = {};
};

class VELMOT_EXPORT BLOWFISH {
public:
    BLOWFISH();
    // A length of -1 means up to the terminating zero.
    BLOWFISH(char const* key, int length);
    ~BLOWFISH();
    BLOWFISH(BLOWFISH const&) = delete;
    BLOWFISH& operator=(BLOWFISH const&) = delete;

    // The length must be a positive multiple of 8.
    bool SetKey(char const* key, int length);
    bool Encrypt(char const* in, char* out, long length);
    bool Decrypt(char const* in, char* out, long length);
    bool Encrypt(BINARY const& in, BINARY& out);
    bool Decrypt(BINARY const& in, BINARY& out);

    static void FillUp(BINARY& data, char fill) { DES3::FillUp(data, fill); }
    static STRING PadKey(char const* a, char const* b);
    static STRING Code2String(char const* data, long length, bool oneLine)
    {
        return DES3::Code2String(data, length, oneLine);
    }
    static int32_t String2Code(STRING const& hex, char* out, int32_t size)
    {
        return DES3::String2Code(hex, out, size);
    }
    static int32_t String2Code(STRING const& hex, BINARY& out) { return DES3::String2Code(hex, out); }

    struct STATE; // encryption and decryption schedules with their chaining values

private:
    std::unique_ptr<STATE> state;
};

class VELMOT_EXPORT CYPHER {
public:
    // Largest result of one operation, in bytes.
    static constexpr int32_t MAXRESULT = 4096;

    CYPHER();
    // A key from its text form; missing or empty values stay unset, and an
    // operation that needs one of them fails with -1.
    explicit CYPHER(HASH const& key);
    // A new key of `bits` bits with the public exponent 65537.
    explicit CYPHER(int bits);
    ~CYPHER();
    CYPHER(CYPHER const&) = delete;
    CYPHER& operator=(CYPHER const&) = delete;

    HASH PublicKey() const;
    HASH PrivateKey() const;

    // PKCS#1 v1.5. The encryptions take at most the modulus size minus 11
    // bytes, the decryptions exactly the modulus size. Each returns the
    // length of the result placed into `out`, or -1 (and `out` unchanged).
    int PublicEncrypt(BINARY& in, BINARY& out);
    int PrivateEncrypt(BINARY& in, BINARY& out);
    int PrivateDecrypt(BINARY& in, BINARY& out);
    int PublicDecrypt(BINARY& in, BINARY& out);

    // Modulus size in bytes; 0 without a usable public key.
    int32_t Size() const;

    // Decimal text to a new big number (the caller frees it with BN_free);
    // null for an empty text or one that is not an unsigned decimal number.
    static bignum_st* DecToBigNum(STRING const& text);
    static STRING BigNumToDec(bignum_st const* number);

private:
    enum class NEED { PUBLIC, PRIVATE };
    int Run(BINARY& in, BINARY& out, NEED need, bool encrypt);
    bool HasPublic() const;
    bool HasPrivate() const;

    rsa_st* rsa = nullptr;
};
