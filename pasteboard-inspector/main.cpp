// clippeek: reports in one JSON line what the general pasteboard holds. Exits with 0, or with 1 when
// the pasteboard cannot be read at all (the answer then describes an empty board and says so).
#include "pasteboard-inspector/inspector.h"
#include "shared/last_answer.h"
#include "shared/pasteboard_file_paths.h"

using namespace clippeek;

namespace {

// The answer when the pasteboard cannot be read, or when the run fails on its way.
constexpr const char* kUnavailableAnswer =
    "{\"changeCount\":0,\"itemCount\":0,\"types\":[],\"filePaths\":[],\"hasEmbeddedPngOnly\":false,"
    "\"hasPromisedTypes\":false,\"items\":[],\"error\":\"pasteboard_unavailable\"}\n";

std::optional<std::string> unavailableError(bool available) {
    if (available) return std::nullopt;
    return "pasteboard_unavailable";
}

int run() {
    // 1. The general pasteboard and its types.
    const std::unique_ptr<platform::Pasteboard> pb = platform::generalPasteboard();
    const bool available = pb->available();
    const std::vector<std::string> types = pb->types().value_or(std::vector<std::string>{});

    // 2. The files it refers to, and PNG data without any file behind it.
    const std::vector<std::string> filePaths = shared::filePathsFromPasteboard(*pb);
    const bool hasEmbeddedPngOnly = !pngTypes(types).empty() && filePaths.empty();

    // 3. Items: their count (the file paths when the pasteboard answers no item list), promises, details.
    const auto items = pb->pasteboardItems();
    const auto itemCount = static_cast<std::int64_t>(items ? items->size() : filePaths.size());
    const bool hasPromised = hasPromisedTypesOnPasteboard(items);

    // 4. Answer.
    const Result result{.changeCount = pb->changeCount(),
                        .itemCount = itemCount,
                        .types = types,
                        .filePaths = filePaths,
                        .hasEmbeddedPngOnly = hasEmbeddedPngOnly,
                        .hasPromisedTypes = hasPromised,
                        .items = itemDetails(items),
                        .error = unavailableError(available)};
    shared::emitJsonLine(resultJson(result));
    return available ? 0 : 1;
}

}  // namespace

int main() {
    return shared::runWithLastAnswer({kUnavailableAnswer, 1}, run);
}
