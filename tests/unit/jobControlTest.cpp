// Starting, cancelling and ending jobs through the fake SDK: the order of the SDK calls and what
// each receives, the density the printer gives back, the first failing step ending the sequence
// with its name in the answer, the cancel answers as strings, and unusable values refused before
// the printer is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "tests/support/fakePrinterSdk.h"

namespace {

using Names = std::vector<std::string>;

class JobControlTest : public ::testing::Test {
protected:
    void SetUp() override { fake.clearCalls(); }
    std::string ask(const std::string& text) { return service.answerRequest(text).value_or("<no answer>"); }
    std::string startJob(const std::string& parameter) {
        return ask(R"({"apiName":"startJob","parameter":)" + parameter + "}");
    }
    int intArg(const char* exportName) { return fake.lastArgs(exportName)[0].asInt(); }

    FakePrinterSdk& fake = FakePrinterSdk::instance();
    cKvPrinterService service{&FakePrinterSdk::load};
};

TEST_F(JobControlTest, StartJobSetsLabelTypeDensityAndModeThenOpensTheJob) {
    EXPECT_EQ(startJob(R"({"printLabelType":1,"printDensity":3,"printMode":1,"count":2,"colorType":1})"),
              R"({"apiName":"startJob","resultAck":{"errorCode":0,"info":"startJob ok!","result":0}})" "\n");
    EXPECT_EQ(fake.callNames(), (Names{"setLabelType", "setPrintDensity", "setPrintMode", "startJob"}));
    EXPECT_EQ(intArg("setLabelType"), 1);
    EXPECT_EQ(intArg("setPrintDensity"), 3);
    EXPECT_EQ(intArg("setPrintMode"), 1);
    const Json::Value job = fake.lastArgs("startJob")[0];
    EXPECT_EQ(job["first"].asInt(), 0);
    EXPECT_EQ(job["second"].asInt(), 1);
    EXPECT_EQ(job["count"].asInt(), 2);
}

TEST_F(JobControlTest, WithTheDrawingSetUpThePrinterChoosesTheDensity) {
    service.sdkInited = true;
    fake.setResult<int32_t>("resetPrintDensity", 9);
    startJob(R"({"printLabelType":1,"printDensity":3,"printMode":1,"count":2})");
    EXPECT_EQ(fake.callNames(), (Names{"resetPrintDensity", "setLabelType", "setPrintDensity", "setPrintMode", "startJob"}));
    EXPECT_EQ(intArg("resetPrintDensity"), 3);
    EXPECT_EQ(intArg("setPrintDensity"), 9);
}

TEST_F(JobControlTest, ValuesAreReadAsIntegersWithDefaultsOfZero) {
    struct Case {
        const char* parameter;
        int labelType, density, mode, count;
    };
    const Case cases[] = {
        {R"({"printDensity":3.9,"count":-2.7})", 0, 3, 0, -2},
        {R"({"printLabelType":true,"printMode":false})", 1, 0, 0, 0},
        {R"({"printLabelType":null,"printDensity":null})", 0, 0, 0, 0},
        {"{}", 0, 0, 0, 0},
        {"null", 0, 0, 0, 0},
        {R"({"count":2147483647,"printDensity":-2147483648})", 0, -2147483648, 0, 2147483647},
    };
    for (const Case& c : cases) {
        fake.clearCalls();
        EXPECT_EQ(startJob(c.parameter),
                  R"({"apiName":"startJob","resultAck":{"errorCode":0,"info":"startJob ok!","result":0}})" "\n")
            << c.parameter;
        EXPECT_EQ(intArg("setLabelType"), c.labelType) << c.parameter;
        EXPECT_EQ(intArg("setPrintDensity"), c.density) << c.parameter;
        EXPECT_EQ(intArg("setPrintMode"), c.mode) << c.parameter;
        EXPECT_EQ(fake.lastArgs("startJob")[0]["count"].asInt(), c.count) << c.parameter;
    }
    fake.clearCalls();
    ask(R"({"apiName":"startJob"})");
    EXPECT_EQ(fake.callNames(), (Names{"setLabelType", "setPrintDensity", "setPrintMode", "startJob"}));
    EXPECT_EQ(fake.lastArgs("startJob")[0]["count"].asInt(), 0);
}

TEST_F(JobControlTest, TheFirstFailingStepEndsTheSequence) {
    struct Case {
        const char* failing;
        SdkStatus status;
        const char* info;
        Names calls;
    };
    const std::vector<Case> cases = {
        {"setLabelType", -1, "setLabelType:fail", {"setLabelType"}},
        {"setPrintDensity", -2, "setPrintDensity:printer busy", {"setLabelType", "setPrintDensity"}},
        {"setPrintMode", -3, "setPrintMode:no support", {"setLabelType", "setPrintDensity", "setPrintMode"}},
        {"startJob", 7, "startJob:", {"setLabelType", "setPrintDensity", "setPrintMode", "startJob"}},
        {"startJob", -4, "startJob:printer disconnect", {"setLabelType", "setPrintDensity", "setPrintMode", "startJob"}},
    };
    for (const Case& c : cases) {
        fake.install();
        fake.setResult<SdkStatus>(c.failing, c.status);
        EXPECT_EQ(startJob(R"({"count":1})"), R"({"apiName":"startJob","resultAck":{"errorCode":)" +
                                                    std::to_string(c.status) + R"(,"info":")" + c.info +
                                                    R"(","result":-1}})" "\n")
            << c.failing;
        EXPECT_EQ(fake.callNames(), c.calls) << c.failing;
    }
}

