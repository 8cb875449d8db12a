// Printing over a real connection, against the simulated printer: a drawn label committed for two
// copies comes out of the printer as two pages of the label's size that show what was drawn, with
// progress events and the job's end; a label sent as print data; a picture print that answers
// after its copies, with the empty answer after a print error, or at once when its client leaves;
// a firmware upgrade and its progress events.
#include <gtest/gtest.h>

#include <boost/crc.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/integration/e2eFixture.h"
#include "tests/integration/labelRequests.h"
#include "tests/integration/pageChecks.h"

namespace {

using e2e::envelope;
using e2e::isEvent;
using e2e::Message;
using e2e::object;
using namespace std::chrono_literals;

const std::string kCommitted = envelope("commitJob", 0, "commitJobApi Success!", 0);
const std::string kJobFinished = envelope("commitJob", 0, "commitJob ok!", 0);

bool isProgress(const Message& m) { return isEvent("commitJob")(m) && m.ack().isMember("printCopies"); }
bool isJobFinished(const Message& m) { return m.text == kJobFinished; }

class Printing : public e2e::E2eTest {
protected:
    void connectUsb() {
        ASSERT_NE(ask("connetUsbPrinter", object({{"printerName", "KV-USB-01"}, {"port", 1}})).find("onConnectSuccess"),
                  std::string::npos);
    }

    void drawTypicalLabel(int rotate = 0) {
        ASSERT_EQ(ask("initSdk"), envelope("initSdk", 0, "initSdkApi ok!", 0));
        ASSERT_EQ(ask("InitDrawingBoard", e2e::boardParameter(rotate)),
                  envelope("InitDrawingBoard", 0, "init draw board success!", 0));
        for (const auto& [apiName, parameter] : e2e::labelElementRequests(e2e::blackPicture())) {
            ASSERT_EQ(ask(apiName, parameter), envelope(apiName, 0, e2e::elementSuccessInfo(apiName), 0));
        }
    }

