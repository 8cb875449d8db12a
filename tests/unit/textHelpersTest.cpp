// The text helpers of requests and images: URL decoding of paths, base64 both ways, and the
// picture sizes read from image headers.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "kvImageGallery/base64.h"
#include "kvImageGallery/imageSize.h"
#include "kvPrinter/urlDecode.h"

namespace {

std::string decoded(const std::string& in) {
    std::string out = "previous contents";
    EXPECT_EQ(urlDecode(in, out), 0);
    return out;
}

// ---- URL decoding --------------------------------------------------------------------------

struct UrlCase {
    std::string in;
    std::string out;
};
void PrintTo(const UrlCase& c, std::ostream* os) { *os << testing::PrintToString(c.in); }

class UrlDecode : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlDecode, DecodesEscapesAndKeepsEverythingElse) {
    EXPECT_EQ(decoded(GetParam().in), GetParam().out) << GetParam().in;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, UrlDecode,
    ::testing::Values(UrlCase{"C%3A%5Cfirmware%20files%5Cfw.bin", "C:\\firmware files\\fw.bin"},
                      UrlCase{"%e4%b8%ad.bin", "\xE4\xB8\xAD.bin"},  // one Chinese character
                      UrlCase{"%E4%B8%AD", "\xE4\xB8\xAD"},
                      UrlCase{"C:\\fonts", "C:\\fonts"},
                      UrlCase{"/usr/share/fonts", "/usr/share/fonts"},
                      UrlCase{"", ""},
                      UrlCase{"50%", "50"},            // a lone '%' at the end is dropped
                      UrlCase{"50%G", "50%G"},          // not an escape: kept
                      UrlCase{"%4z", std::string("\x04z", 2)},  // one digit is enough
                      UrlCase{"%%41", "%A"},
                      UrlCase{"a%00b", "a"},            // a decoded zero ends the text
                      UrlCase{"a+b", "a+b"},            // '+' stays
                      UrlCase{"%414", "A4"},            // at most two digits
                      UrlCase{"% 41", "A"},             // white space after '%' is skipped
                      UrlCase{"%\t4z", std::string("\x04z", 2)},
                      UrlCase{"%  ", ""},               // nothing after the white space: the end
                      UrlCase{"%+4", "\x04"},           // a sign counts as one of the two
                      UrlCase{"%-1x", "\xEF\xBF\xBDx"},  // the byte FF, invalid UTF-8
                      UrlCase{"%-x", "%-x"},
                      UrlCase{"100%%", "100%"},
                      UrlCase{"%", ""},
                      UrlCase{"a %41", "a A"}));

TEST(UrlDecodeLimits, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(decoded("%FF.bin"), "\xEF\xBF\xBD.bin");
    EXPECT_EQ(decoded("\xC3"), "\xEF\xBF\xBD");
    EXPECT_EQ(decoded("%C3%A9"), "\xC3\xA9");
}

TEST(UrlDecodeLimits, InputIsCutAfter1023DecodedBytes) {
    EXPECT_EQ(decoded(std::string(1023, 'a')), std::string(1023, 'a'));
    EXPECT_EQ(decoded(std::string(1024, 'a')), std::string(1023, 'a'));
    EXPECT_EQ(decoded(std::string(5000, 'b') + "%41"), std::string(1023, 'b'));
    std::string escapes;
    for (int i = 0; i < 1100; ++i) escapes += "%41";
    EXPECT_EQ(decoded(escapes), std::string(1023, 'A'));
}

TEST(UrlDecodeLimits, ReplacementCharactersNeverOverflowTheBufferOrSplitACharacter) {
    // 1023 invalid bytes would need 3069 bytes as replacement characters.
    const std::string out = decoded(std::string(1023, '\xFF'));
    EXPECT_LE(out.size(), 1023u);
    EXPECT_EQ(out.size() % 3, 0u);
    EXPECT_EQ(out.substr(0, 3), "\xEF\xBF\xBD");
    std::string mixed = "ab";
    for (int i = 0; i < 600; ++i) mixed += "%FF";
    const std::string cut = decoded(mixed);
    EXPECT_EQ(cut.size(), 1022u);  // "ab" and 340 whole replacement characters
}

TEST(UrlDecodeLimits, AZeroByteInsideTheInputEndsIt) {
    EXPECT_EQ(decoded(std::string("ab\0%41", 6)), "ab");
}

TEST(UrlDecodeLimits, InputAndResultMayBeTheSameString) {
    std::string path = "D%3A%5Cfonts";
    urlDecode(path, path);
    EXPECT_EQ(path, "D:\\fonts");
}

// ---- base64 --------------------------------------------------------------------------------

