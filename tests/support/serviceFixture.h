// A GoogleTest fixture for integration tests: starts the real service for one test in a fresh
// work folder named after the test, and at the end stops it and fails the test when the
// service's standard error holds a sanitizer report.
//
//     class MyTest : public kvtest::ServiceTest {};
//     TEST_F(MyTest, Something) {
//         startService(R"({"delayMs":{"pausePrint":500}})");   // optional scenario
//         kvtest::WsTestClient client;
//         ASSERT_TRUE(client.connect());
//         ...
//         service().traceCalls();                               // the SDK calls so far
//     }
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "tests/support/serviceProcess.h"
#include "tests/support/wsTestClient.h"

namespace kvtest {

class ServiceTest : public ::testing::Test {
protected:
    // The options startService uses: the work folder of this test, nothing else set.
    ServiceOptions defaultOptions() const {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        ServiceOptions options;
        options.workDir = freshWorkDir(std::string(info->test_suite_name()) + "." + info->name());
        return options;
    }

    // Starts the service and waits until it listens; the test fails when it does not.
    void startService(const std::string& scenario = "", std::map<std::string, std::string> environment = {}) {
        ServiceOptions options = defaultOptions();
        options.scenario = scenario;
        options.environment = std::move(environment);
        startService(std::move(options));
    }
    void startService(ServiceOptions options) {
        service_ = std::make_unique<ServiceProcess>(std::move(options));
        ASSERT_TRUE(service_->start()) << "the service did not start listening; its standard error:\n"
                                       << service_->stderrText();
    }

    ServiceProcess& service() { return *service_; }

    void TearDown() override {
        if (!service_) return;
        service_->stop();
        EXPECT_EQ(service_->sanitizerReport(), "") << "work folder: " << service_->workDir();
    }

    std::unique_ptr<ServiceProcess> service_;
};

}  // namespace kvtest