    // Every printed copy, read back; fails the test for a file that is no page.
    std::vector<rendertest::Image> printedPages() {
        std::vector<rendertest::Image> pages;
        for (const std::string& file : e2e::printedFiles(service())) {
            const std::optional<rendertest::Image> page = e2e::readPbm(file);
            EXPECT_TRUE(page) << file << " is not a PBM page";
            if (page) pages.push_back(*page);
        }
        return pages;
    }
};

TEST_F(Printing, ADrawnLabelCommittedForTwoCopiesPrintsTwoPagesOfItWithProgressAndTheJobsEnd) {
    start(R"({"pageMs":30})");
    drawTypicalLabel();
    connectUsb();
    ASSERT_EQ(ask("startJob", object({{"printDensity", 6}, {"count", 1}})), envelope("startJob", 0, "startJob ok!", 0));
    // After "initSdk" the printer is asked for the density it will really use.
    EXPECT_EQ(e2e::traceArgs(service(), "resetPrintDensity"), std::vector<Json::Value>{e2e::parseJson("[6]")});
    // "cutline" of the request does not reach a drawn label's page.
    EXPECT_EQ(ask("commitJob", object({{"printerImageProcessingInfo",
                                        object({{"printQuantity", 2}, {"epc", "E200-4711"}, {"cutline", 1}})}})),
              kCommitted);
    EXPECT_EQ(ask("endJob"), envelope("endJob", 0, "endJob ok", 0));
    ASSERT_TRUE(session->waitFor(isJobFinished)) << "no end of the job";

    const std::vector<Json::Value> commits = e2e::traceArgs(service(), "commitJob");
    ASSERT_EQ(commits.size(), 1u);
    EXPECT_EQ(e2e::compact(commits[0][0]),
              R"({"cutline":0,"epc":"E200-4711","height":240,"imageSize":12000,"printQuantity":2,"width":400})");

    // Both copies reported, in order, before the job's end; the ribbon adds up 30 mm a copy.
    const std::vector<Message> progress = session->receivedMatching(isProgress);
    ASSERT_EQ(progress.size(), 2u);
    for (int copy = 1; copy <= 2; ++copy) {
        EXPECT_EQ(progress[copy - 1].text,
                  R"({"apiName":"commitJob","resultAck":{"errorCode":0,"info":"","onPrintEPCCodeCompleted":"E200-4711",)"
                  R"("onPrintPageCompleted":)" +
                      std::to_string(copy) + R"(,"onPrintPageLengthCompleted":)" + std::to_string(30 * copy) +
                      R"(.0,"printCopies":)" + std::to_string(copy) +
                      R"(,"printPages":1,"printQuantity":1,"time":0}})" + "\n");
    }
    EXPECT_TRUE(client->expectNothing(300ms)) << "more after the job's end";

    // The pages are the label at the printer's 8 dots a millimetre, as drawn.
    const std::vector<rendertest::Image> pages = printedPages();
    ASSERT_EQ(pages.size(), 2u);
    for (size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE("copy " + std::to_string(i + 1));
        EXPECT_EQ(pages[i].width, 400);
        EXPECT_EQ(pages[i].height, 240);
        e2e::expectTypicalLabelInk(pages[i], 8.0);
        EXPECT_EQ(pages[i].pixels, pages[0].pixels);
    }
    EXPECT_EQ(rendertest::scanCodes(e2e::toPng(pages[0]), "e2e_printed_page"),
              (std::vector<std::string>{e2e::kBarcodeValue, e2e::kQrValue}));
}

TEST_F(Printing, AJobOfThreePagesPrintsThemInOrderAndEndsOnce) {
    start(R"({"pageMs":20})");
    connectUsb();
    ASSERT_EQ(ask("startJob", object({{"count", 3}})), envelope("startJob", 0, "startJob ok!", 0));
    // Page n holds n blocks, so the printed pages tell which page they are.
    for (int page = 1; page <= 3; ++page) {
        std::vector<Json::Value> blocks;
        for (int i = 0; i < page; ++i) {
            Json::Value block = rendertest::element("graph", 1 + 5 * i, 1, 4, 4);
            block["graphType"] = 4;
            blocks.push_back(block);
        }
        EXPECT_EQ(ask("commitJob", object({{"printerImageProcessingInfo", object({{"printQuantity", 1}})},
                                           {"printData", e2e::parseJson(rendertest::label(20, 10, blocks))}})),
                  kCommitted);
    }
    ASSERT_TRUE(session->waitFor(isJobFinished));
    EXPECT_EQ(ask("endJob"), envelope("endJob", 0, "endJob ok", 0));
    EXPECT_TRUE(client->expectNothing(300ms)) << "a second end of the job";

    std::vector<int> pagesReported;
    for (const Message& m : session->receivedMatching(isProgress)) pagesReported.push_back(m.ack()["printPages"].asInt());
    EXPECT_EQ(pagesReported, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(session->receivedMatching(isJobFinished).size(), 1u);
    const std::vector<rendertest::Image> pages = printedPages();
    ASSERT_EQ(pages.size(), 3u);
    for (int page = 1; page <= 3; ++page) EXPECT_EQ(rendertest::inkCount(pages[page - 1]), page * 32 * 32);
}

TEST_F(Printing, TheBoardsRotationTurnsThePrintedPage) {
    start(R"({"pageMs":20})");
    drawTypicalLabel(90);
    connectUsb();
    // The board's orientation wins over the request's.
    ASSERT_EQ(ask("commitJob", object({{"printerImageProcessingInfo", object({{"printQuantity", 1}, {"orientation", 0}})}})),
              kCommitted);
    ASSERT_TRUE(session->waitFor(isJobFinished));
    const std::vector<rendertest::Image> pages = printedPages();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].width, 240);
    EXPECT_EQ(pages[0].height, 400);
    EXPECT_EQ(rendertest::scanCodes(e2e::toPng(pages[0]), "e2e_printed_turned"),
              (std::vector<std::string>{e2e::kBarcodeValue, e2e::kQrValue}));
}

