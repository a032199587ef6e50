// Ciphers, checked against outside references: the openssl program (with
// the legacy provider for DES and Blowfish) and python3's cryptography
// package.
#include "velmot/core/crypto.h"
#include "velmot/core/hash.h"
#include "velmot/core/logit.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <openssl/bn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::vector<std::string>& gQuestions = testutil::AskedQuestions();

class Crypto : public ::testing::Test {
protected:
    testutil::QUESTIONHOOK questionhook_;

    bool Asked(char const* expression) const
    {
        for (auto const& q : gQuestions) {
            if (q.find(expression) != std::string::npos)
                return true;
        }
        return false;
    }

    // One pass of `openssl enc` without padding and with a zero chaining
    // value; files rather than pipes carry the data.
    std::string OpensslEnc(char const* cipher, bool decrypt, std::string const& key, std::string const& data)
    {
        std::string in = dir.file("enc.in");
        std::string out = dir.file("enc.out");
        WriteFile(in, data);
        std::vector<std::string> argv = {"openssl", "enc", cipher, "-provider", "legacy", "-provider", "default",
                                         "-K", Hex(key), "-iv", "0000000000000000", "-nopad", "-in", in, "-out", out};
        if (decrypt)
            argv.insert(argv.begin() + 2, "-d");
        EXPECT_EQ(0, RunProgram(argv));
        return ReadFile(out);
    }

    TempDir dir;

public:
    static std::string Hex(std::string const& s)
    {
        static char const digits[] = "0123456789abcdef";
        std::string h;
        for (unsigned char c : s) {
            h.push_back(digits[c >> 4]);
            h.push_back(digits[c & 15]);
        }
        return h;
    }
};

BINARY Bin(std::string const& s)
{
    BINARY b;
    b.Make(static_cast<int32_t>(s.size()), s.data());
    return b;
}

std::string Str(BINARY const& b)
{
    return std::string(b.Buffer ? b.Buffer : "", static_cast<size_t>(b.Length()));
}

std::string Random(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string Unhex(std::string const& hex)
{
    std::string s;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        s.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return s;
}

// Blowfish-CBC with a zero chaining value from python3's cryptography
// package (its Blowfish takes any key of 4 to 56 bytes).
std::string PythonBlowfish(std::string const& key, std::string const& data)
{
    std::string out;
    EXPECT_EQ(0, RunProgram({"python3", "-c",
                             "import sys\n"
                             "from cryptography.hazmat.decrepit.ciphers.algorithms import Blowfish\n"
                             "from cryptography.hazmat.primitives.ciphers import Cipher, modes\n"
                             "c = Cipher(Blowfish(bytes.fromhex(sys.argv[1])), modes.CBC(bytes(8))).encryptor()\n"
                             "print((c.update(bytes.fromhex(sys.argv[2])) + c.finalize()).hex())\n",
                             Crypto::Hex(key), Crypto::Hex(data)},
                            &out));
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return Unhex(out);
}

} // namespace

