// Reading what the end-to-end tests get back: the preview image inside a preview answer, the
// printed copies that the simulated printer writes to KVSIM_OUTPUT, and where the ink lies on
// them. Built on the renderer test harness (PNG decoding, zbarimg, ink counts).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/integration/e2eSession.h"
#include "tests/integration/labelRequests.h"
#include "tests/support/rendererHarness.h"
#include "tests/support/serviceProcess.h"

namespace e2e {

// The pixels of a box at a scale (pixels per millimetre), grown by a margin for rounding.
inline rendertest::Rect pixelRect(const BoxMm& box, double scale, int grow = 0) {
    return rendertest::Rect{static_cast<int>(box.x * scale) - grow, static_cast<int>(box.y * scale) - grow,
                            static_cast<int>((box.x + box.width) * scale + 0.999) + grow,
                            static_cast<int>((box.y + box.height) * scale + 0.999) + grow};
}

// The PNG bytes inside a preview answer; empty (and a failure) when the answer is not one.
inline std::vector<unsigned char> previewPng(const Message& answer) {
    const Json::Value info = parseJson(answer.ack()["info"].asString());
    EXPECT_TRUE(info.isObject()) << answer.text.substr(0, 300);
    if (!info.isObject()) return {};
    EXPECT_EQ(info.getMemberNames(), (std::vector<std::string>{"ImageData", "errorCode", "errorInfo"}));
    EXPECT_EQ(info["errorCode"], Json::Value(0));
    EXPECT_EQ(info["errorInfo"], Json::Value(""));
    return rendertest::fromBase64(info["ImageData"].asString());
}

inline rendertest::Image decodedPreview(const Message& answer) {
    const std::optional<rendertest::Image> image = rendertest::decodePng(previewPng(answer));
    EXPECT_TRUE(image) << "the preview's ImageData is not a PNG";
    return image.value_or(rendertest::Image{});
}

// A printed copy: a binary PBM (P4) read back as a grey image, ink black.
inline std::optional<rendertest::Image> readPbm(const std::string& path) {
    const std::string file = kvtest::readFile(path);
    int width = 0, height = 0, consumed = 0;
    if (std::sscanf(file.c_str(), "P4\n%d %d\n%n", &width, &height, &consumed) != 2 || consumed == 0) {
        return std::nullopt;
    }
    rendertest::Rendered rows;
    rows.width = width;
    rows.height = height;
    rows.data.assign(file.begin() + consumed, file.end());
    if (rows.data.size() != static_cast<size_t>((width + 7) / 8) * height) return std::nullopt;
    return rendertest::unpack(rows);
}

// The image as PNG bytes, for zbarimg.
inline std::vector<unsigned char> toPng(const rendertest::Image& image) {
    return rendertest::fromBase64(
        rendertest::pngBase64(image.width, image.height, [&](int x, int y) { return image.at(x, y); }));
}

// The files in the printer's output folder, sorted (so in print order).
inline std::vector<std::string> printedFiles(const kvtest::ServiceProcess& service) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(service.workDir() + "/output", ec)) {
        files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A black picture for the label's image element.
inline std::string blackPicture(int width = 32, int height = 24) {
    return rendertest::pngBase64(width, height, [](int, int) { return 0; });
}

// Ink of the typical label at a scale: some inside each element's box, none outside them all.
inline void expectTypicalLabelInk(const rendertest::Image& page, double scale) {
    const std::pair<const char*, BoxMm> boxes[] = {{"text", kTextBox},   {"barcode", kBarcodeBox},
                                                   {"qrcode", kQrBox},   {"line", kLineBox},
                                                   {"rectangle", kRectangleBox}, {"image", kImageBox}};
    int inside = 0;
    for (const auto& [name, box] : boxes) {
        const int ink = rendertest::inkCount(page, pixelRect(box, scale));
        EXPECT_GT(ink, 0) << "no ink in the " << name << "'s box";
        inside += rendertest::inkCount(page, pixelRect(box, scale, 1));
    }
    // No two boxes overlap, so the ink within them adds up to all the ink on the page.
    EXPECT_EQ(inside, rendertest::inkCount(page)) << "ink outside the elements' boxes";
    // The picture is black all over.
    const rendertest::Rect image = pixelRect(kImageBox, scale, -1);
    EXPECT_EQ(rendertest::inkCount(page, image), (image.x1 - image.x0) * (image.y1 - image.y0));
}

}  // namespace e2e