TEST_F(Printing, ALabelSentAsPrintDataPrintsWithTheRequestsOrientationAndMargins) {
    start(R"({"pageMs":20})");
    connectUsb();
    ASSERT_EQ(ask("initImageProcessing"), envelope("initImageProcessing", 0, "initImageProcessing ok!", 0));
    // A 20 x 10 mm label with a filled 4 x 2 mm block at its top left corner.
    Json::Value block = rendertest::element("graph", 1, 1, 4, 2);
    block["graphType"] = 4;
    const Json::Value label = e2e::parseJson(rendertest::label(20, 10, {block}));
    struct Case {
        int orientation;
        int marginLeft;
        int width, height;
        rendertest::Rect ink;  // in pixels of the turned page
    };
    const Case cases[] = {
        {0, 0, 160, 80, {8, 8, 40, 24}},
        {180, 0, 160, 80, {120, 56, 152, 72}},
        {90, 0, 80, 160, {56, 8, 72, 40}},
        {0, 2, 160, 80, {24, 8, 56, 24}},
    };
    size_t printed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("orientation " + std::to_string(c.orientation) + ", left margin " + std::to_string(c.marginLeft));
        Json::Value margin(Json::arrayValue);
        margin.append(c.marginLeft);
        EXPECT_EQ(ask("commitJob",
                      object({{"printerImageProcessingInfo", object({{"printQuantity", 1}, {"orientation", c.orientation}})},
                              {"printData", label}}),
                      object({{"printerImageProcessingInfo", object({{"margin", margin}})}})),
                  kCommitted);
        ASSERT_TRUE(session->waitFor(isJobFinished));
        const std::vector<rendertest::Image> pages = printedPages();
        ASSERT_EQ(pages.size(), ++printed);
        const rendertest::Image& page = pages.back();
        EXPECT_EQ(page.width, c.width);
        EXPECT_EQ(page.height, c.height);
        const std::optional<rendertest::Rect> ink = rendertest::inkBounds(page);
        ASSERT_TRUE(ink);
        EXPECT_EQ(std::vector<int>({ink->x0, ink->y0, ink->x1, ink->y1}),
                  std::vector<int>({c.ink.x0, c.ink.y0, c.ink.x1, c.ink.y1}));
    }
}

TEST_F(Printing, FaultyUtf8IsOneReplacementCharacterInPrintDataInADrawnLabelAndInAnAnswer) {
    start();
    const std::string faulty = "\xC3" "AB-\xE4XYZ-tail-\xF0" "ABCDEF";
    const std::string repaired = "\xEF\xBF\xBD" "AB-\xEF\xBF\xBDXYZ-tail-\xEF\xBF\xBD" "ABCDEF";
    // A text frame must be valid UTF-8, so these go as binary frames; the faulty bytes stand in
    // for "@@" once the request is written, which this test's own writer would otherwise mangle.
    const auto askWithFaultyText = [&](const std::string& apiName, const Json::Value& parameter) {
        std::string text = e2e::request(apiName, parameter);
        for (size_t at; (at = text.find("@@")) != std::string::npos;) text.replace(at, 2, faulty);
        EXPECT_TRUE(client->sendBinary(text));
        const std::optional<Message> answer = session->waitFor(e2e::answerTo(apiName));
        return answer ? answer->text : "<no answer to " + apiName + ">";
    };
    // The text of the first element of the label that the renderer was given last.
    const auto renderedText = [&] {
        const std::vector<Json::Value> renders = e2e::traceArgs(service(), "generateDataFromPrintJson", "renderer");
        if (renders.empty()) return std::string("<not rendered>");
        return e2e::parseJson(renders.back()[0].asString())["elements"][0]["value"].asString();
    };

    EXPECT_NE(askWithFaultyText("connetUsbPrinter", object({{"printerName", "@@"}, {"port", 1}}))
                  .find(R"("printerName":"\ufffdAB-\ufffdXYZ-tail-\ufffdABCDEF")"),
              std::string::npos);

    const Json::Value job = object({{"printerImageProcessingInfo", object({{"printQuantity", 1}})}});
    const std::string notConnected = envelope("commitJob", -1, "printer disconnect", -4);
    Json::Value text = rendertest::element("text", 1, 1, 18, 5);
    text["value"] = "@@";
    Json::Value withPrintData = job;
    withPrintData["printData"] = e2e::parseJson(rendertest::label(20, 10, {text}));
    EXPECT_EQ(askWithFaultyText("commitJob", withPrintData), notConnected);
    EXPECT_EQ(renderedText(), repaired) << "print data";

    ASSERT_EQ(ask("initSdk"), envelope("initSdk", 0, "initSdkApi ok!", 0));
    ASSERT_EQ(ask("InitDrawingBoard", object({{"width", 20}, {"height", 10}})),
              envelope("InitDrawingBoard", 0, "init draw board success!", 0));
    Json::Value drawn = e2e::boxParameter({1, 1, 18, 5});
    drawn["value"] = "@@";
    EXPECT_EQ(askWithFaultyText("DrawLableText", drawn), envelope("DrawLableText", 0, "DrawLableText success!", 0));
    EXPECT_EQ(ask("commitJob", job), notConnected);
    EXPECT_EQ(renderedText(), repaired) << "drawn label";
}

