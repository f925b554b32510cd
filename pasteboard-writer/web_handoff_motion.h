// Strategies shaped for particular targets: a chat page in a browser, the universal clipboard, a
// file-and-image pair per file, and a movie copy. None of them clears the pasteboard.
#pragma once

#include <string>
#include <vector>

#include "pasteboard-writer/visual_dispatch.h"
#include "platform/pasteboard.h"

namespace clipforge {

// One item: the HTML document with every readable image under its caption, the canonical file URLs and
// the names as property lists, and the first file's PNG bytes.
StrategyOutcome writeWebChatPayload(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths);

// Image-only items, PNG and TIFF, one per readable image.
StrategyOutcome writeUniversalHandoff(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths);

// Per file a file item (its canonical file URL) and, when the image is readable, an image item right
// after it.
StrategyOutcome writeDualLaneItems(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths);
// The same operation under its second name.
StrategyOutcome writeDualHandoffItems(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths);

// The first file as movie data ("public.movie", "public.mpeg-4") with its file URL; later paths ignored.
StrategyOutcome writeMotionCopy(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths);

}  // namespace clipforge
