// The label as the renderer reads it from label JSON (docs/label-json.md). Reading never fails on
// a key: a key that is missing or of the wrong type keeps its default, so a label drawn by any
// client still renders what can be drawn.
#pragma once

#include <json/json.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kvrender {

// An element's box in millimetres; rotate in degrees clockwise about the box's centre.
struct Box {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
    int rotate = 0;
};

struct TextElement {
    std::string value;
    std::string fontFamily;
    double fontSize = 0.0;  // points
    int alignHorizontal = 0;
    int alignVertical = 0;
    int lineMode = 0;
    double letterSpacing = 0.0;  // mm
    double lineSpacing = 0.0;    // mm
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeThrough = false;
    int lineBreakMode = 1;
};

struct BarcodeElement {
    int codeType = 20;
    std::string value;
    double fontSize = 0.0;    // points
    double textHeight = 0.0;  // mm
    int textPosition = 0;
};

struct QrcodeElement {
    int codeType = 58;
    std::string value;
    int correctLevel = 2;
    std::optional<std::string> logoBase64;
    int logoPosition = 0;
    double logoScale = 0.2;
};

struct Dash {
    double dash = 0.0;  // mm
    double gap = 0.0;   // mm
};

struct LineElement {
    int lineType = 0;
    Dash dash;
};

struct GraphElement {
    int graphType = 1;
    double cornerRadius = 0.0;  // mm
    double lineWidth = 0.0;     // mm
    int lineType = 0;
    Dash dash;
};

struct ImageElement {
    std::string imageData;
    int mode = 1;
    double threshold = 127.0;
};

// An element of a type the renderer does not know: kept so that the order stays visible in tests.
struct UnknownElement {
    std::string type;
};

using ElementContent = std::variant<UnknownElement, TextElement, BarcodeElement, QrcodeElement, LineElement,
                                    GraphElement, ImageElement>;

struct Element {
    Box box;
    ElementContent content;
};

struct Label {
    double width = 0.0;
    double height = 0.0;
    int rotate = 0;
    std::vector<std::string> fontFiles;
    std::vector<Element> elements;
    // Every element must be drawn: one that cannot be makes the render fail (a picture printed
    // as the whole label, where a blank page would be reported as printed).
    bool strict = false;
};

// Reads label JSON. Empty when the text is not a JSON object; every other fault of the text is
// mended by the defaults.
std::optional<Label> readLabel(std::string_view text);

// The text as a JSON object; empty when it is not JSON or not an object.
std::optional<Json::Value> parseObject(std::string_view text);

// Reads one element object (also used for a single element given on its own).
Element readElement(const Json::Value& object);

// The typed readers: a finite JSON number; an integral number within int32; a string; a boolean.
// Anything else gives `fallback`.
double readNumber(const Json::Value& object, const char* key, double fallback);
int readInteger(const Json::Value& object, const char* key, int fallback);
std::string readString(const Json::Value& object, const char* key, const std::string& fallback);

}  // namespace kvrender