TEST_F(Printing, CommitsThatCannotPrintAreAnsweredAndReachNoPrinter) {
    start();
    // Not connected: the printer refuses the page.
    Json::Value box = rendertest::element("graph", 1, 1, 4, 2);
    const Json::Value label = e2e::parseJson(rendertest::label(20, 10, {box}));
    const Json::Value job = object({{"printQuantity", 1}});
    EXPECT_EQ(ask("commitJob", object({{"printerImageProcessingInfo", job}, {"printData", label}})),
              envelope("commitJob", -1, "printer disconnect", -4));
    const size_t refusedByPrinter = e2e::traceArgs(service(), "commitJob").size();
    EXPECT_EQ(refusedByPrinter, 1u);

    connectUsb();
    struct Case {
        const char* name;
        Json::Value parameter;
        std::string answer;
    };
    const Case cases[] = {
        {"no job information", object({{"printData", label}}), envelope("commitJob", -1, "parameter json error", 26)},
        {"empty job information", object({{"printerImageProcessingInfo", Json::Value(Json::objectValue)}, {"printData", label}}),
         envelope("commitJob", -1, "parameter json error", 26)},
        {"a copy count as text", object({{"printerImageProcessingInfo", object({{"printQuantity", "2"}})}, {"printData", label}}),
         envelope("commitJob", -1, "parameter json error", 26)},
        {"no label", object({{"printerImageProcessingInfo", job}}), envelope("commitJob", -1, "parameter json error", 26)},
        {"a label of no size", object({{"printerImageProcessingInfo", job}, {"printData", e2e::parseJson(R"({"width":0})")}}),
         envelope("commitJob", -1, "parameter json error", 26)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ask("commitJob", c.parameter), c.answer);
    }
    EXPECT_EQ(e2e::traceArgs(service(), "commitJob").size(), refusedByPrinter);

    // Drawing mode with nothing drawn yet.
    ASSERT_EQ(ask("initSdk"), envelope("initSdk", 0, "initSdkApi ok!", 0));
    EXPECT_EQ(ask("commitJob", object({{"printerImageProcessingInfo", job}})),
              envelope("commitJob", -1, "you must draw label first!", 26));
    EXPECT_EQ(e2e::traceArgs(service(), "commitJob").size(), refusedByPrinter);
}

