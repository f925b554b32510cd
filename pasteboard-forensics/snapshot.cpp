#include "pasteboard-forensics/snapshot.h"

#include <algorithm>

#include "pasteboard-forensics/finder.h"

namespace forensics {

bool Gathered::notePromised(const std::string& type) {
    if (!isPromisedFlavor(type)) return false;
    hasPromisedTypes = true;
    if (std::find(filePromiseTypes.begin(), filePromiseTypes.end(), type) == filePromiseTypes.end())
        filePromiseTypes.push_back(type);
    return true;
}

std::vector<RepresentationForensics> readBoardRepresentations(const std::vector<std::string>& boardTypes,
                                                              platform::Pasteboard& pasteboard,
                                                              Gathered& gathered) {
    std::vector<RepresentationForensics> reps;
    for (const std::string& type : boardTypes) {
        gathered.notePromised(type);
        Payload p = payload(type, nullptr, pasteboard);
        reps.push_back(forensicsRep(type, p, gathered.digests));
        gathered.identities.push_back(identityRep("board", type, p, gathered.digests));
    }
    return reps;
}

ItemForensics readItem(std::size_t index, const platform::PasteboardItem& item,
                       platform::Pasteboard& pasteboard, Gathered& gathered) {
    ItemForensics out;
    out.index = static_cast<std::int64_t>(index);
    const std::string scope = itemScope(index);
    out.types = item.types();
    sortNames(out.types);
    for (const std::string& type : out.types) {
        if (gathered.notePromised(type)) out.hasPromisedTypes = true;
        Payload p = payload(type, &item, pasteboard);
        out.representations.push_back(forensicsRep(type, p, gathered.digests));
        gathered.identities.push_back(identityRep(scope, type, p, gathered.digests));
        if (type == platform::NSPasteboardTypeFileURL && !out.fileUrl) {
            out.fileUrl = stringPreviewFromData(p.bytes ? *p.bytes : platform::Bytes());
        }
    }
    sortByType(out.representations);
    out.filenamesFromNSFilenames = filenamesFromItem(item);
    return out;
}

}  // namespace forensics
