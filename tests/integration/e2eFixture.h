// The fixture of the end-to-end tests: the service fixture plus one client session, and starts of
// the service with another scenario within one test (each in a work folder of its own, each
// checked for sanitizer reports when it is stopped).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/integration/e2eSession.h"
#include "tests/support/serviceFixture.h"

namespace e2e {

class E2eTest : public kvtest::ServiceTest {
protected:
    // Starts the service with the scenario (stopping one already running) and connects a new
    // client to it.
    void start(const std::string& scenario = "") {
        session.reset();
        client.reset();
        if (service_) {
            service_->stop();
            EXPECT_EQ(service_->sanitizerReport(), "") << "work folder: " << service_->workDir();
        }
        kvtest::ServiceOptions options = defaultOptions();
        if (++starts_ > 1) options.workDir = kvtest::freshWorkDir(options.workDir.substr(
                                                 options.workDir.rfind('/') + 1) + "." + std::to_string(starts_));
        options.scenario = scenario;
        startService(std::move(options));
        client = std::make_unique<kvtest::WsTestClient>();
        ASSERT_TRUE(client->connect());
        session = std::make_unique<Session>(*client);
    }

    // The answer text of a request of this test's client.
    std::string ask(const std::string& apiName, const Json::Value& parameter = Json::Value(),
                    const Json::Value& topLevel = Json::Value()) {
        return session->askText(apiName, parameter, topLevel);
    }

    std::unique_ptr<kvtest::WsTestClient> client;
    std::unique_ptr<Session> session;

private:
    int starts_ = 0;
};

}  // namespace e2e