TEST_F(Printing, APicturePrintAnswersOnceItsCopiesArePrinted) {
    start(R"({"pageMs":30})");
    connectUsb();
    // 400 x 240 pixels at 8 dots a millimetre: a 50 x 30 mm label; black on its left half.
    const std::string picture = rendertest::pngBase64(400, 240, [](int x, int) { return x < 200 ? 0 : 255; });
    ASSERT_TRUE(session->send("picturePrint", object({{"printQuantity", 2}, {"printData", picture}})));
    const std::optional<Message> answer = session->waitFor(e2e::answerTo("picturePrint"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->text, envelope("picturePrint", 0, "commitJob ok!", 0));
    // The answer came after the copies: both were printed, the first one reported before it.
    const std::vector<rendertest::Image> pages = printedPages();
    EXPECT_EQ(pages.size(), 2u);
    ASSERT_FALSE(session->receivedMatching(isProgress).empty());
    EXPECT_EQ(session->receivedMatching(isProgress).front().ack()["printCopies"], Json::Value(1));
    for (const rendertest::Image& page : pages) {
        EXPECT_EQ(page.width, 400);
        EXPECT_EQ(page.height, 240);
        EXPECT_EQ(rendertest::inkCount(page, {0, 0, 200, 240}), 200 * 240);
        EXPECT_EQ(rendertest::inkCount(page, {200, 0, 400, 240}), 0);
    }
    const std::vector<Json::Value> boards = e2e::traceArgs(service(), "InitDrawingBoard", "canvas");
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(e2e::compact(boards[0]), R"([50.0,30.0,0,["ZT001.ttf"],1])");
}

// The printer reports each page's copies from 1, and a page outside a job is page 1 of a job of
// its own: the copies of a page committed before the picture are not the picture's.
TEST_F(Printing, APicturePrintCountsOnlyItsOwnCopiesNotThoseOfAPageBeforeIt) {
    start(R"({"pageMs":100})");
    connectUsb();
    Json::Value block = rendertest::element("graph", 1, 1, 4, 2);
    block["graphType"] = 4;
    const Json::Value threeCopies = object({{"printerImageProcessingInfo", object({{"printQuantity", 3}})},
                                            {"printData", e2e::parseJson(rendertest::label(20, 10, {block}))}});
    const Json::Value picture = object({{"printData", rendertest::pngBase64(80, 40, [](int, int) { return 0; })}});
    const auto isPicture = [](const rendertest::Image& page) { return page.width == 80; };

    ASSERT_EQ(ask("commitJob", threeCopies), kCommitted);
    ASSERT_EQ(ask("picturePrint", picture), envelope("picturePrint", 0, "commitJob ok!", 0));
    // Answered on the picture's copy, after the three before it: a close now would drop nothing.
    std::vector<rendertest::Image> pages = printedPages();
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_TRUE(isPicture(pages.back()));
    EXPECT_EQ(rendertest::inkCount(pages.back()), 80 * 40);

    // Copies that a stop dropped are not waited for: the picture's own copy ends the wait.
    ASSERT_EQ(ask("commitJob", threeCopies), kCommitted);
    ASSERT_EQ(ask("stopPrint"), R"({"apiName":"stopPrint","resultAck":{"errorCode":0,"info":"cancel success","result":"true"}})"
                                "\n");
    ASSERT_EQ(ask("picturePrint", picture), envelope("picturePrint", 0, "commitJob ok!", 0));
    pages = printedPages();
    EXPECT_TRUE(isPicture(pages.back()));
    EXPECT_EQ(std::count_if(pages.begin(), pages.end(), isPicture), 2);
}

TEST_F(Printing, APictureOfEachFormatPrintsAtItsOwnSize) {
    // Black on the left half; the label is the picture's size in millimetres at the bridge's
    // 8 dots a millimetre, cut to whole millimetres, and the page is that label at the printer's.
    const rendertest::Shade leftHalf = [](int x, int) { return x < 80 ? 0 : 255; };
    struct Case {
        const char* format;
        std::string picture;
        int width, height;
    };
    const Case cases[] = {
        {"PNG", rendertest::pngBase64(160, 80, leftHalf), 160, 80},
        {"JPEG", rendertest::jpegBase64(160, 80, leftHalf), 160, 80},
        {"BMP", rendertest::bmpBase64(160, 80, leftHalf), 160, 80},
        {"BMP stored top-down", rendertest::bmpBase64(160, 80, leftHalf, true), 160, 80},
        {"ICO", rendertest::icoBase64(160, 80, leftHalf), 160, 80},
        {"GIF", rendertest::gifBase64(160, 80, leftHalf), 160, 80},
        {"PNG of 167 x 87 pixels", rendertest::pngBase64(167, 87, leftHalf), 160, 80},
    };
    start(R"({"pageMs":20})");
    connectUsb();
    size_t printed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(ask("picturePrint", object({{"printData", c.picture}})), envelope("picturePrint", 0, "commitJob ok!", 0));
        const std::vector<rendertest::Image> pages = printedPages();
        ASSERT_EQ(pages.size(), ++printed);
        const rendertest::Image& page = pages.back();
        EXPECT_EQ(page.width, c.width);
        EXPECT_EQ(page.height, c.height);
        const int half = page.width / 2 * page.height;
        EXPECT_GT(rendertest::inkCount(page, {0, 0, page.width / 2 - 4, page.height}), (half - 4 * page.height) * 95 / 100);
        EXPECT_LT(rendertest::inkCount(page, {page.width / 2 + 4, 0, page.width, page.height}), half / 20);
    }
}

TEST_F(Printing, APicturePrintSizesTheLabelAtTheBridgesScaleAndRendersAtThePrinters) {
    // A 12 dots a millimetre printer: before "initSdk" the bridge still counts 8 dots a
    // millimetre when it sizes the label; afterwards it counts the printer's 12.
    start(R"({"pageMs":20,"multiple":12.0})");
    connectUsb();
    const std::string picture = rendertest::pngBase64(480, 240, [](int, int) { return 0; });
    ASSERT_EQ(ask("picturePrint", object({{"printData", picture}})), envelope("picturePrint", 0, "commitJob ok!", 0));
    ASSERT_EQ(ask("initSdk"), envelope("initSdk", 0, "initSdkApi ok!", 0));
    ASSERT_EQ(ask("picturePrint", object({{"printData", picture}})), envelope("picturePrint", 0, "commitJob ok!", 0));
    const std::vector<rendertest::Image> pages = printedPages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(std::vector<int>({pages[0].width, pages[0].height}), std::vector<int>({720, 360}));
    EXPECT_EQ(std::vector<int>({pages[1].width, pages[1].height}), std::vector<int>({480, 240}));
    EXPECT_EQ(rendertest::inkCount(pages[1]), 480 * 240);
}

