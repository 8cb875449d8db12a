// The firmware upgrade: the file read whole into the record, the texts cut to their fields, and
// the refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "kvPrinter/kvPrinterService.h"
#include "tests/support/fakePrinterSdk.h"

namespace {

class FirmwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::string(KV_TEST_DIR) + "/firmware-" + std::to_string(getpid());
        mkdir(folder.c_str(), 0755);
    }
    std::string writeFile(const std::string& name, const std::string& content) {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string upgrade(const std::string& apiName, const std::string& parameter) {
        return *service.answerRequest(R"({"apiName":")" + apiName + R"(","parameter":)" + parameter + "}");
    }

    std::string folder;
    FakePrinterSdk& fake = FakePrinterSdk::instance();
    cKvPrinterService service{&FakePrinterSdk::load};
};

TEST_F(FirmwareTest, TheWholeFileReachesTheSdkUnderTheRequestsName) {
    const std::string path = writeFile("fw 1.bin", std::string(1000, 'x'));
    // The path arrives percent-encoded.
    std::string encoded = path;
    encoded.replace(encoded.find(' '), 1, "%20");
    EXPECT_EQ(upgrade("updateFirmware", R"({"fileName":")" + encoded + R"(","strCrc":"1A2B","strSwVersion":"2.0.1"})"),
              "{\"apiName\":\"updateFirmware\",\"resultAck\":{\"errorCode\":0,\"info\":\"start upgrade firmware\","
              "\"result\":0}}\n");
    const Json::Value firmware = fake.lastArgs("upgradeFirmware")[0];
    EXPECT_EQ(firmware["fileSize"].asInt(), 1000);
    EXPECT_TRUE(firmware["fileData"].asBool());
    EXPECT_EQ(firmware["crc"].asString(), "1A2B");
    EXPECT_EQ(firmware["swVersion"].asString(), "2.0.1");
    EXPECT_NE(upgrade("upgradeFirmware", R"({"fileName":")" + encoded + R"("})").find("\"apiName\":\"upgradeFirmware\""),
              std::string::npos);
}

TEST_F(FirmwareTest, TextsAreCutTo32Bytes) {
    const std::string path = writeFile("fw.bin", "abc");
    const std::string crc32(32, 'c'), crc40(40, 'd');
    upgrade("upgradeFirmware", R"({"fileName":")" + path + R"(","strCrc":")" + crc32 + R"(","strSwVersion":")" + crc40 + R"("})");
    const Json::Value firmware = fake.lastArgs("upgradeFirmware")[0];
    EXPECT_EQ(firmware["crc"].asString(), crc32);
    EXPECT_EQ(firmware["swVersion"].asString(), crc40.substr(0, 32));
    upgrade("upgradeFirmware", R"({"fileName":")" + path + R"("})");
    EXPECT_EQ(fake.lastArgs("upgradeFirmware")[0]["swVersion"].asString(), "");
}

TEST_F(FirmwareTest, AnEmptyFileIsHandedOverWithSizeZero) {
    upgrade("upgradeFirmware", R"({"fileName":")" + writeFile("empty.bin", "") + R"("})");
    EXPECT_EQ(fake.lastArgs("upgradeFirmware")[0]["fileSize"].asInt(), 0);
}

TEST_F(FirmwareTest, AFileThatReadsShorterThanItStatesIsHandedOnAsReadWithoutPadding) {
    const std::string path = "/sys/devices/system/cpu/online";  // states 4,096 bytes, holds a line
    std::ifstream file(path, std::ios::binary);
    if (!file) GTEST_SKIP() << path << " is absent";
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    upgrade("upgradeFirmware", R"({"fileName":")" + path + R"("})");
    EXPECT_EQ(fake.lastArgs("upgradeFirmware")[0]["fileSize"].asInt(), static_cast<int>(bytes.size()));
}

TEST_F(FirmwareTest, AFileThatCannotBeReadIsRefused) {
    const std::string refused =
        "{\"apiName\":\"upgradeFirmware\",\"resultAck\":{\"errorCode\":26,\"info\":\"firmware file error!\","
        "\"result\":-1}}\n";
    EXPECT_EQ(upgrade("upgradeFirmware", R"({"fileName":")" + folder + R"(/missing.bin"})"), refused);
    EXPECT_EQ(upgrade("upgradeFirmware", R"({})"), refused);
    EXPECT_EQ(upgrade("upgradeFirmware", R"({"fileName":""})"), refused);
    EXPECT_EQ(upgrade("upgradeFirmware", R"({"fileName":")" + folder + R"("})"), refused);
    // Only plain files: a FIFO without a writer held the worker (and every client) for good.
    const std::string fifo = folder + "/fifo.bin";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(upgrade("upgradeFirmware", R"({"fileName":")" + fifo + R"("})"), refused);
    EXPECT_EQ(upgrade("upgradeFirmware", R"({"fileName":"/dev/null"})"), refused);
    EXPECT_EQ(fake.callCount("upgradeFirmware"), 0);
}

// The bytes this process has read so far.
uint64_t bytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

TEST_F(FirmwareTest, AFileOverTheCapIsRefusedWithoutReadingIt) {
    constexpr uint64_t kCap = 256u << 20;
    const std::string path = writeFile("huge.bin", "");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(kCap + 1)), 0);  // sparse: takes no disk
    const uint64_t before = bytesRead();
    EXPECT_EQ(upgrade("upgradeFirmware", R"({"fileName":")" + path + R"("})"),
              "{\"apiName\":\"upgradeFirmware\",\"resultAck\":{\"errorCode\":26,\"info\":\"firmware file error!\","
              "\"result\":-1}}\n");
    EXPECT_LT(bytesRead() - before, kCap);
    EXPECT_EQ(fake.callCount("upgradeFirmware"), 0);
    unlink(path.c_str());
}

TEST_F(FirmwareTest, KeysOfTheWrongTypeAreRefused) {
    const std::string refused =
        "{\"apiName\":\"upgradeFirmware\",\"resultAck\":{\"errorCode\":26,\"info\":\"parameter error!\",\"result\":-1}}\n";
    EXPECT_EQ(upgrade("upgradeFirmware", R"({"fileName":["a"]})"), refused);
    EXPECT_EQ(upgrade("upgradeFirmware", R"({"strCrc":{"a":1}})"), refused);
    EXPECT_EQ(upgrade("upgradeFirmware", R"(5)"), refused);
    EXPECT_EQ(fake.callCount("upgradeFirmware"), 0);
}

}  // namespace
