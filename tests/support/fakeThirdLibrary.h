// A fake table of the two rendering libraries for unit tests: every entry records its call;
// "GenerateLableJson" hands out the label the test set, "generateDataFromPrintJson" a page of
// the size the test set (or nothing), and "vFree"/"freeData" take back what was handed out.
#pragma once

#include <json/json.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kvImageGallery/thirdLibraryApi.h"

struct FakeThirdCall {
    std::string name;
    Json::Value args;  // array
};

class FakeThirdLibrary {
public:
    static FakeThirdLibrary& instance();

    // A table whose entries are the fakes; forgets earlier calls and settings.
    std::unique_ptr<ThirdLibraryApi> makeTable();

    // What "GenerateLableJson" returns next (null when hasLabel is false).
    bool hasLabel = false;
    std::string label;
    // What "generateDataFromPrintJson" returns: a page of width × height, or null.
    bool renders = true;
    int pageWidth = 400;
    int pageHeight = 240;

    void record(const std::string& name, Json::Value args);
    std::vector<FakeThirdCall> calls() const;
    int callCount(const std::string& name) const;
    Json::Value lastArgs(const std::string& name) const;
    // Nothing handed out is still held by the caller.
    bool allGivenBack() const;
    int outstanding = 0;

private:
    mutable std::mutex mutex_;
    std::vector<FakeThirdCall> calls_;
};
