// boardctl: load, dump or clear the sandbox pasteboard.
//   boardctl load [FILE|-]   replace the whole board with a description
//   boardctl dump            print the board as a description (data as base64)
//   boardctl clear           clear the board
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "platform/sandbox/board_format.h"

using namespace platform::sandbox;

namespace {

int fail(const std::string& message) {
    std::cerr << "boardctl: " << message << "\n";
    return 2;
}

int usage() {
    return fail("usage: boardctl load [FILE|-] | dump | clear");
}

std::optional<std::string> readInput(const std::string& file) {
    if (file == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string command = argv[1];
    if ((command == "load" && argc > 3) || (command != "load" && argc != 2)) return usage();
    if (command != "load" && command != "dump" && command != "clear") return usage();

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
    std::string file = argc == 3 ? argv[2] : "-";
    std::optional<std::string> text = readInput(file);
    if (!text) return fail("cannot read " + file);
    std::string error;
    std::optional<BoardDescription> description = parseBoardDescription(*text, error);
    if (!description) return fail(error);
    if (!loadBoard(*store, *description)) return fail("cannot write the pasteboard store");
    return 0;
}
