#include "app/access_keys.h"

#include <vector>

namespace {

const QString kKeys = QStringLiteral("1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ");

bool IsDoubleByte(QChar c) { return c.unicode() > 0x7F; }

bool HasDoubleByte(const QString& caption)
{
    for (QChar c : caption)
        if (IsDoubleByte(c))
            return true;
    return false;
}

// Position of the marked key ("&X", not "&&") or -1.
qsizetype MarkedKeyIndex(const QString& caption)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] == u'&') {
            ++i;
            continue;
        }
        return i + 1;
    }
    return -1;
}

QChar KeyChar(QChar c)
{
    if (IsDoubleByte(c))
        return {};
    const QChar upper = c.toUpper();
    return kKeys.contains(upper) ? upper : QChar();
}

QString AppendKey(const QString& caption, QChar key)
{
    const QString mark = QStringLiteral("(&") + key + u')';
    if (caption.endsWith(QStringLiteral("...")))
        return caption.left(caption.size() - 3) + mark + QStringLiteral("...");
    return caption + mark;
}

struct Choice {
    qsizetype position = -1;  // index in the caption of the key character
    QChar key;
};

}  // namespace

QChar AccessKeyOf(const QString& caption)
{
    const qsizetype i = MarkedKeyIndex(caption);
    return i < 0 ? QChar() : caption[i].toUpper();
}

QStringList AssignAccessKeys(const QStringList& captions)
{
    const qsizetype n = captions.size();
    QString reserved;
    std::vector<qsizetype> open;  // items without a marked key, last to first
    for (qsizetype i = n - 1; i >= 0; --i) {
        const QChar key = AccessKeyOf(captions[i]);
        if (!key.isNull())
            reserved += key;
        else if (!captions[i].isEmpty())
            open.push_back(i);
    }

    // Each run gives keys in the current order; items left without one go to the end of the
    // order for the next run. The first run that keys the most items wins.
    std::vector<Choice> best(n);
    qsizetype bestCount = -1;
    std::vector<qsizetype> order = open;
    for (size_t run = 0; run < std::max<size_t>(open.size(), 1); ++run) {
        QString taken = reserved;
        std::vector<Choice> choice(n);
        qsizetype count = 0;
        std::vector<qsizetype> keyed, unkeyed;
        for (qsizetype item : order) {
            const QString& caption = captions[item];
            for (qsizetype p = 0; p < caption.size(); ++p) {
                const QChar key = KeyChar(caption[p]);
                if (!key.isNull() && !taken.contains(key)) {
                    taken += key;
                    choice[item] = {p, key};
                    ++count;
                    break;
                }
            }
            (choice[item].key.isNull() ? unkeyed : keyed).push_back(item);
        }
        if (count > bestCount) {
            bestCount = count;
            best = choice;
        }
        order = keyed;
        order.insert(order.end(), unkeyed.begin(), unkeyed.end());
    }

    QString taken = reserved;
    for (const Choice& c : best)
        if (!c.key.isNull())
            taken += c.key;

    QStringList result = captions;
    for (qsizetype item : open) {
        const Choice& c = best[item];
        if (c.key.isNull())
            continue;
        if (HasDoubleByte(captions[item]))
            result[item] = AppendKey(captions[item], c.key);
        else
            result[item] = captions[item].left(c.position) + u'&' + captions[item].mid(c.position);
    }
    // Items still without a key, in menu order, take the last free key of the set.
    for (qsizetype item = 0; item < n; ++item) {
        if (captions[item].isEmpty() || !AccessKeyOf(result[item]).isNull())
            continue;
        QChar key;
        for (qsizetype k = kKeys.size() - 1; k >= 0; --k) {
            if (!taken.contains(kKeys[k])) {
                key = kKeys[k];
                break;
            }
        }
        if (key.isNull())
            break;
        taken += key;
        if (HasDoubleByte(captions[item]))
            result[item] = AppendKey(captions[item], key);
    }
    return result;
}