TEST_F(JobControlTest, UnusableStartJobValuesAreRefusedBeforeTheSdk) {
    service.sdkInited = true;
    const char* const parameters[] = {
        R"({"count":3000000000})",      R"({"count":-2147483649})", R"({"printDensity":"3"})",
        R"({"printMode":[1]})",         R"({"printLabelType":{}})", R"({"count":1e12})",
        "[1]",                          R"("text")",                "5",
        R"({"count":1,"printMode":"x"})",
    };
    for (const char* parameter : parameters) {
        EXPECT_EQ(startJob(parameter),
                  R"({"apiName":"startJob","resultAck":{"errorCode":26,"info":"parameter error!","result":-1}})" "\n")
            << parameter;
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(JobControlTest, CancelAnswersWithStringResultsUnderTheRequestedName) {
    EXPECT_EQ(ask(R"({"apiName":"stopPrint"})"),
              R"({"apiName":"stopPrint","resultAck":{"errorCode":0,"info":"cancel success","result":"true"}})" "\n");
    EXPECT_EQ(ask(R"({"apiName":"cancelJob"})"),
              R"({"apiName":"cancelJob","resultAck":{"errorCode":0,"info":"cancel success","result":"true"}})" "\n");
    fake.setResult<SdkStatus>("cancelJob", -2);
    EXPECT_EQ(ask(R"({"apiName":"cancelJob"})"),
              R"({"apiName":"cancelJob","resultAck":{"errorCode":-2,"info":"printer busy","result":"false"}})" "\n");
    fake.setResult<SdkStatus>("cancelJob", 12);
    EXPECT_EQ(ask(R"({"apiName":"stopPrint"})"),
              R"({"apiName":"stopPrint","resultAck":{"errorCode":12,"info":"","result":"false"}})" "\n");
    EXPECT_EQ(fake.callCount("cancelJob"), 4);
}

TEST_F(JobControlTest, EndJobAnswersUnderItsOwnName) {
    EXPECT_EQ(ask(R"({"apiName":"endJob"})"),
              R"({"apiName":"endJob","resultAck":{"errorCode":0,"info":"endJob ok","result":0}})" "\n");
    fake.setResult<SdkStatus>("endJob", -4);
    EXPECT_EQ(ask(R"({"apiName":"endJob"})"),
              R"({"apiName":"endJob","resultAck":{"errorCode":-4,"info":"printer disconnect","result":-1}})" "\n");
    // A dropped client ends the job from the network thread: the name follows there too.
    service.setCurrentApiName("getPower");
    EXPECT_EQ(service.endJobApi(),
              R"({"apiName":"endJob","resultAck":{"errorCode":-4,"info":"printer disconnect","result":-1}})" "\n");
    EXPECT_EQ(service.getCurrentApiName(), "endJob");
}

}  // namespace
