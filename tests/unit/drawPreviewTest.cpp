// Label JSON from the canvas library, the preview answer, and a picture turned into a one-image
// label: what reaches the libraries, what is answered, and that every hand-out goes back.
#include <gtest/gtest.h>

#include "kvImageGallery/base64.h"
#include "tests/support/logCapture.h"
#include "tests/unit/drawTestSupport.h"

namespace {

using drawtest::answer;
using drawtest::DrawBridgeTest;
using drawtest::parse;

// ---- label JSON ----------------------------------------------------------------------------

TEST_F(DrawBridgeTest, TheLabelJsonIsCopiedAndItsTextHandedBack) {
    LogCapture log;
    fake.labelJson = R"({"width":50.0,"elements":[]})";
    EXPECT_EQ(bridge.GenerateLableJson(), R"({"width":50.0,"elements":[]})");
    EXPECT_EQ(fake.callNames(), (std::vector<std::string>{"GenerateLableJson", "freeData"}));
    EXPECT_EQ(args("freeData"), parse("[true]"));
    EXPECT_TRUE(fake.allGivenBack());
    EXPECT_TRUE(log.contains("[INFO]:GenerateLableJson begin"));
    EXPECT_TRUE(log.contains("[INFO]:GenerateLableJson end"));
}

TEST_F(DrawBridgeTest, ANullLabelIsEmptyAndIsHandedBackAllTheSame) {
    EXPECT_EQ(bridge.GenerateLableJson(), "");
    EXPECT_EQ(fake.callNames(), (std::vector<std::string>{"GenerateLableJson", "freeData"}));
    EXPECT_EQ(args("freeData"), parse("[false]"));
}

// ---- preview -------------------------------------------------------------------------------

TEST_F(DrawBridgeTest, ThePreviewAnswersTheImageAsBase64InAStyledDocument) {
    fake.labelJson = R"({"width":50.0})";
    fake.imageBytes = "abc";
    const std::string text = draw("generateImagePreviewImage");
    EXPECT_EQ(text,
              "{\"apiName\":\"generateImagePreviewImage\",\"resultAck\":{\"errorCode\":0,\"info\":"
              "\"{\\n\\t\\\"ImageData\\\" : \\\"YWJj\\\",\\n\\t\\\"errorCode\\\" : 0,\\n\\t\\\"errorInfo\\\" : "
              "\\\"\\\"\\n}\\n\",\"result\":0}}\n");
    const Json::Value info = parse(parse(text)["resultAck"]["info"].asString());
    EXPECT_EQ(info, parse(R"({"ImageData":"YWJj","errorCode":0,"errorInfo":""})"));
    // The label went to the renderer, and both hand-outs came back.
    EXPECT_EQ(args("generateDataFromPrintJson")[0].asString(), R"({"width":50.0})");
    EXPECT_EQ(fake.callNames(), (std::vector<std::string>{"GenerateLableJson", "freeData",
                                                          "generateDataFromPrintJson", "vFree"}));
    EXPECT_EQ(args("vFree"), parse("[true]"));
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(DrawBridgeTest, ThePreviewRendersInPreviewModeAtTheBridgesScale) {
    fake.imageBytes = "x";
    draw("generateImagePreviewImage");
    EXPECT_EQ(args("generateDataFromPrintJson"),
              parse(R"(["", 1, 8.0, 8.0, [0.0,0.0,0.0,0.0], true, 0, [255,0,0,0]])"));
    bridge.setScaleValue(11.81f);
    draw("generateImagePreviewImage");
    EXPECT_EQ(args("generateDataFromPrintJson")[2].asDouble(), static_cast<double>(11.81f));
    EXPECT_EQ(args("generateDataFromPrintJson")[3].asDouble(), 8.0);
}

TEST_F(DrawBridgeTest, TheDisplayScaleStandsBesideTheNameNotInTheParameter) {
    fake.imageBytes = "x";
    struct {
        const char* request;
        double outputScale;
    } cases[] = {
        {R"({"apiName":"generateImagePreviewImage","displayScale":2})", 2.0},
        {R"({"apiName":"generateImagePreviewImage","displayScale":2.5})", 2.5},
        {R"({"apiName":"generateImagePreviewImage","parameter":{"displayScale":2}})", 8.0},
        {R"({"apiName":"generateImagePreviewImage","displayScale":null})", 8.0},
        {R"({"apiName":"generateImagePreviewImage","displayScale":"2"})", -2.0},
    };
    for (const auto& c : cases) {
        bridge.callDrawApi(c.request);
        EXPECT_EQ(args("generateDataFromPrintJson")[3].asDouble(), c.outputScale) << c.request;
    }
}

TEST_F(DrawBridgeTest, APreviewLeavesTheLabelInPlaceAndTwoInARowAreTheSame) {
    fake.labelJson = R"({"elements":[1]})";
    fake.imageBytes = std::string("\x89PNG\0\1\2", 7);
    const std::string first = draw("generateImagePreviewImage");
    const std::string second = draw("generateImagePreviewImage");
    EXPECT_EQ(first, second);
    EXPECT_EQ(fake.callCount("InitDrawingBoard"), 0);
    const Json::Value info = parse(parse(first)["resultAck"]["info"].asString());
    const std::vector<unsigned char> bytes = base64Decode(info["ImageData"].asString());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), *fake.imageBytes);
}

