// A fake library table for the drawing bridge: every entry is a captureless function that records
// its call (name and arguments as JSON: floats as their double value, texts as strings, null
// pointers as null, the font files, style flags, dash pattern, margin and colour as arrays) and
// answers what the test set. Memory it hands out (label texts, rendered records) is tracked, so a
// test can tell that everything came back through freeData and vFree.
#pragma once

#include <json/json.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kvImageGallery/thirdLibraryApi.h"

struct FakeLibraryCall {
    std::string name;
    Json::Value args;  // array
};

class FakeThirdLibrary {
public:
    static FakeThirdLibrary& instance();

    // A table whose every entry is a fake; forgets every call and setting first.
    static std::unique_ptr<ThirdLibraryApi> makeTable();
    void reset();

    // What "GenerateLableJson" hands out next; null when unset.
    std::optional<std::string> labelJson;
    // The record "generateDataFromPrintJson" hands out: these bytes, or null when unset.
    std::optional<std::string> imageBytes;
    // A record whose data pointer is null (checked before imageBytes).
    bool imageWithoutData = false;

    std::vector<FakeLibraryCall> calls;
    std::vector<std::string> callNames() const;
    int callCount(const std::string& name) const;
    // The arguments of the last call of an export (null when it was not called).
    Json::Value lastArgs(const std::string& name) const;
    // Every text and record handed out came back.
    bool allGivenBack() const { return texts.empty() && images.empty(); }

    // ---- used by the fakes ----
    void record(const char* name, Json::Value args) { calls.push_back({name, std::move(args)}); }
    std::set<char*> texts;
    std::set<RenderedImage*> images;
};
