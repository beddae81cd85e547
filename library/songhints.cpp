#include "library/songhints.h"

#include <algorithm>
#include <map>

namespace library {

namespace {

constexpr const char* kDuet = "二重唱";

// The last count names of a folder path ("a/b/c", 2: "b/c"); the whole path when it has fewer.
std::string Tail(const std::string& folder, int count) {
    std::size_t start = folder.size();
    for (; count > 0; --count) {
        if (start == 0) return folder;
        const std::size_t slash = folder.rfind('/', start - 1);
        if (slash == std::string::npos) return folder;
        start = slash;
    }
    return folder.substr(start + 1);
}

// Hints for the entries of one name (at least two).
void HintGroup(const std::vector<const SongEntry*>& listed, const std::vector<std::size_t>& group,
               std::vector<std::string>& hints) {
    const auto duets = static_cast<std::size_t>(
        std::count_if(group.begin(), group.end(), [&](std::size_t i) { return listed[i]->bDuet; }));
    if (group.size() == 2 && duets == 1) {
        for (std::size_t i : group)
            if (listed[i]->bDuet) hints[i] = kDuet;
        return;
    }
    // Each entry's fewest last folder names that differ from those of every other of the name.
    for (std::size_t i : group) {
        const std::string& folder = listed[i]->strFolder;
        const int most = static_cast<int>(std::count(folder.begin(), folder.end(), '/')) + 1;
        std::string tail;
        for (int names = 1; names <= most; ++names) {
            tail = Tail(folder, names);
            if (std::none_of(group.begin(), group.end(), [&](std::size_t j) {
                    return j != i && Tail(listed[j]->strFolder, names) == tail;
                }))
                break;
        }
        hints[i] = listed[i]->bDuet ? std::string(kDuet) + " · " + tail : tail;
    }
}

}  // namespace

std::vector<std::string> TellApart(const std::vector<const SongEntry*>& listed) {
    std::vector<std::string> hints(listed.size());
    std::map<std::string, std::vector<std::size_t>> byName;
    for (std::size_t i = 0; i < listed.size(); ++i) byName[listed[i]->strName].push_back(i);
    for (const auto& [name, group] : byName)
        if (group.size() > 1) HintGroup(listed, group, hints);
    return hints;
}

}  // namespace library
