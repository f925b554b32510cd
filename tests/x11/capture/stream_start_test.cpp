// A capture stream of the X11 backend started more than once, in turn and at once.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "platform/x11/screen_capture.h"
#include "tests/support/x11_fixture.h"

namespace {

std::optional<platform::ErrorObject> start(platform::SCStream& stream) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::optional<platform::ErrorObject> error;
    stream.startCapture([&](std::optional<platform::ErrorObject> e) {
        std::lock_guard lock(m);
        error = std::move(e);
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return done; }));
    return error;
}

TEST(X11StreamStart, ASecondStartAnswersAnErrorAndAFailedStartCanBeRetried) {
    ssptest::XServer x;
    ASSERT_TRUE(x.ok());
    ::setenv("DISPLAY", x.display().c_str(), 1);
    platform::SCContentFilter filter;
    filter.display = {0, 320, 200};
    platform::SCStreamConfiguration configuration;
    configuration.width = 320;
    configuration.height = 200;
    std::promise<std::vector<platform::SCDisplay>> shared;
    platform::x11::getShareableContent(false, true, [&](platform::Result<platform::SCShareableContent> r) {
        auto* c = std::get_if<platform::SCShareableContent>(&r);
        shared.set_value(c ? c->displays : std::vector<platform::SCDisplay>{});
    });
    std::vector<platform::SCDisplay> displays = shared.get_future().get();
    ASSERT_FALSE(displays.empty());
    filter.display.displayID = displays[0].displayID;

    auto stream = platform::x11::makeStream(filter, configuration);
    EXPECT_FALSE(start(*stream));
    std::optional<platform::ErrorObject> again = start(*stream);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->localizedDescription, "stream_already_running");

    auto raced = platform::x11::makeStream(filter, configuration);
    std::atomic<int> started{0}, refused{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&] { (start(*raced) ? refused : started)++; });
    for (auto& t : threads) t.join();
    EXPECT_EQ(started, 1);
    EXPECT_EQ(refused, 3);

    // A start that failed leaves the stream ready for another start, which fails the same way.
    platform::SCContentFilter nowhere = filter;
    nowhere.display.displayID = 987654;
    auto failing = platform::x11::makeStream(nowhere, configuration);
    std::optional<platform::ErrorObject> first = start(*failing);
    ASSERT_TRUE(first);
    std::optional<platform::ErrorObject> second = start(*failing);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->localizedDescription, first->localizedDescription);
}

}  // namespace
