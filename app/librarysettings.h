// The song folders the user added on the settings page (an UltraStar collection, for example),
// kept in the user's Qt settings file (organisation and application "Quorvel") beside the
// microphone settings. What is read is checked: a value that is not a list of folder paths gives
// no folders, and entries that are empty, relative, too long or repeated are dropped.
#pragma once

#include <string>
#include <vector>

class CLibrarySettings {
public:
    std::vector<std::string> folders;  // absolute paths, in the order they were added

    static CLibrarySettings Load();
    // Writes the settings; false when the file cannot be written.
    bool Save() const;

    // Adds a folder at the end (false when it is not absolute or is there already); removes one.
    bool Add(const std::string& folder);
    void Remove(const std::string& folder);

    static constexpr std::size_t kMostFolders = 100;
    static constexpr std::size_t kLongestPath = 4096;

    bool operator==(const CLibrarySettings&) const = default;
};
