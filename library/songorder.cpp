#include "library/songorder.h"

#include <QCollator>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <cstdlib>

namespace library {

namespace {

constexpr const char* kNames[] = {"name", "title", "artist", "language", "year", "recent"};

// What an entry is ordered by first: empty when it has none (it then follows the others).
std::string Group(const SongEntry& entry, SongOrder order) {
    switch (order) {
        case SongOrder::Title:
            return entry.strTitle.empty() ? entry.strName : entry.strTitle;
        case SongOrder::Artist:
            return entry.strArtist;
        case SongOrder::Language:
            return entry.strLanguage;
        case SongOrder::Year:
            return entry.strYear;
        case SongOrder::Name:  // the name alone, as the scan sorts
        case SongOrder::Recent:
            return {};
    }
    return {};
}

}  // namespace

std::string SongGroup(const SongEntry& entry, SongOrder order) {
    switch (order) {
        case SongOrder::Artist:
            return entry.strArtist;
        case SongOrder::Language:
            return entry.strLanguage;
        case SongOrder::Year: {
            const std::string year = entry.strYear.substr(0, 4);
            const bool digits =
                year.size() == 4 &&
                std::all_of(year.begin(), year.end(), [](char c) { return c >= '0' && c <= '9'; });
            return digits ? year : std::string();
        }
        case SongOrder::Name:
        case SongOrder::Title:
        case SongOrder::Recent:
            return {};
    }
    return {};
}

const char* SongOrderName(SongOrder order) { return kNames[static_cast<int>(order)]; }

std::optional<SongOrder> SongOrderFromName(std::string_view name) {
    for (const SongOrder order : kSongOrders)
        if (name == SongOrderName(order)) return order;
    return std::nullopt;
}

void OrderSongs(std::vector<int>& indices, const std::vector<SongEntry>& entries, SongOrder order,
                const std::function<int64_t(const SongEntry&)>& lastSungMs) {
    QCollator collator{QLocale(QLocale::Chinese, QLocale::China)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    struct Key {
        int index;
        bool bHas;               // has what the order goes by
        int64_t nNumber;         // the year, or the time last sung (negated: the latest first)
        QCollatorSortKey group;  // the title, artist or language
        QCollatorSortKey name;
        QString exact;
    };
    std::vector<Key> keys;
    keys.reserve(indices.size());
    for (const int index : indices) {
        const SongEntry& entry = entries[static_cast<std::size_t>(index)];
        const QString name = QString::fromStdString(entry.strName);
        const QString group = QString::fromStdString(Group(entry, order));
        int64_t number = 0;
        bool has = !group.trimmed().isEmpty();
        if (order == SongOrder::Year) {
            const std::string year = SongGroup(entry, order);  // "1999", of "1999-05-01" too
            has = !year.empty();
            number = has ? std::stoll(year) : 0;
        } else if (order == SongOrder::Recent) {
            number = lastSungMs ? -lastSungMs(entry) : 0;
            has = number < 0;
        }
        keys.push_back({index, has, number, collator.sortKey(group), collator.sortKey(name), name});
    }
    const bool byText =
        order == SongOrder::Title || order == SongOrder::Artist || order == SongOrder::Language;
    std::stable_sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        if (a.bHas != b.bHas) return a.bHas;
        if (a.bHas) {
            if (a.nNumber != b.nNumber) return a.nNumber < b.nNumber;
            if (byText)
                if (const int c = a.group.compare(b.group)) return c < 0;
        }
        if (const int c = a.name.compare(b.name)) return c < 0;
        return a.exact < b.exact;
    });
    for (std::size_t i = 0; i < keys.size(); ++i) indices[i] = keys[i].index;
}

}  // namespace library