TEST_F(Printing, APrintErrorDuringAPicturePrintGivesTheEmptyAnswerAfterTheErrorEvent) {
    start(R"({"pageMs":30,"printError":{"atCopy":2,"errorCode":2,"printState":2}})");
    connectUsb();
    const std::string picture = rendertest::pngBase64(160, 80, [](int x, int y) { return (x + y) % 7 == 0 ? 0 : 255; });
    ASSERT_TRUE(session->send("picturePrint", object({{"printQuantity", 3}, {"printData", picture}})));
    const std::optional<Message> error = session->waitFor(isEvent("commitJob"));
    ASSERT_TRUE(error);
    ASSERT_TRUE(isProgress(*error)) << error->text;
    // The error event and the empty answer, in either order: the wait may see the error before
    // the event's message is on its way.
    std::vector<std::string> texts;
    for (int i = 0; i < 2; ++i) {
        const std::optional<Message> next = session->waitFor([](const Message&) { return true; });
        ASSERT_TRUE(next);
        texts.push_back(next->text);
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "", R"({"apiName":"commitJob","resultAck":{"cacheStatus":"cancel","errorCode":2,)"
                             R"("info":"No paper","result":-1}})"
                             "\n"}));
    EXPECT_TRUE(service().waitForStderr("[ERROR]:updatePrintCount异常"));
    EXPECT_EQ(printedPages().size(), 1u);
    // The worker goes on.
    EXPECT_EQ(ask("getPrintMode"), envelope("getPrintMode", 1, "getPrintMode success", 0));
}

TEST_F(Printing, AClientLeavingDuringAPicturePrintEndsItsWaitAtOnce) {
    start(R"({"pageMs":30})");
    connectUsb();
    kvtest::WsTestClient other;
    ASSERT_TRUE(other.connect());
    const std::string picture = rendertest::pngBase64(80, 40, [](int, int) { return 0; });
    ASSERT_TRUE(session->send("picturePrint", object({{"printQuantity", 1000}, {"printData", picture}})));
    ASSERT_TRUE(session->waitFor(isProgress));
    // The departure ends the job and closes the printer: no further copy can come.
    ASSERT_TRUE(client->close());
    // Answered long before the wait's 30 s would have passed (under ThreadSanitizer in about 0.5 s).
    ASSERT_TRUE(other.sendText(R"({"apiName":"getSdkVersion"})"));
    const std::optional<kvtest::WsMessage> answer = other.receive(5s);
    ASSERT_TRUE(answer) << "held by the picture print's wait";
    EXPECT_NE(answer->text.find("\"apiName\":\"getSdkVersion\""), std::string::npos) << answer->text;
}

TEST_F(Printing, PicturePrintsThatCannotPrintAreAnsweredWithoutWaiting) {
    start();
    const std::string picture = rendertest::pngBase64(80, 40, [](int, int) { return 0; });
    struct Case {
        std::string name;
        Json::Value parameter;
        std::string answer;
    };
    std::vector<Case> cases = {
        {"no printer", object({{"printData", picture}}), envelope("picturePrint", -1, "printer disconnect", -4)},
        {"no picture", Json::Value(), envelope("picturePrint", -1, "parameter json error", 26)},
        {"not a picture", object({{"printData", "bm90IGEgcGljdHVyZQ=="}}),
         envelope("picturePrint", -1, "parameter json error", 26)},
        {"a copy count as text", object({{"printQuantity", "2"}, {"printData", picture}}),
         envelope("picturePrint", -1, "parameter json error", 26)},
        {"a picture that is no text", object({{"printData", object({{"png", picture}})}}),
         envelope("picturePrint", -1, "parameter json error", 26)},
    };
    // A picture that does not decode is refused before the printer, whatever size its header gives.
    for (const auto& [name, data] : rendertest::headerOnlyPictures()) {
        cases.push_back({name, object({{"printData", data}}), envelope("picturePrint", -1, "parameter json error", 26)});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ask("picturePrint", c.parameter), c.answer);
    }
    EXPECT_EQ(e2e::traceArgs(service(), "commitJob").size(), 1u) << "only the page the printer refused";
}

