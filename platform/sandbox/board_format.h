// Loading a board description into the sandbox's store.
#pragma once

#include "platform/board_format.h"
#include "platform/sandbox/store.h"

namespace platform::sandbox {

using platform::BoardDescription;
using platform::describeBoard;
using platform::parseBoardDescription;

// Replaces the whole board with the description, in one transaction.
bool loadBoard(Store& store, const BoardDescription& description);

}  // namespace platform::sandbox
