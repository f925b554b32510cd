// boardctl: load, dump or clear the sandbox pasteboard (with --x11: the board of the display's
// pasteboard server).
//   boardctl [--x11] load [FILE|-]   replace the whole board with a description
//   boardctl [--x11] dump            print the board as a description (data as base64)
//   boardctl [--x11] clear           clear the board
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sandbox/board_format.h"
#if SSP_BOARDCTL_X11
#include "platform/x11/board_control.h"
#endif

using namespace platform::sandbox;

namespace {

int fail(const std::string& message) {
    std::cerr << "boardctl: " << message << "\n";
    return 2;
}

int usage() {
    return fail("usage: boardctl [--x11] load [FILE|-] | dump | clear");
}

#if SSP_BOARDCTL_X11
int onDisplay(const std::string& command, const std::string& description) {
    return platform::x11::controlBoard(command, description);
}
#else
int onDisplay(const std::string&, const std::string&) {
    return fail("this build has no X11 backend");
}
#endif

std::optional<std::string> readInput(const std::string& file) {
    if (file == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int run(int argc, char** argv) {
    const bool x11 = argc > 1 && std::string(argv[1]) == "--x11";
    const std::vector<std::string> args(argv + (x11 ? 2 : 1), argv + argc);
    if (args.empty()) return usage();
    const std::string& command = args[0];
    if ((command == "load" && args.size() > 2) || (command != "load" && args.size() != 1)) return usage();
    if (command != "load" && command != "dump" && command != "clear") return usage();

    std::string file = args.size() == 2 ? args[1] : "-";
    std::optional<std::string> text;
    if (command == "load" && !(text = readInput(file))) return fail("cannot read " + file);
    if (x11) return onDisplay(command, text.value_or(""));

    std::optional<Store> store = Store::open();
    if (!store) return fail("cannot open the pasteboard store");

    if (command == "dump") {
        std::optional<Board> board = store->read();
        if (!board) return fail("cannot read the pasteboard store");
        std::cout << describeBoard(*board).dump(2) << "\n";
        return 0;
    }
    if (command == "clear") {
        bool ok =
            store->write([](sqlite3* db) { return Store::clearBoard(db) && Store::bumpChangeCount(db); });
        return ok ? 0 : fail("cannot write the pasteboard store");
    }
    std::string error;
    std::optional<BoardDescription> description = parseBoardDescription(*text, error);
    if (!description) return fail(error);
    if (!loadBoard(*store, *description)) return fail("cannot write the pasteboard store");
    return 0;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("boardctl: out of memory\n", stderr);
    } catch (...) {
        std::fputs("boardctl: unexpected failure\n", stderr);
    }
    return 2;
}
