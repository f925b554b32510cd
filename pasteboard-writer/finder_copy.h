// Finder copies: the pasteboard as it looks after the user copies files in the Finder, so that targets
// which take dropped or pasted files take the images as files.
#pragma once

#include <string>
#include <vector>

#include "pasteboard-writer/visual_dispatch.h"
#include "platform/pasteboard.h"
#include "platform/value.h"

namespace clipforge {

// A file URL made from a path after resolving its symbolic links.
struct CanonicalFileURL {
    std::string path;            // the resolved, standardised path
    bool isDirectory = false;    // the resolved path exists and is a directory
    std::string absoluteString;  // "file://" and the percent-encoded path; a directory ends in "/"

    // The file's name as shown to the user: for a path through a symbolic link, the target's name.
    std::string lastPathComponent() const;
};

// Resolves symbolic links (as far as the path exists), marks existing directories, and removes "." and
// ".." components. A relative path is taken from the working directory.
CanonicalFileURL finderCanonicalFileURL(const std::string& path);

// The canonical file URL's string, with file:///var/ written as file:///private/var/.
std::string finderFileURLString(const std::string& path);

// FF FE, then the UTF-16 code units of the text, low byte first (surrogate pairs beyond U+FFFF).
// Bytes that are not valid UTF-8 stand as U+FFFD.
platform::Bytes finderFilenameListUtf16Data(const std::string& text);

// One item per file: its file URL; on the first item the companion text (trimmed; the names joined
// by carriage returns when nothing is left) and the UTF-16 name list; then the PDF bytes of a ".pdf"
// file, or the PNG bytes of any other file that has some.
StrategyOutcome writeFinderCopyItems(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths,
                                     const std::string& companionText);

// writeFinderCopyItems, then the Finder's board-level markers through the Carbon layer; the mode gains
// "+board-metadata" when those were attached.
StrategyOutcome writeFinderCopy(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths,
                                const std::string& companionText = "");

// One item listing every file: the canonical file URL strings and the names, as property lists.
StrategyOutcome writeFinderFileList(platform::Pasteboard& pb, const std::vector<std::string>& imagePaths);

// The whole Finder copy through the Carbon layer (ssp_write_finder_file_copy).
StrategyOutcome writeFinderCopyCarbon(const std::vector<std::string>& imagePaths);

}  // namespace clipforge
