// What the tests of the settings, information, capabilities and paper handlers share: a service
// over the fake SDK, requests by name, and the answer texts written out by hand (not by the JSON
// library the service uses), so that a changed key, order, type or text shows up.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "kvPrinter/kvPrinterService.h"
#include "tests/support/fakePrinterSdk.h"

class SettingsServiceTest : public ::testing::Test {
protected:
    FakePrinterSdk& fake = FakePrinterSdk::instance();
    cKvPrinterService service{&FakePrinterSdk::load};

    // Forget the calls of the service's construction (initSdk, registCallback).
    void SetUp() override { fake.clearCalls(); }
    // Some tests leave SDK memory with the service on purpose (a failed call's list is not the
    // service's to give back); reinstalling the fakes releases it.
    void TearDown() override { fake.install(); }

    std::string askText(const std::string& request) {
        const std::optional<std::string> answer = service.answerRequest(request);
        return answer ? *answer : "<no answer>";
    }
    std::string ask(const std::string& apiName) { return askText(R"({"apiName":")" + apiName + R"("})"); }
    // parameter: the JSON text of "parameter" (any JSON value).
    std::string ask(const std::string& apiName, const std::string& parameter) {
        return askText(R"({"apiName":")" + apiName + R"(","parameter":)" + parameter + "}");
    }

    // The exports called, in order, with freeData's record ([true]: a pointer the SDK handed out).
    std::string callTrace() const {
        std::string trace;
        for (const FakeSdkCall& call : fake.calls()) {
            if (!trace.empty()) trace += " ";
            trace += call.name;
            if (call.name == "freeData") trace += call.args[0].asBool() ? "[true]" : "[false]";
        }
        return trace;
    }
};

// A JSON string literal of text (the escapes the answers need: quote, backslash, line feed).
inline std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The envelope with an integer "result" (and a text "info").
inline std::string intAnswer(const std::string& apiName, int errorCode, const std::string& info, int result) {
    return "{\"apiName\":" + quoted(apiName) + ",\"resultAck\":{\"errorCode\":" + std::to_string(errorCode) +
           ",\"info\":" + quoted(info) + ",\"result\":" + std::to_string(result) + "}}\n";
}

// The envelope with a text "result".
inline std::string textAnswer(const std::string& apiName, int errorCode, const std::string& info,
                              const std::string& result) {
    return "{\"apiName\":" + quoted(apiName) + ",\"resultAck\":{\"errorCode\":" + std::to_string(errorCode) +
           ",\"info\":" + quoted(info) + ",\"result\":" + quoted(result) + "}}\n";
}

inline std::string parameterError(const std::string& apiName) {
    return intAnswer(apiName, 26, "parameter error!", -1);
}