std::string encode(const std::string& bytes) {
    return base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
}

std::string decode(const std::string& text) {
    const std::vector<unsigned char> bytes = base64Decode(text);
    return std::string(bytes.begin(), bytes.end());
}

TEST(Base64, EncodesWithPaddingAndNoLineBreaks) {
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("ab"), "YWI=");
    EXPECT_EQ(encode("a"), "YQ==");
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(base64Encode(nullptr, 0), "");
    EXPECT_EQ(encode(std::string("\xFB\xFF\x00", 3)), "+/8A");
    EXPECT_EQ(encode(std::string(300, 'x')).size(), 400u);
    EXPECT_EQ(encode(std::string(300, 'x')).find('\n'), std::string::npos);
}

TEST(Base64, UsesTheStandardAlphabet) {
    EXPECT_EQ(base64Chars, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

struct DecodeCase {
    std::string text;
    std::string bytes;
};
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << testing::PrintToString(c.text); }

class Base64Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Base64Decode, StopsAtTheFirstCharacterOutsideTheAlphabet) {
    EXPECT_EQ(decode(GetParam().text), GetParam().bytes) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, Base64Decode,
                         ::testing::Values(DecodeCase{"YWJj", "abc"}, DecodeCase{"YWI=", "ab"},
                                           DecodeCase{"YWI", "ab"}, DecodeCase{"YQ==", "a"},
                                           DecodeCase{"YQ", "a"}, DecodeCase{"Y", ""}, DecodeCase{"", ""},
                                           DecodeCase{"YWJj\nYWJj", "abc"}, DecodeCase{"YWJj YWJj", "abc"},
                                           DecodeCase{"data:image/png;base64,iVBORw0KGgo", "u\xABZ"},
                                           DecodeCase{"+/8A", std::string("\xFB\xFF\x00", 3)},
                                           DecodeCase{"-_8A", ""}, DecodeCase{"YW-Jj", "a"},
                                           DecodeCase{"YWJj=YWJj", "abc"}, DecodeCase{"YW\xC3\xA9Jj", "a"}));

TEST(Base64, EveryByteValueGoesRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t length : {size_t{1}, size_t{2}, size_t{3}, size_t{255}, size_t{256}}) {
        EXPECT_EQ(decode(encode(all.substr(0, length))), all.substr(0, length)) << length;
    }
}

// ---- picture sizes -------------------------------------------------------------------------

struct Size {
    int width = -1, height = -1;  // -1: untouched
};

Size sizeOf(const std::string& bytes) {
    Size size;
    getImageSizeFromBase64(encode(bytes).c_str(), &size.height, &size.width);
    return size;
}

std::string le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string be16(unsigned v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }
std::string le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
std::string be32(uint32_t v) { return be16(v >> 16) + be16(v & 0xFFFF); }
std::string zeros(size_t n) { return std::string(n, '\0'); }

const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

std::string bmp(uint8_t headerSize, const std::string& sizeFields) {
    return "BM" + zeros(12) + static_cast<char>(headerSize) + zeros(3) + sizeFields + zeros(8);
}

struct SizeCase {
    const char* name;
    std::string bytes;
    int width, height;
};
void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class ImageSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ImageSize, ComesFromTheHeaderOfTheFirstMatchingFormat) {
    const Size size = sizeOf(GetParam().bytes);
    EXPECT_EQ(size.width, GetParam().width) << GetParam().name;
    EXPECT_EQ(size.height, GetParam().height) << GetParam().name;
}

const std::string kJfifApp0 = std::string("\xFF\xE0", 2) + be16(16) + "JFIF" + zeros(10);
const std::string kSof0 = std::string("\xFF\xC0", 2) + be16(17) + "\x08" + be16(240) + be16(400) + zeros(12);
// Segments of some 70,000 bytes before the frame header, as metadata and colour profiles make them:
// only the header's bytes are decoded, and here they lie far into the picture.
const std::string kLargeSegments = std::string("\xFF\xE1", 2) + be16(65535) + zeros(65533) +
                                   std::string("\xFF\xE2", 2) + be16(5000) + zeros(4998);