TEST_F(Crypto, Des3IsThreeCbcPassesAsOpensslComputesThem)
{
    std::string const key = DES3::PadKey("Secret", "Word").Buf(); // "SecretWordSecretWordSecr"
    ASSERT_EQ("SecretWordSecretWordSecr", key);
    std::string const plain = Random(40, 1);

    // The reference: encrypt with key part 1, decrypt with part 2, encrypt
    // with part 3, each pass over the whole data with its own chain.
    std::string ref = OpensslEnc("-des-cbc", false, key.substr(0, 8), plain);
    ref = OpensslEnc("-des-cbc", true, key.substr(8, 8), ref);
    ref = OpensslEnc("-des-cbc", false, key.substr(16, 8), ref);
    ASSERT_EQ(plain.size(), ref.size());

    // The chains carry on across calls: 16 bytes and then 24 give the same
    // cipher text as 40 bytes at once.
    DES3 sender(key.c_str());
    BINARY first, second;
    ASSERT_TRUE(sender.Encrypt(Bin(plain.substr(0, 16)), first));
    ASSERT_TRUE(sender.Encrypt(Bin(plain.substr(16)), second));
    EXPECT_EQ(ref, Str(first) + Str(second));

    DES3 receiver(key.c_str());
    BINARY back1, back2;
    ASSERT_TRUE(receiver.Decrypt(first, back1));
    ASSERT_TRUE(receiver.Decrypt(second, back2));
    EXPECT_EQ(plain, Str(back1) + Str(back2));

    // The raw-buffer forms work in place.
    DES3 inPlace(key.c_str());
    std::string buffer = plain;
    ASSERT_TRUE(inPlace.Encrypt(buffer.data(), buffer.data(), static_cast<long>(buffer.size())));
    EXPECT_EQ(ref, buffer);
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(Crypto, Des3SameMessageTwiceGivesDifferentCipherTexts)
{
    std::string const key = DES3::PadKey("abc", "xyz").Buf();
    EXPECT_EQ("abcxyzabcxyzabcxyzabcxyz", key);
    DES3 a(key.c_str());
    BINARY message = Bin("sixteen bytes!!!");
    BINARY c1, c2;
    ASSERT_TRUE(a.Encrypt(message, c1));
    ASSERT_TRUE(a.Encrypt(message, c2));
    EXPECT_NE(Str(c1), Str(c2));
    DES3 b(key.c_str());
    BINARY p1, p2;
    ASSERT_TRUE(b.Decrypt(c1, p1));
    ASSERT_TRUE(b.Decrypt(c2, p2));
    EXPECT_EQ("sixteen bytes!!!", Str(p1));
    EXPECT_EQ("sixteen bytes!!!", Str(p2));

    // A new key starts the chains from zero again.
    ASSERT_TRUE(a.SetKey(key.c_str()));
    BINARY again;
    ASSERT_TRUE(a.Encrypt(message, again));
    EXPECT_EQ(Str(c1), Str(again));
}

TEST_F(Crypto, BlowfishAgreesWithOpensslAndPython)
{
    std::string const plain = Random(64, 2);
    struct CASE {
        char const* name;
        std::string key;
    };
    std::vector<CASE> cases = {
        {"8 bytes", "8bytekey"},
        {"16 bytes", BLOWFISH::PadKey("password", "salt").Buf()},
        {"24 bytes", "twenty-four byte key!..."},
        {"56 bytes", Random(56, 3)},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        std::string ref = PythonBlowfish(c.key, plain);
        ASSERT_EQ(plain.size(), ref.size());
        // openssl's bf-cbc takes its key as 16 bytes: the check applies there.
        if (c.key.size() == 16) {
            EXPECT_EQ(ref, OpensslEnc("-bf-cbc", false, c.key, plain));
        }

        BLOWFISH sender(c.key.data(), static_cast<int>(c.key.size()));
        BINARY a, b;
        ASSERT_TRUE(sender.Encrypt(Bin(plain.substr(0, 24)), a));
        ASSERT_TRUE(sender.Encrypt(Bin(plain.substr(24)), b));
        EXPECT_EQ(ref, Str(a) + Str(b));

        BLOWFISH receiver(c.key.data(), static_cast<int>(c.key.size()));
        std::string buffer = Str(a) + Str(b);
        ASSERT_TRUE(receiver.Decrypt(buffer.data(), buffer.data(), 24));
        ASSERT_TRUE(receiver.Decrypt(buffer.data() + 24, buffer.data() + 24, 40));
        EXPECT_EQ(plain, buffer);
    }
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(Crypto, KeyPadding)
{
    struct CASE {
        char const* a;
        char const* b;
        char const* key;
        bool reported;
    };
    std::vector<CASE> const cases = {
        {"abc", "xyz", "abcxyzxy", false},
        {"password", "salt", "password", false},
        {"passwords", "12", "passwords1212121", false},
        {"", "xyz", "", false},
        {"abc", "", "abc", true}, // nothing to lengthen it with
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(std::string(c.a) + "/" + c.b);
        gQuestions.clear();
        EXPECT_STREQ(c.key, BLOWFISH::PadKey(c.a, c.b).Buf());
        EXPECT_EQ(c.reported, Asked("k.Length()>=l && k.Length()%8==0"));
    }
    EXPECT_STREQ("a1a1a1a1a1a1a1a1a1a1a1a1", DES3::PadKey("a", "1").Buf());
    EXPECT_STREQ("twenty-five characters!!", DES3::PadKey("twenty-five characters!!!", "x").Buf());
}

TEST_F(Crypto, MisuseIsReportedAndWritesNothing)
{
    DES3 noKey;
    char buffer[16] = "untouched";
    EXPECT_FALSE(noKey.Encrypt(buffer, buffer, 16));
    EXPECT_STREQ("untouched", buffer);

    DES3 des;
    EXPECT_FALSE(des.SetKey("too short"));
    EXPECT_TRUE(Asked("strlen(key)==24"));
    ASSERT_TRUE(des.SetKey("123456789012345678901234"));
    gQuestions.clear();
    BINARY out = Bin("kept");
    EXPECT_FALSE(des.Encrypt(Bin("12345"), out));
    EXPECT_EQ("kept", Str(out));
    EXPECT_TRUE(Asked("len%8==0"));

    BLOWFISH bf;
    gQuestions.clear();
    EXPECT_FALSE(bf.SetKey("short", -1));
    EXPECT_TRUE(Asked("len%8==0"));
    EXPECT_FALSE(bf.Decrypt(buffer, buffer, 8));
    EXPECT_STREQ("untouched", buffer);
    ASSERT_TRUE(bf.SetKey("longer key: 16 b", -1));
    EXPECT_FALSE(bf.Encrypt(buffer, buffer, 9));
    EXPECT_STREQ("untouched", buffer);
}

TEST_F(Crypto, FillUpPadsToTheBlockSize)
{
    for (int n : {0, 1, 7, 8, 9, 15, 16}) {
        SCOPED_TRACE(n);
        BINARY data = Bin(std::string(static_cast<size_t>(n), 'a'));
        DES3::FillUp(data, '.');
        int expected = (n + 7) / 8 * 8;
        EXPECT_EQ(std::string(static_cast<size_t>(n), 'a') + std::string(static_cast<size_t>(expected - n), '.'),
                  Str(data));
    }
}

TEST_F(Crypto, CodeTextForms)
{
    std::string bytes = Random(31, 5);
    std::string text = DES3::Code2String(bytes.data(), 31, false).Buf();
    std::string hex = Hex(bytes);
    EXPECT_EQ(hex.substr(0, 60) + "\r\n" + hex.substr(60) + "\r\n", text);
    EXPECT_EQ(hex, DES3::Code2String(bytes.data(), 31, true).Buf());
    EXPECT_EQ("616263", std::string(DES3::Code2String("abc", -1, true).Buf()));
    EXPECT_EQ("", std::string(DES3::Code2String("", 0, false).Buf()));
    EXPECT_EQ(Hex(std::string(60, 'z')).substr(0, 60) + "\r\n" + Hex(std::string(60, 'z')).substr(60) + "\r\n",
              DES3::Code2String(std::string(60, 'z').data(), 60, false).Buf());

    char out[64];
    ASSERT_EQ(31, DES3::String2Code(STRING(text.c_str()), out, sizeof out));
    EXPECT_EQ(bytes, std::string(out, 31));
    BINARY grown;
    ASSERT_EQ(31, DES3::String2Code(STRING(text.c_str()), grown));
    EXPECT_EQ(bytes, Str(grown));
    EXPECT_EQ(3, DES3::String2Code(STRING("4A4b\r\n4c"), out, 3));
    EXPECT_EQ("JKL", std::string(out, 3));

    // Bounded output, and nothing but hexadecimal pairs.
    struct CASE {
        char const* hex;
        int32_t size;
    };
    for (CASE c : {CASE{"41424344", 3}, CASE{"4142 43", 8}, CASE{"414", 8}, CASE{"41zz", 8}}) {
        SCOPED_TRACE(c.hex);
        char small[8] = {};
        EXPECT_EQ(-1, DES3::String2Code(STRING(c.hex), small, c.size));
    }
    EXPECT_TRUE(gQuestions.empty()); // bad text is reported quietly
}

TEST_F(Crypto, DecimalBigNumbers)
{
    for (char const* text : {"0", "65537", "179769313486231590772930519078902473361797697894230657273430081157732675805500963132708477322407536021120113879871393357658789768814416622492847430639474124377767893424865485276302219601246094119453082952085005768838150682342462881473913110540827237163350510684586298239947245938479716304835356329624224137217"}) {
        SCOPED_TRACE(text);
        bignum_st* n = CYPHER::DecToBigNum(STRING(text));
        ASSERT_NE(nullptr, n);
        EXPECT_STREQ(text, CYPHER::BigNumToDec(n).Buf());
        BN_free(n);
    }
    for (char const* bad : {"", "-5", "12a", " 12", "1e5"}) {
        EXPECT_EQ(nullptr, CYPHER::DecToBigNum(STRING(bad))) << bad;
    }
    EXPECT_EQ(nullptr, CYPHER::DecToBigNum(STRING(std::string(6000, '9').c_str())));
    EXPECT_EQ(0, CYPHER::BigNumToDec(nullptr).Length());
}

// ---------------------------------------------------------------- CYPHER

namespace {

char const* const kKeyParts[] = {"e", "n", "d", "p", "q", "iqmp", "dmp1", "dmq1"};

// Writes key.pem (private) and pub.pem from the decimal parts of a key
// text, as python3's cryptography package builds them.
char const* const kPyPemFromParts = R"(import sys
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.hazmat.primitives import serialization as s
v = dict(line.split('=', 1) for line in sys.stdin.read().split())
v = {k: int(x) for k, x in v.items()}
pub = rsa.RSAPublicNumbers(v['e'], v['n'])
key = rsa.RSAPrivateNumbers(v['p'], v['q'], v['d'], v['dmp1'], v['dmq1'], v['iqmp'], pub).private_key()
open(sys.argv[1], 'wb').write(key.private_bytes(s.Encoding.PEM, s.PrivateFormat.PKCS8, s.NoEncryption()))
open(sys.argv[2], 'wb').write(key.public_key().public_bytes(s.Encoding.PEM, s.PublicFormat.SubjectPublicKeyInfo))
)";

// Prints the decimal parts of a PEM private key, one "name=value" a line.
char const* const kPyPartsFromPem = R"(import sys
from cryptography.hazmat.primitives import serialization as s
k = s.load_pem_private_key(open(sys.argv[1], 'rb').read(), None).private_numbers()
for name, value in [('e', k.public_numbers.e), ('n', k.public_numbers.n), ('d', k.d), ('p', k.p), ('q', k.q),
                    ('iqmp', k.iqmp), ('dmp1', k.dmp1), ('dmq1', k.dmq1)]:
    print('%s=%d' % (name, value))
)";

class Cypher : public Crypto {
protected:
    // Builds PEM files from a key text and returns their paths.
    void WritePem(HASH const& key)
    {
        std::string parts;
        for (char const* name : kKeyParts)
            parts += std::string(name) + "=" + key[name].Buf() + "\n";
        ASSERT_EQ(0, RunProgram({"python3", "-c", kPyPemFromParts, pem, pubPem}, nullptr, parts));
    }

    std::string Pkeyutl(std::vector<std::string> args, std::string const& input, int* rc = nullptr)
    {
        std::string in = dir.file("pkeyutl.in");
        std::string out = dir.file("pkeyutl.out");
        WriteFile(in, input);
        WriteFile(out, "");
        std::vector<std::string> argv = {"openssl", "pkeyutl", "-in", in, "-out", out};
        argv.insert(argv.end(), args.begin(), args.end());
        int status = RunProgram(argv);
        if (rc)
            *rc = status;
        else
            EXPECT_EQ(0, status);
        return ReadFile(out);
    }

    std::string pem = dir.file("key.pem");
    std::string pubPem = dir.file("pub.pem");
};

bool IsDecimal(STRING const& s)
{
    if (s.Length() == 0)
        return false;
    for (int32_t i = 0; i < s.Length(); ++i) {
        if (s.Buf()[i] < '0' || s.Buf()[i] > '9')
            return false;
    }
    return true;
}

} // namespace

