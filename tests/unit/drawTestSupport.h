// Shared by the drawing bridge's tests: a bridge wired to the fake library table, request texts
// and the exact answer texts.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <string>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "tests/support/fakeThirdLibrary.h"

namespace drawtest {

// {"apiName":name,"parameter":parameter}; no "parameter" key when it is empty.
inline std::string request(const std::string& apiName, const std::string& parameter = "") {
    std::string text = "{\"apiName\":\"" + apiName + "\"";
    if (!parameter.empty()) text += ",\"parameter\":" + parameter;
    return text + "}";
}

// The envelope as a client receives it, written out by hand.
inline std::string answer(const std::string& apiName, int result, const std::string& info, int errorCode) {
    return "{\"apiName\":\"" + apiName + "\",\"resultAck\":{\"errorCode\":" + std::to_string(errorCode) +
           ",\"info\":\"" + info + "\",\"result\":" + std::to_string(result) + "}}\n";
}

inline Json::Value parse(const std::string& text) {
    Json::Value value;
    Json::Reader().parse(text, value);
    return value;
}

class DrawBridgeTest : public ::testing::Test {
protected:
    void SetUp() override { bridge.libraryApi = FakeThirdLibrary::makeTable(); }
    void TearDown() override { fake.reset(); }

    std::string draw(const std::string& apiName, const std::string& parameter = "") {
        return bridge.callDrawApi(request(apiName, parameter));
    }
    // The arguments of the last call of a library export.
    Json::Value args(const std::string& exportName) const { return fake.lastArgs(exportName); }

    FakeThirdLibrary& fake = FakeThirdLibrary::instance();
    kvPrinterSdkThirdApi bridge;
};

}  // namespace drawtest
