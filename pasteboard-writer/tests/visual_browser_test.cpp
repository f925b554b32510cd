// Opt-in (SSP_BROWSER_TEST=1, with /usr/bin/chromium installed): the HTML that "web-chat" writes is
// loaded by headless Chromium, and every image in it must decode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/sandbox_fixture.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

TEST(VisualBrowser, WebChatHtmlShowsEveryImage) {
    const char* optIn = std::getenv("SSP_BROWSER_TEST");
    if (!optIn || std::string(optIn) != "1" || !fs::exists("/usr/bin/chromium"))
        GTEST_SKIP() << "set SSP_BROWSER_TEST=1 and install chromium to run";

    ssptest::Sandbox sb;
    std::vector<std::string> paths;
    for (const char* sample :
         {"screenshot-editor.png", "sticker.webp", "photo.jpg", "badge.gif", "diagram.tiff", "icon.bmp"})
        paths.push_back(ssptest::sourcePath(std::string("samples/") + sample).string());
    auto r = sb.run(
        "clipforge", {},
        json({{"text", ""}, {"imagePaths", paths}, {"visualMode", true}, {"visualStrategy", "web-chat"}})
            .dump());
    ASSERT_EQ(r.status, 0) << r.out;
    std::string html;
    const json dump = sb.dumpBoard();
    for (const auto& rep : dump["items"][0]["reps"])
        if (rep["type"] == "public.html") html = rep["text"];
    ASSERT_FALSE(html.empty());

    // The written document, followed by a probe that records how many images decoded.
    const std::string probe =
        "<script>window.addEventListener('load',()=>{const i=[...document.images];"
        "document.body.setAttribute('data-decoded',i.filter(x=>x.complete&&x.naturalWidth>0).length+'/"
        "'+i.length);"
        "});</script>";
    fs::path page = sb.files() / "webchat.html";
    ssptest::writeFile(page, html + probe);

    ssptest::RunOptions options;
    options.args = {"--headless",
                    "--no-sandbox",
                    "--disable-gpu",
                    "--disable-background-networking",
                    "--disable-component-update",
                    "--disable-sync",
                    "--no-first-run",
                    "--user-data-dir=" + (sb.dir() / "profile").string(),
                    "--virtual-time-budget=5000",
                    "--dump-dom",
                    "file://" + page.string()};
    options.timeout = std::chrono::seconds(60);
    auto browser = ssptest::runProgram("/usr/bin/chromium", options);
    ASSERT_EQ(browser.status, 0) << browser.err;
    EXPECT_NE(browser.out.find("data-decoded=\"6/6\""), std::string::npos) << browser.out.substr(0, 300);
}

}  // namespace
