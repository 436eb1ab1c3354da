#include "vcard.h"

#include "textsource.h"
#include "vcardnames.h"

#include <tuple>

namespace Exchange {

using namespace VCardNames;
using namespace VCardSyntax;

// ---- Reading ------------------------------------------------------------------------------

VCardParser::VCardParser(LineSource& source, TextDecoder& decoder, QList<Skipped>& skipped)
    : m_lines(source)
    , m_decoder(decoder)
    , m_skipped(skipped) {}

VCardParser::~VCardParser() = default;

QStringList VCardParser::components(const Property& p, bool compound) const {
    // N lists several given or additional names with commas.
    const QChar lists = p.name == "N" ? QLatin1Char(' ') : QChar();
    return VCardSyntax::components(p, m_decoder, compound, lists);
}

bool VCardParser::next(Card* card) {
    QByteArray line;
    qint64 number = 0;
    bool inCard = false;
    int depth = 0;
    qint64 begin = 0;
    bool strayNoted = false;
    QList<Property> props;
    qint64 cardBytes = 0;
    for (;;) {
        if (!m_lines.read(&line, &number)) {
            if (inCard)
                failAtLine(begin, QStringLiteral("名片从这一行的 BEGIN:VCARD 开始，但到文件结尾也"
                                                 "没有 END:VCARD，文件不完整。请重新导出这个文件"
                                                 "后再导入。"));
            return false;
        }
        if (isBlank(line))
            continue;
        if (!inCard) {
            if (isLine(line, "BEGIN:VCARD")) {
                inCard = true;
                depth = 1;
                begin = number;
                m_lines.setVersion21(false);
                props.clear();
                cardBytes = 0;
            } else if (!strayNoted) {
                strayNoted = true;
                m_skipped << Skipped{number, QStringLiteral("名片之外的内容“%1”已忽略。")
                                                 .arg(QString::fromUtf8(line.left(40)))};
            }
            continue;
        }
        if (isLine(line, "BEGIN:VCARD")) {
            if (++depth == 2)
                m_skipped << Skipped{number, QStringLiteral("名片里嵌套的名片未导入。")};
            continue;
        }
        if (isLine(line, "END:VCARD")) {
            if (--depth > 0)
                continue;
            inCard = false;
            strayNoted = false;
            m_begin = begin;
            assemble(props);
            Card c = m_card.take();
            const QString named = nameNameless(&c);
            if (!named.isEmpty())
                m_skipped << Skipped{begin, named, true};
            if (c[Field::Name].isEmpty()) {
                m_skipped << Skipped{begin, QStringLiteral("这张名片没有姓名，未导入。")};
                continue;
            }
            *card = c;
            return true;
        }
        if (depth > 1)
            continue;
        Property p;
        if (!parse(line, number, &p)) {
            // A line without a name: some phones break long values without folding.
            if (!props.isEmpty())
                props.last().raw += '\n' + line;
            continue;
        }
        std::tie(p.kind, p.column) = kindOf(p.name);
        if (p.name == "VERSION")
            m_lines.setVersion21(p.raw.trimmed().startsWith("2."));
        cardBytes += p.raw.size();
        if (cardBytes > kMaxLine)
            failAtLine(begin, QStringLiteral("从这一行开始的名片超过 64 MB 还没有结束，不是通讯录"
                                             "程序导出的名片。请选择正确的文件后再导入。"));
        props << std::move(p);
    }
}

} // namespace Exchange
