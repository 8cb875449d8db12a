// Drawing over a real connection: the drawing set-up, the board, fonts and elements reach the
// canvas stand-in, and the preview comes back as the renderer drew it, of the board's size, with
// codes that a scanner reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/e2eSession.h"
#include "tests/integration/labelRequests.h"
#include "tests/integration/pageChecks.h"
#include "tests/support/serviceFixture.h"

namespace {

using e2e::envelope;
using e2e::Message;
using e2e::object;

const char* const kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class Drawing : public kvtest::ServiceTest {
protected:
    void SetUp() override {
        startService();
        ASSERT_TRUE(client.connect());
    }

    // initSdk and a 50 x 30 mm board, each answered with its success text.
    void startBoard(int rotate = 0) {
        EXPECT_EQ(session.askText("initSdk"), envelope("initSdk", 0, "initSdkApi ok!", 0));
        EXPECT_EQ(session.askText("InitDrawingBoard", e2e::boardParameter(rotate)),
                  envelope("InitDrawingBoard", 0, "init draw board success!", 0));
    }

    void drawTypicalLabel() {
        for (const auto& [apiName, parameter] : e2e::labelElementRequests(e2e::blackPicture())) {
            EXPECT_EQ(session.askText(apiName, parameter), envelope(apiName, 0, e2e::elementSuccessInfo(apiName), 0));
        }
    }

    // A preview at that scale (none: the default), answered with result 0.
    Message preview(const Json::Value& displayScale = Json::Value()) {
        Json::Value topLevel(Json::objectValue);
        if (!displayScale.isNull()) topLevel["displayScale"] = displayScale;
        const std::optional<Message> answer = session.ask("generateImagePreviewImage", Json::Value(), topLevel);
        EXPECT_TRUE(answer) << "no preview answer";
        if (!answer) return {};
        EXPECT_EQ(answer->ack()["result"], Json::Value(0)) << answer->text.substr(0, 300);
        EXPECT_EQ(answer->ack()["errorCode"], Json::Value(0));
        return *answer;
    }

    kvtest::WsTestClient client;
    e2e::Session session{client};
};

TEST_F(Drawing, InitSdkBoardAndFontThenAPreviewOfTheBoardsSizeAtEachScale) {
    startBoard();
    EXPECT_EQ(session.askText("setFont", object({{"fontPath", ""}, {"fontLibrary", kDejaVuSans},
                                                 {"fontFamily", "DejaVu Sans"}})),
              envelope("setFont", 0, "set font ok!", 0));

    struct Case {
        Json::Value displayScale;
        int width, height;
    };
    const Case cases[] = {{Json::Value(), 400, 240}, {12, 600, 360}, {2.5, 125, 75}};
    for (const Case& c : cases) {
        SCOPED_TRACE("displayScale " + e2e::compact(c.displayScale));
        const Message answer = preview(c.displayScale);
        // The styled document travels as one JSON string, its line breaks and tabs escaped.
        EXPECT_NE(answer.text.find(R"("info":"{\n\t\"ImageData\" : \")"), std::string::npos)
            << answer.text.substr(0, 200);
        const rendertest::Image image = e2e::decodedPreview(answer);
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        EXPECT_EQ(rendertest::inkCount(image), 0) << "nothing was drawn";
    }

    // The renderer was asked for a preview (mode 1) at the bridge's scale, 8 from the printer.
    const std::vector<Json::Value> renders = e2e::traceArgs(service(), "generateDataFromPrintJson", "renderer");
    ASSERT_EQ(renders.size(), 3u);
    for (size_t i = 0; i < renders.size(); ++i) {
        EXPECT_EQ(renders[i][1], Json::Value(1));
        EXPECT_EQ(renders[i][2].asDouble(), 8.0);
    }
    EXPECT_EQ(renders[1][3].asDouble(), 12.0);
}

TEST_F(Drawing, ATypicalLabelPreviewsWithEveryElementWhereItWasDrawnAndItsCodesDecode) {
    startBoard();
    drawTypicalLabel();
    for (const double scale : {8.0, 12.0}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const Message answer = preview(scale);
        const std::vector<unsigned char> png = e2e::previewPng(answer);
        const std::optional<rendertest::Image> image = rendertest::decodePng(png);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, static_cast<int>(50 * scale));
        EXPECT_EQ(image->height, static_cast<int>(30 * scale));
        e2e::expectTypicalLabelInk(*image, scale);
        EXPECT_EQ(rendertest::scanCodes(png, "e2e_label_" + std::to_string(static_cast<int>(scale))),
                  (std::vector<std::string>{e2e::kBarcodeValue, e2e::kQrValue}));
    }
    // Every label text and image the libraries handed out went back to them, once.
    const std::vector<Json::Value> texts = e2e::traceArgs(service(), "freeData", "canvas");
    const std::vector<Json::Value> images = e2e::traceArgs(service(), "vFree", "renderer");
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_EQ(images.size(), 2u);
    for (const Json::Value& args : texts) EXPECT_EQ(args, e2e::parseJson("[true]"));
    for (const Json::Value& args : images) EXPECT_EQ(args, e2e::parseJson("[true]"));
}

TEST_F(Drawing, PreviewsRepeatExactlyAndANewBoardStartsBlank) {
    startBoard();
    drawTypicalLabel();
    const std::vector<unsigned char> first = e2e::previewPng(preview());
    const std::vector<unsigned char> second = e2e::previewPng(preview());
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, second);

    // The board is the label: a new one drops the elements drawn before it.
    ASSERT_EQ(session.askText("InitDrawingBoard", e2e::boardParameter()),
              envelope("InitDrawingBoard", 0, "init draw board success!", 0));
    const rendertest::Image blank = e2e::decodedPreview(preview());
    EXPECT_EQ(blank.width, 400);
    EXPECT_EQ(blank.height, 240);
    EXPECT_EQ(rendertest::inkCount(blank), 0);
}

TEST_F(Drawing, ElementsThatCannotBeDrawnAreStillAnsweredAndLeaveThePageAlone) {
    // Content its symbology cannot encode, a picture that does not decode, an unknown font, a
    // size of zero: each is answered as drawn, and the preview shows only the good element.
    startBoard();
    Json::Value ean = e2e::boxParameter({2, 2, 30, 10});
    ean["codeType"] = 13;
    ean["value"] = "not digits";
    Json::Value picture = e2e::boxParameter({34, 2, 10, 10});
    picture["imageData"] = "bm90IGEgcGljdHVyZQ==";
    Json::Value noSize = e2e::boxParameter({2, 14, 20, 8});
    noSize["value"] = "zero";
    noSize["fontSize"] = 0;
    Json::Value good = e2e::boxParameter({2, 22, 40, 6});
    good["value"] = "shown";
    good["fontFamily"] = "No Such Family";
    good["fontSize"] = 10;
    const std::vector<std::pair<std::string, Json::Value>> requests = {
        {"DrawLableBarCode", ean}, {"DrawLableImage", picture}, {"DrawLableText", noSize}, {"DrawLableText", good}};
    for (const auto& [apiName, parameter] : requests) {
        EXPECT_EQ(session.askText(apiName, parameter), envelope(apiName, 0, e2e::elementSuccessInfo(apiName), 0));
    }
    const rendertest::Image image = e2e::decodedPreview(preview());
    const std::optional<rendertest::Rect> ink = rendertest::inkBounds(image);
    ASSERT_TRUE(ink);
    EXPECT_TRUE(e2e::pixelRect({2, 22, 40, 6}, 8.0, 1).contains(*ink));
    EXPECT_TRUE(service().running());
}

}  // namespace