TEST_F(DrawBridgeTest, NothingRenderedIsAnErrorAndNoRecordIsRead) {
    const std::string failure = answer("generateImagePreviewImage", -1, "generate preview image fail!", -1);
    EXPECT_EQ(draw("generateImagePreviewImage"), failure);
    EXPECT_EQ(fake.callCount("vFree"), 0);

    fake.imageWithoutData = true;
    EXPECT_EQ(draw("generateImagePreviewImage"), failure);
    EXPECT_EQ(args("vFree"), parse("[true]"));
    EXPECT_TRUE(fake.allGivenBack());

    fake.imageWithoutData = false;
    fake.imageBytes = "";
    EXPECT_EQ(draw("generateImagePreviewImage"), failure);
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(DrawBridgeTest, RenderingPassesItsArgumentsThroughAndReleaseTakesNull) {
    fake.imageBytes = "abc";
    const float margin[4] = {1, 2, 3, 4};
    const int colour[4] = {255, 0, 0, 0};
    unsigned char zeros[8] = {};
    RenderedImage* image = bridge.generateDataFromPrintJson("{}", 0, 8.0f, 12.0f, margin, zeros, 90, colour);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size, 3);
    EXPECT_EQ(args("generateDataFromPrintJson"), parse(R"(["{}", 0, 8.0, 12.0, [1.0,2.0,3.0,4.0], true, 90,
        [255,0,0,0]])"));
    bridge.releaseImage(image);
    bridge.releaseImage(nullptr);
    EXPECT_EQ(fake.callCount("vFree"), 1);
    EXPECT_TRUE(fake.allGivenBack());
}

// ---- picture to label ----------------------------------------------------------------------

// A PNG header of the given size (signature, IHDR length and name, width, height).
std::string pngHeader(uint32_t width, uint32_t height) {
    std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((v >> shift) & 0xFF);
    }
    bytes += std::string(5, '\0');
    return base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
}

TEST_F(DrawBridgeTest, APictureBecomesABoardOfItsSizeWithOneImage) {
    fake.labelJson = R"({"label":1})";
    fake.imageBytes = "page";
    const std::string picture = pngHeader(400, 240);
    int width = 0, height = 0;
    RenderedImage* image = bridge.imageToLabel(picture, 12.0f, width, height);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(width, 50);
    EXPECT_EQ(height, 30);
    EXPECT_EQ(fake.callNames(), (std::vector<std::string>{"InitDrawingBoard", "DrawLableImage", "GenerateLableJson",
                                                          "freeData", "generateDataFromPrintJson"}));
    EXPECT_EQ(args("InitDrawingBoard"), parse(R"([50.0, 30.0, 0, ["ZT001.ttf"], 1])"));
    EXPECT_EQ(args("DrawLableImage"), parse("[\"" + picture + "\", 0.0, 0.0, 50.0, 30.0, 0, 1, 127.0]"));
    // The bridge's scale sizes the label; the printer's scale renders it. The picture is the
    // whole label: marked strict, it renders nothing when the picture cannot be drawn.
    EXPECT_EQ(args("generateDataFromPrintJson"),
              parse(R"(["{\"strict\":true,\"label\":1}", 0, 12.0, 12.0, [0.0,0.0,0.0,0.0], true, 0, [255,0,0,0]])"));
    bridge.releaseImage(image);
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(DrawBridgeTest, PictureSizesAreTruncatedAndUnknownPicturesAreZeroByZero) {
    struct {
        std::string picture;
        float scale;
        int width, height;
    } cases[] = {
        {pngHeader(401, 247), 8.0f, 50, 30},
        {pngHeader(400, 240), 11.81f, 33, 20},
        {"bm90IGFuIGltYWdl", 8.0f, 0, 0},
        {"data:image/png;base64," + pngHeader(400, 240), 8.0f, 0, 0},
        {pngHeader(400, 240), 0.0f, 0, 0},
        {pngHeader(400, 240), -8.0f, 0, 0},
    };
    for (const auto& c : cases) {
        bridge.setScaleValue(c.scale);
        int width = 0, height = 0;
        bridge.releaseImage(bridge.imageToLabel(c.picture, 8.0f, width, height));
        EXPECT_EQ(width, c.width) << c.picture << " at " << c.scale;
        EXPECT_EQ(height, c.height) << c.picture << " at " << c.scale;
        EXPECT_EQ(args("InitDrawingBoard")[0].asDouble(), c.width);
    }
}

TEST_F(DrawBridgeTest, AnEmptyPictureIsAnErrorAndDrawsNothing) {
    LogCapture log;
    int width = 0, height = 0;
    EXPECT_EQ(bridge.imageToLabel("", 8.0f, width, height), nullptr);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_TRUE(log.contains("[ERROR]:parse jsonData fail"));
}

TEST_F(DrawBridgeTest, APictureLabelKeepsTheLineBreakModeAndTheJobInformation) {
    draw("InitDrawingBoard", R"({"width":20})");
    draw("setLineBreakMode", R"({"lineBreakMode":2})");
    const Json::Value job = printImageInfoJson;
    int width = 0, height = 0;
    bridge.imageToLabel(pngHeader(80, 80), 8.0f, width, height);
    EXPECT_EQ(bridge.lineBreakMode, 2);
    EXPECT_EQ(printImageInfoJson, job);
}

}  // namespace
