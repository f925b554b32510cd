// clipforge: writes the payload read from standard input to the general pasteboard, either as one
// native item with every representation or through a named visual strategy, and answers one JSON line.
#include <sys/stat.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "pasteboard-writer/native_item.h"
#include "pasteboard-writer/payload.h"
#include "pasteboard-writer/visual_dispatch.h"
#include "platform/pasteboard.h"
#include "shared/last_answer.h"

using namespace clipforge;

namespace {

// Standard input to its end, or to one byte past the largest payload (which is then refused unread).
std::string readAll(std::FILE* in) {
    std::string data;
    char buf[65536];
    std::size_t n;
    while (data.size() <= kMaxPayloadBytes && (n = std::fread(buf, 1, sizeof buf, in)) > 0) data.append(buf, n);
    return data;
}

// The file manager's existence test: links are followed, a directory exists. A path with a zero byte
// inside names no file (the system call would see only the part before it, another file).
bool fileExistsAtPath(const std::string& path) {
    struct stat st;
    return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0;
}

int emit(const Result& result) {
    shared::emitJsonLine(resultJson(result));
    return result.ok ? 0 : 1;
}

int runNativePath(platform::Pasteboard& pb, const Payload& payload,
                  const std::vector<std::string>& imagePaths) {
    bool cursorMode = payload.cursorMode.value_or(false);
    platform::PasteboardItem item = buildNativeItem(payload.text, imagePaths, cursorMode);
    bool wrote = pb.writeObjects({item});
    std::vector<std::string> types = pb.types().value_or(std::vector<std::string>{});
    Result result;
    result.ok = wrote;
    result.types = types;
    if (wrote) {
        result.mode = imagePaths.empty() ? "text-only" : "native-unified";
    } else {
        result.error = "write_failed";
    }
    return emit(result);
}

int runVisualPath(platform::Pasteboard& pb, const Payload& payload,
                  const std::vector<std::string>& imagePaths, const std::string& visualStrategy) {
    if (imagePaths.size() < payload.imagePaths.size())
        shared::emitJsonLine(pathsFilteredWarning(payload.imagePaths.size(), imagePaths.size()),
                             shared::KeyOrder::AsAdded, stderr);
    StrategyOutcome outcome = writeVisualPayload(pb, imagePaths, visualStrategy, payload.text);
    Result result;
    result.ok = outcome.ok;
    result.types = pb.types().value_or(std::vector<std::string>{});
    if (!outcome.ok) result.error = "write_failed";
    result.mode = outcome.mode;
    auto items = pb.pasteboardItems();
    result.itemCount = items ? static_cast<std::int64_t>(items->size()) : 0;
    result.changeCount = pb.changeCount();
    return emit(result);
}

int run() {
    // 1. Read the payload and decode it; the pasteboard stays untouched when it does not decode.
    const std::string inputData = readAll(stdin);
    const std::optional<Payload> payload = decodePayload(inputData);
    if (!payload) {
        Result invalid;
        invalid.error = "invalid_json";
        return emit(invalid);
    }

    // 2. Clear the general pasteboard, on both paths, before anything is written.
    const std::unique_ptr<platform::Pasteboard> pb = platform::generalPasteboard();
    pb->clearContents();

    // 3. Keep the paths that exist, in order, duplicates included.
    std::vector<std::string> imagePaths;
    for (const auto& path : payload->imagePaths)
        if (fileExistsAtPath(path)) imagePaths.push_back(path);

    // 4. Write natively, or through the named strategy.
    const bool visualMode = payload->visualMode.value_or(false);
    const std::string visualStrategy = payload->visualStrategy.value_or("finder-copy");
    if (visualMode) return runVisualPath(*pb, *payload, imagePaths, visualStrategy);
    return runNativePath(*pb, *payload, imagePaths);
}

}  // namespace

int main() {
    return shared::runWithLastAnswer({"{\"ok\":false,\"types\":[],\"error\":\"write_failed\"}\n", 1}, run);
}