TEST_F(Cypher, GeneratedKeyTextAndRoundTrips)
{
    CYPHER key(1024);
    ASSERT_EQ(128, key.Size());
    HASH priv = key.PrivateKey();
    for (char const* name : kKeyParts) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(priv.CheckKey(name));
        EXPECT_TRUE(IsDecimal(priv[name]));
    }
    HASH pub = key.PublicKey();
    EXPECT_EQ(2, pub.Keys.NumItems());
    EXPECT_STREQ("65537", pub["e"].Buf());
    EXPECT_STREQ(priv["n"].Buf(), pub["n"].Buf());

    // The key text survives its own text form.
    HASH reread{priv.AsString()};
    CYPHER rebuilt(reread);
    EXPECT_EQ(priv.AsString(), rebuilt.PrivateKey().AsString());

    CYPHER publicOnly(pub);
    BINARY message = Bin(Random(117, 8));
    BINARY sealed, opened;
    ASSERT_EQ(128, publicOnly.PublicEncrypt(message, sealed));
    ASSERT_EQ(117, rebuilt.PrivateDecrypt(sealed, opened));
    EXPECT_EQ(Str(message), Str(opened));

    BINARY signature, recovered;
    ASSERT_EQ(128, key.PrivateEncrypt(message, signature));
    ASSERT_EQ(117, publicOnly.PublicDecrypt(signature, recovered));
    EXPECT_EQ(Str(message), Str(recovered));
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(Cypher, BlockLimitIsModulusSizeMinusEleven)
{
    CYPHER key(1024);
    struct CASE {
        size_t length;
        bool fits;
    };
    for (CASE c : {CASE{0, true}, CASE{1, true}, CASE{117, true}, CASE{118, false}, CASE{200, false}}) {
        SCOPED_TRACE(c.length);
        gQuestions.clear();
        BINARY in = Bin(Random(c.length, 9));
        for (bool isPublic : {true, false}) {
            BINARY out = Bin("kept");
            int rc = isPublic ? key.PublicEncrypt(in, out) : key.PrivateEncrypt(in, out);
            EXPECT_EQ(c.fits ? 128 : -1, rc);
            if (!c.fits) {
                EXPECT_EQ("kept", Str(out));
            }
        }
        EXPECT_EQ(!c.fits, Asked("in.Length()+11<=n"));
    }

    // Decryption takes exactly one block; a wrong size is data, reported quietly.
    gQuestions.clear();
    for (size_t length : {0, 127, 129}) {
        BINARY in = Bin(Random(length, 10));
        BINARY out = Bin("kept");
        EXPECT_EQ(-1, key.PrivateDecrypt(in, out));
        EXPECT_EQ(-1, key.PublicDecrypt(in, out));
        EXPECT_EQ("kept", Str(out));
    }
    // A block of the right size whose padding is wrong fails too.
    BINARY noise = Bin(std::string("\x01") + Random(127, 11));
    BINARY out = Bin("kept");
    EXPECT_EQ(-1, key.PrivateDecrypt(noise, out));
    EXPECT_EQ(-1, key.PublicDecrypt(noise, out));
    EXPECT_EQ("kept", Str(out));
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(Cypher, AgreesWithOpensslPkeyutlOnAKeyRebuiltFromItsText)
{
    CYPHER key(1024);
    WritePem(key.PrivateKey());
    std::string const message = Random(117, 12);

    // Ours sealed, openssl opens.
    BINARY plainMessage = Bin(message), sealed;
    ASSERT_EQ(128, key.PublicEncrypt(plainMessage, sealed));
    EXPECT_EQ(message, Pkeyutl({"-decrypt", "-inkey", pem, "-pkeyopt", "rsa_padding_mode:pkcs1"}, Str(sealed)));

    // openssl seals with the public key, ours opens with the private text.
    CYPHER fromText(key.PrivateKey());
    std::string theirs = Pkeyutl({"-encrypt", "-pubin", "-inkey", pubPem, "-pkeyopt", "rsa_padding_mode:pkcs1"}, message);
    BINARY in = Bin(theirs), opened;
    ASSERT_EQ(117, fromText.PrivateDecrypt(in, opened));
    EXPECT_EQ(message, Str(opened));

    // Ours signs (private encryption), openssl recovers; and the other way.
    BINARY plain = Bin("short message"), signature;
    ASSERT_EQ(128, key.PrivateEncrypt(plain, signature));
    EXPECT_EQ("short message", Pkeyutl({"-verifyrecover", "-pubin", "-inkey", pubPem}, Str(signature)));
    std::string theirSignature = Pkeyutl({"-sign", "-inkey", pem}, "from openssl");
    CYPHER publicOnly(key.PublicKey());
    BINARY sig = Bin(theirSignature), recovered;
    ASSERT_EQ(12, publicOnly.PublicDecrypt(sig, recovered));
    EXPECT_EQ("from openssl", Str(recovered));
}

TEST_F(Cypher, KeysMadeByOpensslAreRead)
{
    ASSERT_EQ(0, RunProgram({"openssl", "genrsa", "-out", pem, "2048"}));
    std::string parts;
    ASSERT_EQ(0, RunProgram({"python3", "-c", kPyPartsFromPem, pem}, &parts));
    HASH text;
    std::istringstream lines(parts);
    for (std::string line; std::getline(lines, line);) {
        size_t eq = line.find('=');
        ASSERT_NE(std::string::npos, eq);
        text[line.substr(0, eq).c_str()] = STRING(line.substr(eq + 1).c_str());
    }
    CYPHER key(text);
    ASSERT_EQ(256, key.Size());
    BINARY message = Bin(Random(245, 13)), sealed;
    ASSERT_EQ(256, key.PublicEncrypt(message, sealed));
    EXPECT_EQ(Str(message), Pkeyutl({"-decrypt", "-inkey", pem}, Str(sealed)));
    EXPECT_EQ(text.AsString(), key.PrivateKey().AsString());
}

TEST_F(Cypher, IncompleteKeysFailWithoutCrashing)
{
    CYPHER whole(1024);
    HASH full = whole.PrivateKey();
    BINARY x = Bin("x"), block;
    ASSERT_EQ(128, whole.PublicEncrypt(x, block));

    struct CASE {
        char const* name;
        std::vector<char const*> drop; // parts left out
        std::map<std::string, std::string> set; // parts replaced
        bool publicWorks;
        bool privateWorks;
    };
    std::vector<CASE> const cases = {
        {"empty key", {"e", "n", "d", "p", "q", "iqmp", "dmp1", "dmq1"}, {}, false, false},
        {"no modulus", {"n"}, {}, false, false},
        {"no exponent", {"e"}, {}, false, false},
        {"public part only", {"d", "p", "q", "iqmp", "dmp1", "dmq1"}, {}, true, false},
        {"empty private exponent", {}, {{"d", ""}}, true, false},
        {"not a number", {}, {{"n", "12x4"}}, false, false},
        {"negative", {}, {{"e", "-3"}}, false, false},
        {"zero modulus", {}, {{"n", "0"}}, false, false},
        {"no factors", {"p", "q", "iqmp", "dmp1", "dmq1"}, {}, true, true},
        {"half the factors", {"q", "iqmp"}, {}, true, true},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        HASH text;
        for (char const* name : kKeyParts) {
            if (std::find_if(c.drop.begin(), c.drop.end(), [&](char const* d) { return !strcmp(d, name); }) ==
                c.drop.end())
                text[name] = full[name];
        }
        for (auto const& [name, value] : c.set)
            text[name.c_str()] = STRING(value.c_str());
        CYPHER key(text);
        BINARY message = Bin("secret"), out = Bin("kept");
        EXPECT_EQ(c.publicWorks ? 128 : -1, key.PublicEncrypt(message, out));
        EXPECT_EQ(c.privateWorks ? 128 : -1, key.PrivateEncrypt(message, out));
        BINARY opened = Bin("kept");
        EXPECT_EQ(c.privateWorks ? 1 : -1, key.PrivateDecrypt(block, opened));
        EXPECT_EQ(c.privateWorks ? "x" : "kept", Str(opened));
    }
    CYPHER none;
    BINARY out = Bin("kept");
    EXPECT_EQ(-1, none.PublicEncrypt(block, out));
    EXPECT_EQ(-1, none.PublicDecrypt(block, out));
    EXPECT_EQ(0, none.Size());
    EXPECT_EQ(0, none.PublicKey().Keys.NumItems());
    EXPECT_TRUE(gQuestions.empty());
}
