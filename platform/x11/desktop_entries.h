// Application names as desktop environments show them: the `Name` of the application's desktop entry,
// found through the window's WM_CLASS, from the standard data folders.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::x11 {

// What the window tools need of one desktop entry.
struct DesktopEntry {
    std::string fileId;  // the desktop file ID without ".desktop" ("org.gnome.Nautilus", "kde-foo")
    std::string name;    // its unlocalised Name
    std::optional<std::string> startupWMClass;
};

// The [Desktop Entry] group of a desktop file: nothing unless it is an application with a Name that is
// not hidden (Hidden=true is a deleted entry). Escapes in values (\s \n \t \r \\) are decoded.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string fileId);

// The folders that hold applications' desktop entries, most important first: $XDG_DATA_HOME (default
// ~/.local/share), each of $XDG_DATA_DIRS (default /usr/local/share:/usr/share), then the flatpak
// exports and the snap folder when the list does not hold them; each with "/applications".
using EnvironmentLookup = std::function<const char*(const char*)>;
std::vector<std::filesystem::path> applicationFolders(const EnvironmentLookup& getenv);

// Every application entry of those folders. A file ID found in an earlier folder hides the same ID in
// the later ones; files in subfolders have IDs with "-" for "/" ("kde/foo.desktop" is "kde-foo").
// Only regular files are read.
std::vector<DesktopEntry> readDesktopEntries(const std::vector<std::filesystem::path>& folders);

// The name of the application whose window has this WM_CLASS: the entry whose StartupWMClass is the
// instance, then the class; else the entry whose file ID is the instance, then the class (exactly, then
// in any letter case, then as the last part of a reverse-DNS ID); else nothing.
std::optional<std::string> applicationName(const std::vector<DesktopEntry>& entries,
                                           std::string_view instance, std::string_view klass);

}  // namespace platform::x11
