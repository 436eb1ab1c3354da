#include "assemble.h"

namespace Exchange {

void CardAssembler::clear() {
    m_card = Card();
    m_notes.clear();
    m_rank.fill(0);
    m_label.fill(QString());
}

void CardAssembler::placeRanked(Field field, const QString& value, int rank, const QString& label) {
    if (value.isEmpty())
        return;
    const std::size_t i = std::size_t(field);
    QString& held = m_card[field];
    if (!held.isEmpty() && rank > m_rank[i])
        displace(field); // a work or preferred one takes the column
    if (held.isEmpty()) {
        held = value;
        m_rank[i] = rank;
        m_label[i] = label;
    } else {
        note(label.isEmpty() ? columnText(field) : label, value);
    }
}

void CardAssembler::place(Field field, const QString& value) {
    if (value.isEmpty())
        return;
    if (m_card[field].isEmpty())
        m_card[field] = value;
    else
        note(columnText(field), value);
}

void CardAssembler::note(const QString& label, const QString& value) {
    if (!value.isEmpty())
        m_notes << label + QStringLiteral(": ") + value;
}

Card CardAssembler::take() {
    if (!m_notes.isEmpty()) {
        QString& notes = m_card[Field::Notes];
        if (!notes.isEmpty())
            notes += QLatin1Char('\n');
        notes += m_notes.join(QLatin1Char('\n'));
    }
    Card card = m_card;
    clear();
    return card;
}

void CardAssembler::displace(Field field) {
    const std::size_t i = std::size_t(field);
    QString& held = m_card[field];
    note(m_label[i].isEmpty() ? columnText(field) : m_label[i], held);
    held.clear();
    m_rank[i] = 0;
    m_label[i].clear();
}

QString nameNameless(Card* card) {
    static const struct {
        Field field;
        const char* what;
    } sources[] = {{Field::Company, "单位"},
                   {Field::Email, "E-mail"},
                   {Field::Mobile, "手机"},
                   {Field::WorkPhone, "工作电话"},
                   {Field::HomePhone, "家庭电话"}};
    Card& v = *card;
    if (!v[Field::Name].trimmed().isEmpty())
        return QString();
    for (const auto& source : sources) {
        const QString value = v[source.field].trimmed();
        if (value.isEmpty())
            continue;
        v[Field::Name] = value;
        return QStringLiteral("这张名片没有姓名，已用%1“%2”作姓名导入。")
            .arg(QString::fromUtf8(source.what), value.left(40));
    }
    return QString();
}

bool hasCjk(const QString& text) {
    for (int i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
        if ((c >= 0x3040 && c <= 0x30FF) ||   // kana
            (c >= 0x3400 && c <= 0x4DBF) ||   // CJK extension A
            (c >= 0x4E00 && c <= 0x9FFF) ||   // CJK unified ideographs
            (c >= 0xAC00 && c <= 0xD7AF) ||   // Hangul
            (c >= 0xF900 && c <= 0xFAFF) ||   // compatibility ideographs
            (c >= 0x20000 && c <= 0x3134F)) { // extensions B and later
            return true;
        }
    }
    return false;
}

QString joinName(const QString& family, const QString& given, const QString& middle) {
    if (hasCjk(family) || hasCjk(given) || hasCjk(middle))
        return family + given + middle;
    QStringList parts;
    for (const QString& p : {given, middle, family}) {
        if (!p.isEmpty())
            parts << p;
    }
    return parts.join(QLatin1Char(' '));
}

QString joinAddress(const QString& poBox, const QString& extended, const QString& street,
                    const QString& locality, const QString& region, const QString& country) {
    const QStringList smallFirst = {poBox, extended, street, locality, region, country};
    bool cjk = false;
    for (const QString& p : smallFirst)
        cjk = cjk || hasCjk(p);
    QStringList parts;
    if (cjk) {
        for (const QString& p : {country, region, locality, street, extended, poBox}) {
            // 上海 is both region and city: say it once.
            if (!p.isEmpty() && (parts.isEmpty() || parts.last() != p))
                parts << p;
        }
        return parts.join(QString());
    }
    for (const QString& p : smallFirst) {
        if (!p.isEmpty())
            parts << p;
    }
    return parts.join(QStringLiteral(", "));
}

void splitName(const QString& name, QString* family, QString* given) {
    const QString n = name.trimmed();
    family->clear();
    given->clear();
    if (n.isEmpty())
        return;
    if (hasCjk(n) && !n.contains(QLatin1Char(' '))) {
        static const QStringList compound = {
            QStringLiteral("欧阳"), QStringLiteral("司马"), QStringLiteral("诸葛"),
            QStringLiteral("上官"), QStringLiteral("东方"), QStringLiteral("皇甫"),
            QStringLiteral("尉迟"), QStringLiteral("公孙"), QStringLiteral("慕容"),
            QStringLiteral("长孙"), QStringLiteral("宇文"), QStringLiteral("司徒"),
            QStringLiteral("夏侯"), QStringLiteral("令狐"), QStringLiteral("端木"),
            QStringLiteral("轩辕"), QStringLiteral("独孤"), QStringLiteral("南宫"),
            QStringLiteral("西门"), QStringLiteral("申屠"), QStringLiteral("太史"),
            QStringLiteral("澹台"), QStringLiteral("公冶"), QStringLiteral("宗政"),
            QStringLiteral("濮阳"), QStringLiteral("淳于"), QStringLiteral("单于"),
            QStringLiteral("闻人"), QStringLiteral("万俟"), QStringLiteral("呼延"),
        };
        int length = n.at(0).isHighSurrogate() ? 2 : 1;
        for (const QString& c : compound) {
            if (n.size() > c.size() && n.startsWith(c)) {
                length = c.size();
                break;
            }
        }
        *family = n.left(length);
        *given = n.mid(length);
        return;
    }
    const int blank = n.lastIndexOf(QLatin1Char(' '));
    if (blank < 0) {
        *family = n;
        return;
    }
    *family = n.mid(blank + 1);
    *given = n.left(blank).trimmed();
}

bool isZeroDate(const QString& text) {
    bool separator = false;
    bool zero = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('0'))
            zero = true;
        else if (c == QLatin1Char('/') || c == QLatin1Char('-') || c == QLatin1Char('.'))
            separator = true;
        else if (c != QLatin1Char(' '))
            return false;
    }
    return zero && separator;
}

} // namespace Exchange