INSTANTIATE_TEST_SUITE_P(
    Headers, ImageSize,
    ::testing::Values(
        SizeCase{"gif89a", "GIF89a" + le16(16) + le16(16) + zeros(6), 16, 16},
        SizeCase{"gif87a", "GIF87a" + le16(300) + le16(2) + zeros(6), 300, 2},
        SizeCase{"gif of 9 bytes", "GIF89a" + le16(16) + "\x10", -1, -1},
        SizeCase{"png", kPngSignature + be32(13) + "IHDR" + be32(400) + be32(240) + zeros(5), 400, 240},
        SizeCase{"png of exactly 24 bytes", kPngSignature + be32(13) + "IHDR" + be32(1) + be32(2), 1, 2},
        SizeCase{"png without IHDR", kPngSignature + be32(7) + be32(9) + "XXXX" + zeros(8), 7, 9},
        SizeCase{"png of 16 bytes", kPngSignature + be32(5) + be32(6), 5, 6},
        SizeCase{"png of 15 bytes", kPngSignature + be32(5) + "\0\0\0", -1, -1},
        SizeCase{"jpeg with APP0 before SOF0", "\xFF\xD8" + kJfifApp0 + kSof0, 400, 240},
        SizeCase{"jpeg starting with SOF0", "\xFF\xD8" + kSof0, 400, 240},
        SizeCase{"jpeg SOF2", std::string("\xFF\xD8\xFF\xC2", 4) + be16(17) + "\x08" + be16(3) + be16(4) + zeros(4),
                 4, 3},
        SizeCase{"jpeg with a run of fill bytes", std::string("\xFF\xD8\xFF\xFF\xFF\xC1", 6) + be16(17) + "\x08" +
                                                      be16(30) + be16(40) + zeros(4),
                 40, 30},
        SizeCase{"jpeg reaching SOS first", std::string("\xFF\xD8", 2) + kJfifApp0 + "\xDA" + kSof0, -1, -1},
        SizeCase{"jpeg with a zero where a marker belongs", std::string("\xFF\xD8\x00", 3) + kSof0, -1, -1},
        SizeCase{"jpeg cut inside SOF0", "\xFF\xD8" + kSof0.substr(0, 7), -1, -1},
        SizeCase{"jpeg whose segment runs past the end", std::string("\xFF\xD8\xFF\xE0", 4) + be16(60000), -1, -1},
        SizeCase{"jpeg with a zero segment length", std::string("\xFF\xD8\xFF\xE0", 4) + be16(0) + kSof0, -1, -1},
        SizeCase{"jpeg of two bytes", "\xFF\xD8", -1, -1},
        SizeCase{"jpeg with large segments before SOF0", "\xFF\xD8" + kLargeSegments + kSof0, 400, 240},
        SizeCase{"jpeg with large segments, cut inside SOF0", "\xFF\xD8" + kLargeSegments + kSof0.substr(0, 7), -1,
                 -1},
        SizeCase{"bmp with a 12-byte header", bmp(12, le16(640) + le16(480)), 640, 480},
        SizeCase{"bmp with a 40-byte header", bmp(40, le32(640) + le32(480)), 640, 480},
        SizeCase{"bmp stored top-down", bmp(40, le32(200) + le32(static_cast<uint32_t>(-100))), 200, 100},
        SizeCase{"bmp with a 124-byte header", bmp(124, le32(5) + le32(6)), 5, 6},
        SizeCase{"bmp with an unknown header size", bmp(20, le32(5) + le32(6)), -1, -1},
        SizeCase{"bmp with the most negative height", bmp(40, le32(5) + le32(0x80000000u)), -1, -1},
        SizeCase{"bmp of 25 bytes", bmp(40, le32(5) + le32(6)).substr(0, 25), -1, -1},
        SizeCase{"ico", le16(0) + le16(1) + le16(1) + "\x20\x30" + zeros(2), 32, 48},
        SizeCase{"ico of 7 bytes", le16(0) + le16(1) + le16(1) + "\x20", -1, -1},
        SizeCase{"nothing known", "not an image at all", -1, -1}, SizeCase{"empty", "", -1, -1}));

TEST(ImageSizeText, AMultiImageIcoIsNamedOnTheConsoleAndHasNoSize) {
    testing::internal::CaptureStdout();
    const Size size = sizeOf(le16(0) + le16(1) + le16(2) + "\x20\x30" + zeros(2));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "this is a muti-ico file.");
    EXPECT_EQ(size.width, -1);
    EXPECT_EQ(size.height, -1);
}

TEST(ImageSizeText, DataUrlsAndSingleCharactersAreNotRecognised) {
    Size size;
    const std::string png = encode(kPngSignature + be32(13) + "IHDR" + be32(400) + be32(240) + zeros(5));
    getImageSizeFromBase64(("data:image/png;base64," + png).c_str(), &size.height, &size.width);
    EXPECT_EQ(size.width, -1);
    getImageSizeFromBase64("R", &size.height, &size.width);
    EXPECT_EQ(size.width, -1);
    getImageSizeFromBase64(nullptr, &size.height, &size.width);
    EXPECT_EQ(size.height, -1);
}

}  // namespace
