// A client session for the end-to-end tests and benchmarks: sends requests built from JSON
// values and takes the messages that come back, answers and pushed events alike, keeping every
// one it received so that a test can look at the events that arrived around an answer.
//
//     e2e::Session session(client);
//     std::optional<e2e::Message> answer = session.ask("startJob", parameterObject);
//     session.waitFor(e2e::isEvent("commitJob"));        // the next event not yet taken
//     session.received();                                 // everything, in arrival order
//
// No GoogleTest in here: the benchmarks use it too.
#pragma once

#include <json/json.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/serviceProcess.h"
#include "tests/support/wsTestClient.h"

namespace e2e {

using namespace std::chrono_literals;

// Long enough for a sanitizer build on a busy machine; nothing waits this long when all is well.
constexpr std::chrono::milliseconds kDeadline = 30s;

struct Message {
    std::string text;
    Json::Value json;  // null when the text is not JSON (the empty answer of a picture print)

    std::string apiName() const { return json.isObject() ? json["apiName"].asString() : std::string(); }
    const Json::Value& ack() const {
        return json.isObject() ? json["resultAck"] : Json::Value::nullSingleton();
    }
};

inline Json::Value parseJson(const std::string& text) {
    Json::Value value;
    if (!Json::Reader().parse(text, value)) return Json::Value();
    return value;
}

// Compact JSON text of a value, without the writer's trailing newline.
inline std::string compact(const Json::Value& value) {
    std::string text = Json::FastWriter().write(value);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// {"apiName": name, "parameter": parameter, ...topLevel}; no "parameter" when it is null.
inline std::string request(const std::string& apiName, const Json::Value& parameter = Json::Value(),
                           const Json::Value& topLevel = Json::Value()) {
    Json::Value root = topLevel.isObject() ? topLevel : Json::Value(Json::objectValue);
    root["apiName"] = apiName;
    if (!parameter.isNull()) root["parameter"] = parameter;
    return compact(root);
}

// The answer envelope as the service writes it, built by hand: keys in byte order, one line.
inline std::string envelope(const std::string& apiName, int result, const std::string& info, int errorCode) {
    Json::Value ack(Json::objectValue);
    ack["errorCode"] = errorCode;
    ack["info"] = info;
    ack["result"] = result;
    Json::Value root(Json::objectValue);
    root["apiName"] = apiName;
    root["resultAck"] = ack;
    return Json::FastWriter().write(root);
}

// Whether a message is pushed by a printer event rather than answering a request. Events use the
// names of operations too, so the shape tells them apart.
inline bool isEventMessage(const Message& m) {
    const std::string name = m.apiName();
    const Json::Value& ack = m.ack();
    if (!ack.isObject()) return false;
    if (name == "printStatus") return true;
    if (name == "getPrinterHighLevelInfo") return ack.isMember("callback");
    if (name == "updateFirmware") return !ack.isMember("result");
    if (name == "commitJob") {
        return !ack.isMember("result") || ack.isMember("cacheStatus") || ack["info"].asString() == "commitJob ok!";
    }
    return false;
}

using Predicate = std::function<bool(const Message&)>;

// The answer to a request of that name (not an event of the same name).
inline Predicate answerTo(const std::string& apiName) {
    return [apiName](const Message& m) { return m.apiName() == apiName && !isEventMessage(m); };
}
// An event message of that name.
inline Predicate isEvent(const std::string& apiName) {
    return [apiName](const Message& m) { return m.apiName() == apiName && isEventMessage(m); };
}

class Session {
public:
    explicit Session(kvtest::WsTestClient& client) : client_(client) {}

    bool send(const std::string& text) { return client_.sendText(text); }
    bool send(const std::string& apiName, const Json::Value& parameter, const Json::Value& topLevel = Json::Value()) {
        return send(request(apiName, parameter, topLevel));
    }

    // The first message not yet taken that matches, from those received so far or arriving
    // before the deadline; it is then taken. Messages passed over stay for later calls.
    std::optional<Message> waitFor(const Predicate& matches, std::chrono::milliseconds deadline = kDeadline) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        for (size_t i = 0;; ++i) {
            while (i == received_.size()) {
                const auto now = std::chrono::steady_clock::now();
                if (now >= until) return std::nullopt;
                std::optional<kvtest::WsMessage> next =
                    client_.receive(std::chrono::duration_cast<std::chrono::milliseconds>(until - now));
                if (!next) return std::nullopt;
                received_.push_back({next->text, parseJson(next->text)});
                taken_.push_back(false);
            }
            if (!taken_[i] && matches(received_[i])) {
                taken_[i] = true;
                return received_[i];
            }
        }
    }

    // Sends the request and waits for its answer.
    std::optional<Message> ask(const std::string& apiName, const Json::Value& parameter = Json::Value(),
                               const Json::Value& topLevel = Json::Value(),
                               std::chrono::milliseconds deadline = kDeadline) {
        if (!send(apiName, parameter, topLevel)) return std::nullopt;
        return waitFor(answerTo(apiName), deadline);
    }
    // The answer text of a request, or a text that no answer has when none came.
    std::string askText(const std::string& apiName, const Json::Value& parameter = Json::Value(),
                        const Json::Value& topLevel = Json::Value()) {
        const std::optional<Message> m = ask(apiName, parameter, topLevel);
        return m ? m->text : "<no answer to " + apiName + ">";
    }

    // Every message received so far, in arrival order.
    const std::vector<Message>& received() const { return received_; }
    std::vector<Message> receivedMatching(const Predicate& matches) const {
        std::vector<Message> out;
        for (const Message& m : received_) {
            if (matches(m)) out.push_back(m);
        }
        return out;
    }

private:
    kvtest::WsTestClient& client_;
    std::vector<Message> received_;
    std::vector<bool> taken_;
};

// Builds a JSON object from key and value pairs: object({{"count", 2}, {"printMode", 1}}).
inline Json::Value object(std::initializer_list<std::pair<const char*, Json::Value>> members) {
    Json::Value value(Json::objectValue);
    for (const auto& [key, member] : members) value[key] = member;
    return value;
}

// The arguments of every traced call of one export, in call order.
inline std::vector<Json::Value> traceArgs(const kvtest::ServiceProcess& service, const std::string& fn,
                                          const std::string& lib = "sdk") {
    std::vector<Json::Value> out;
    for (const Json::Value& line : service.traceLines(lib)) {
        if (line["fn"].asString() == fn) out.push_back(line["args"]);
    }
    return out;
}

}  // namespace e2e
