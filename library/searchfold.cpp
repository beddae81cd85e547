#include "library/searchfold.h"

namespace library {

namespace {

// The combining voiced and semi-voiced sound marks of kana: part of the letter, not an accent.
bool KanaMark(char32_t code) { return code == 0x3099 || code == 0x309A; }

bool PlainAscii(const QString& text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80) return false;
    return true;
}

}  // namespace

QString FoldForSearch(const QString& text) {
    // Plain ASCII only needs its case folded (most names of a collection).
    if (PlainAscii(text)) return text.toCaseFolded();
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString kept;
    kept.reserve(decomposed.size());
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        char32_t code = decomposed[i].unicode();
        qsizetype units = 1;
        if (decomposed[i].isHighSurrogate() && i + 1 < decomposed.size() &&
            decomposed[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(decomposed[i], decomposed[i + 1]);
            units = 2;
        }
        if (QChar::category(code) != QChar::Mark_NonSpacing || KanaMark(code))
            kept.append(decomposed.mid(i, units));
        i += units - 1;
    }
    return kept.normalized(QString::NormalizationForm_C).toCaseFolded();
}

QString SearchKey(const SongEntry& entry) {
    const bool titled = entry.kind == SongEntry::Kind::UltraStar && !entry.strTitle.empty();
    return FoldForSearch(
        QString::fromStdString(titled ? entry.strArtist + ' ' + entry.strTitle : entry.strName));
}

QStringList SearchWords(const QString& typed) {
    // Folded first: an ideographic space becomes a plain one, and any run of white space
    // separates two words.
    return FoldForSearch(typed).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool MatchesWords(const QString& key, const QStringList& words) {
    for (const QString& word : words)
        if (!key.contains(word)) return false;
    return true;
}

}  // namespace library
