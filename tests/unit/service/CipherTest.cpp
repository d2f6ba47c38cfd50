#include <gtest/gtest.h>

#include "service/Cipher.h"

namespace veltrin::service {
namespace {

// Vectors from an independent implementation of the routine as documented (the +1 quirks
// included); a textbook RC4 gives other bytes.
TEST(Cipher, MatchesReferenceVectors) {
    EXPECT_EQ(encipherConstant("http://127.0.0.1:18080/api/check", kCipherKey),
              "AF,FD,ED,42,53,B6,63,55,80,27,BB,19,07,2F,B4,99,EA,BC,E5,38,92,D7,74,B8,B8,6B,D0,"
              "0D,1C,27,09,61,");
    EXPECT_EQ(encipherConstant("ab", "k"), "DC,16,");
    // Past 128 bytes the table position wraps from 255 back to 1.
    EXPECT_EQ(encipherConstant(std::string(300, 'A'), kCipherKey).substr(3 * 124, 3 * 10),
              "EE,10,08,14,5B,2E,EE,DA,E7,35,");
}

TEST(Cipher, RoundTrips) {
    const std::string plains[] = {"http://127.0.0.1:18080/client/params.txt", "&passwd=", "x",
                                  std::string(700, 'q')};
    for (const auto& plain : plains) {
        const std::string hex = encipherConstant(plain, kCipherKey);
        EXPECT_EQ(hex.size(), plain.size() * 3);
        EXPECT_EQ(decipherConstant(hex, kCipherKey), plain);
    }
}

TEST(Cipher, StoredFormVariantsDecipherAlike) {
    const std::string stored = encipherConstant("/api/check", kCipherKey);
    std::string noTrailingComma = stored.substr(0, stored.size() - 1);
    std::string lower = stored;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string noCommas;
    for (char c : stored) {
        if (c != ',') {
            noCommas.push_back(c);
        }
    }
    EXPECT_EQ(decipherConstant(noTrailingComma, kCipherKey), "/api/check");
    EXPECT_EQ(decipherConstant(lower, kCipherKey), "/api/check");
    EXPECT_EQ(decipherConstant(noCommas, kCipherKey), "/api/check");
}

TEST(Cipher, OddDigitCountGivesOneMoreByteFromTheLastDigit) {
    const std::string stored = encipherConstant("abc", kCipherKey);
    const std::string odd = decipherConstant(stored + "7", kCipherKey);
    EXPECT_EQ(odd.size(), 4u);
    EXPECT_EQ(odd, decipherConstant(stored + "07", kCipherKey));
    EXPECT_EQ(odd.substr(0, 3), "abc");
}

TEST(Cipher, ZeroByteEndsTheText) {
    const std::string hex = encipherConstant(std::string("ab\0cd", 5), kCipherKey);
    EXPECT_EQ(decipherConstant(hex, kCipherKey), "ab");
}

TEST(Cipher, BoundedOnMalformedInput) {
    EXPECT_EQ(decipherConstant("", kCipherKey), "");
    EXPECT_EQ(decipherConstant(",,,", kCipherKey), "");
    EXPECT_LE(decipherConstant("ZZ,QQ,", kCipherKey).size(), 2u);
    // An empty key must not divide by zero.
    EXPECT_EQ(decipherConstant(encipherConstant("hello", ""), ""), "hello");
    EXPECT_EQ(encipherConstant("hello", ""), encipherConstant("hello", std::string_view("\0", 1)));
}

}  // namespace
}  // namespace veltrin::service
