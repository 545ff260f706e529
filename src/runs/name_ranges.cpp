#include "runs/name_ranges.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <vector>

namespace {

struct Numbered {
    qulonglong value = 0;
    QStringView digits;
    bool padded() const { return digits.size() > 1 && digits.front() == u'0'; }
};

// The names of one stem, prefix and suffix around the last number.
struct Stem {
    QStringView prefix;
    QStringView suffix;
    std::vector<Numbered> numbers;
};

// One part of the folded text: a name without a number, or a stem.
struct Part {
    QStringView name;
    int stem = -1;
};

// A stem's prefix and suffix around the number.
struct StemKey {
    QStringView prefix;
    QStringView suffix;
    bool operator==(const StemKey& other) const {
        return prefix == other.prefix && suffix == other.suffix;
    }
};

size_t qHash(const StemKey& key, size_t seed = 0) {
    return qHashMulti(seed, key.prefix, key.suffix);
}

// Ranges of consecutive numbers that keep one way of writing them: all without padding,
// or all of one width.
QString foldedNumbers(std::vector<Numbered>& numbers) {
    std::sort(numbers.begin(), numbers.end(), [](const Numbered& a, const Numbered& b) {
        return a.value != b.value ? a.value < b.value : a.digits < b.digits;
    });
    QStringList ranges;
    for (size_t first = 0; first < numbers.size();) {
        qsizetype width = numbers[first].padded() ? numbers[first].digits.size() : 0;
        qsizetype minLength = numbers[first].digits.size();
        qsizetype maxLength = minLength;
        size_t last = first;
        while (last + 1 < numbers.size()) {
            const Numbered& next = numbers[last + 1];
            if (next.value != numbers[last].value + 1)
                break;
            const qsizetype length = next.digits.size();
            if (next.padded()) {
                if (width == 0 && (minLength != length || maxLength != length))
                    break;
                if (width != 0 && width != length)
                    break;
                width = length;
            } else if (width != 0 && width != length) {
                break;
            }
            minLength = std::min(minLength, length);
            maxLength = std::max(maxLength, length);
            ++last;
        }
        ranges += last == first
                      ? numbers[first].digits.toString()
                      : numbers[first].digits.toString() + u'-' + numbers[last].digits.toString();
        first = last + 1;
    }
    return ranges.join(u',');
}

}  // namespace

QString foldServerNames(const QStringList& names) {
    // Views into `names`, which outlives them: no name is copied until the text is made.
    std::vector<Part> parts;
    std::vector<Stem> stems;
    QHash<StemKey, int> stemOf;
    QSet<QStringView> seen;
    seen.reserve(names.size());
    for (const QString& name : names) {
        if (seen.contains(name))
            continue;
        seen.insert(name);
        qsizetype end = name.size();
        while (end > 0 && !name[end - 1].isDigit())
            --end;
        qsizetype begin = end;
        while (begin > 0 && name[begin - 1].isDigit())
            --begin;
        const QStringView digits = QStringView(name).mid(begin, end - begin);
        bool number = !digits.isEmpty() && digits.size() <= 18;
        const qulonglong value = number ? digits.toULongLong(&number) : 0;
        if (!number) {
            parts.push_back(Part{name});
            continue;
        }
        const StemKey key{QStringView(name).left(begin), QStringView(name).mid(end)};
        auto found = stemOf.constFind(key);
        if (found == stemOf.constEnd()) {
            found = stemOf.insert(key, static_cast<int>(stems.size()));
            stems.push_back(Stem{key.prefix, key.suffix, {}});
            parts.push_back(Part{QStringView(), *found});
        }
        stems[*found].numbers.push_back(Numbered{value, digits});
    }
    QStringList text;
    for (const Part& part : parts) {
        if (part.stem < 0) {
            text += part.name.toString();
            continue;
        }
        Stem& stem = stems[part.stem];
        if (stem.numbers.size() == 1) {
            text += stem.prefix.toString() + stem.numbers.front().digits.toString() +
                    stem.suffix.toString();
            continue;
        }
        text += stem.prefix.toString() + u'[' + foldedNumbers(stem.numbers) + u']' +
                stem.suffix.toString();
    }
    return text.join(QStringLiteral(", "));
}