class Firmware : public e2e::E2eTest {
protected:
    // A firmware file of 3000 bytes in the work folder, under a name that needs percent escapes.
    std::string writeFirmware() {
        std::string data;
        for (int i = 0; i < 3000; ++i) data += static_cast<char>((i * 37) & 0xFF);
        std::ofstream(service().workDir() + "/fw image.bin", std::ios::binary) << data;
        boost::crc_32_type crc;
        crc.process_bytes(data.data(), data.size());
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", crc.checksum());
        return hex;
    }
    std::string encodedPath() const {
        std::string path = service_->workDir() + "/fw image.bin";
        std::string encoded;
        for (const char ch : path) encoded += ch == '/' ? std::string("%2F") : ch == ' ' ? "%20" : std::string(1, ch);
        return encoded;
    }

    // The "updateFirmware" events received, up to the one that ends the upgrade.
    std::vector<Message> upgradeEvents() {
        std::vector<Message> events;
        while (true) {
            const std::optional<Message> m = session->waitFor(isEvent("updateFirmware"));
            if (!m) break;
            events.push_back(*m);
            const Json::Value& ack = m->ack();
            if (ack["errorCode"] != 0 || ack["onUpdateFirmwareCompleted"] == 100) break;
        }
        return events;
    }

    static std::string progressEvent(int progress, int errorCode, const std::string& info) {
        return R"({"apiName":"updateFirmware","resultAck":{"errorCode":)" + std::to_string(errorCode) +
               R"(,"info":")" + info + R"(","onUpdateFirmwareCompleted":)" + std::to_string(progress) + "}}\n";
    }
};

TEST_F(Firmware, AnUpgradePushesItsProgressFromStartToEnd) {
    start();
    ASSERT_NE(ask("connetUsbPrinter", object({{"printerName", "KV-USB-01"}})).find("onConnectSuccess"), std::string::npos);
    const std::string crc = writeFirmware();
    EXPECT_EQ(ask("upgradeFirmware", object({{"fileName", encodedPath()}, {"strCrc", crc}, {"strSwVersion", "2.0.1"},
                                             {"strHwVersion", "HW"}})),
              envelope("upgradeFirmware", 0, "start upgrade firmware", 0));
    const std::vector<Json::Value> upgrades = e2e::traceArgs(service(), "upgradeFirmware");
    ASSERT_EQ(upgrades.size(), 1u);
    EXPECT_EQ(e2e::compact(upgrades[0][0]), R"({"crc":")" + crc + R"(","fileSize":3000,"swVersion":"2.0.1"})");

    const std::vector<Message> events = upgradeEvents();
    ASSERT_EQ(events.size(), 11u);
    for (int step = 0; step <= 10; ++step) EXPECT_EQ(events[step].text, progressEvent(step * 10, 0, "Success"));
}

TEST_F(Firmware, AnImageThatDoesNotMatchItsCrcIsRefusedByThePrinterThroughAnEvent) {
    start();
    ASSERT_NE(ask("connetUsbPrinter", object({{"printerName", "KV-USB-01"}})).find("onConnectSuccess"), std::string::npos);
    writeFirmware();
    EXPECT_EQ(ask("updateFirmware", object({{"fileName", encodedPath()}, {"strCrc", "00000000"}})),
              envelope("updateFirmware", 0, "start upgrade firmware", 0));
    const std::vector<Message> events = upgradeEvents();
    ASSERT_EQ(events.size(), 11u);
    EXPECT_EQ(events[9].text, progressEvent(90, 0, "Success"));
    EXPECT_EQ(events[10].text, progressEvent(90, 52, "firmware receive data timeout"));
}

TEST_F(Firmware, AFileThatCannotBeReadIsRefusedBeforeThePrinter) {
    start();
    ASSERT_NE(ask("connetUsbPrinter", object({{"printerName", "KV-USB-01"}})).find("onConnectSuccess"), std::string::npos);
    for (const Json::Value& parameter : {object({{"fileName", encodedPath()}}), object({}), object({{"fileName", ""}})}) {
        SCOPED_TRACE(e2e::compact(parameter));
        EXPECT_EQ(ask("upgradeFirmware", parameter), envelope("upgradeFirmware", -1, "firmware file error!", 26));
    }
    EXPECT_TRUE(e2e::traceArgs(service(), "upgradeFirmware").empty());
}

}  // namespace
