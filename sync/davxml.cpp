#include "davxml.h"

#include "carddaverror.h"

#include <QXmlStreamWriter>

namespace Sync {

namespace {

const QString kDav = QStringLiteral("DAV:");
const QString kCardDav = QStringLiteral("urn:ietf:params:xml:ns:carddav");
const QString kCalServer = QStringLiteral("http://calendarserver.org/ns/");

bool endsWith(const QStringList& path, std::initializer_list<const char*> tail) {
    if (path.size() < int(tail.size()))
        return false;
    int i = int(path.size() - tail.size());
    for (const char* name : tail)
        if (path.at(i++) != QLatin1String(name))
            return false;
    return true;
}

// Text-bearing elements, by their place under <prop> or <response>.
bool carriesText(const QStringList& path) {
    static const char* const kProps[] = {"displayname", "getctag",        "getetag",
                                         "sync-token",  "getcontenttype", "address-data"};
    if (endsWith(path, {"response", "href"}) || endsWith(path, {"response", "status"}) ||
        endsWith(path, {"propstat", "status"}) || endsWith(path, {"multistatus", "sync-token"}) ||
        endsWith(path, {"current-user-principal", "href"}) ||
        endsWith(path, {"addressbook-home-set", "href"}))
        return true;
    if (path.size() >= 2 && path.at(path.size() - 2) == QLatin1String("prop"))
        for (const char* name : kProps)
            if (path.last() == QLatin1String(name))
                return true;
    return false;
}

} // namespace

int statusOfLine(const QString& line) {
    const QStringList parts = line.simplified().split(QLatin1Char(' '));
    return parts.size() >= 2 ? parts.at(1).toInt() : 0;
}

MultistatusParser::MultistatusParser(const QUrl& url, qint64 cardLimit,
                                     std::function<void(DavEntry&)> onEntry)
    : m_url(url)
    , m_cardLimit(cardLimit)
    , m_onEntry(std::move(onEntry)) {}

void MultistatusParser::fail(const QString& why) const {
    throw ECardDav(ECardDav::Malformed, m_url,
                   why + QStringLiteral(", line %1: ").arg(m_reader.lineNumber()) +
                       m_url.toString(QUrl::RemoveUserInfo));
}

void MultistatusParser::feed(const QByteArray& data) {
    m_reader.addData(data);
    read();
}

void MultistatusParser::finish() {
    read();
    if (!m_sawRoot || !m_reader.atEnd() || m_reader.hasError())
        fail(QStringLiteral("XML document incomplete"));
}

void MultistatusParser::read() {
    while (!m_reader.atEnd()) {
        switch (m_reader.readNext()) {
        case QXmlStreamReader::StartElement:
            startElement();
            break;
        case QXmlStreamReader::EndElement:
            endElement();
            break;
        case QXmlStreamReader::Characters:
            if (m_collectText) {
                m_text += m_reader.text();
                // Counted in UTF-16 units: a card of n bytes takes at most n of them.
                if (m_text.size() > m_cardLimit)
                    throw ECardDav(ECardDav::TooLarge, m_url,
                                   QStringLiteral("card larger than %1 bytes at %2")
                                       .arg(m_cardLimit)
                                       .arg(m_url.toString(QUrl::RemoveUserInfo)),
                                   0, QByteArray(), m_cardLimit);
            }
            break;
        default:
            break;
        }
    }
    if (m_reader.hasError() && m_reader.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        fail(m_reader.errorString());
}

void MultistatusParser::startElement() {
    const QString name = m_reader.name().toString();
    if (m_path.isEmpty()) {
        if (name != QLatin1String("multistatus") || m_reader.namespaceUri() != kDav)
            fail(QStringLiteral("expected DAV:multistatus, found ") + name);
        m_sawRoot = true;
    }
    m_path.append(name);
    m_text.clear();
    m_collectText = carriesText(m_path);
    if (endsWith(m_path, {"multistatus", "response"}))
        m_entry = DavEntry();
    else if (endsWith(m_path, {"response", "propstat"})) {
        m_pending = DavEntry();
        m_propstatStatus = 0;
    } else if (endsWith(m_path, {"prop", "resourcetype", "collection"}))
        m_pending.isCollection = true;
    else if (endsWith(m_path, {"prop", "resourcetype", "addressbook"}) &&
             m_reader.namespaceUri() == kCardDav)
        m_pending.isAddressBook = true;
    // Xandikos leaves out the <report> between the two.
    else if (endsWith(m_path, {"supported-report", "report", "sync-collection"}) ||
             endsWith(m_path, {"supported-report", "sync-collection"}))
        m_pending.supportsSync = true;
}

void MultistatusParser::endElement() {
    const QStringList& p = m_path;
    if (m_collectText) {
        const QString text = m_text.trimmed();
        if (endsWith(p, {"response", "href"}))
            m_entry.href = text;
        else if (endsWith(p, {"response", "status"}))
            m_entry.status = statusOfLine(text);
        else if (endsWith(p, {"propstat", "status"}))
            m_propstatStatus = statusOfLine(text);
        else if (endsWith(p, {"multistatus", "sync-token"}))
            m_syncToken = text.toUtf8();
        else if (endsWith(p, {"current-user-principal", "href"}))
            m_pending.principal = text;
        else if (endsWith(p, {"addressbook-home-set", "href"}))
            m_pending.homeSets.append(text);
        else if (p.last() == QLatin1String("displayname"))
            m_pending.displayName = text;
        else if (p.last() == QLatin1String("getctag"))
            m_pending.ctag = text.toUtf8();
        else if (p.last() == QLatin1String("getetag"))
            m_pending.etag = text.toUtf8();
        else if (p.last() == QLatin1String("sync-token"))
            m_pending.syncToken = text.toUtf8();
        else if (p.last() == QLatin1String("getcontenttype"))
            m_pending.contentType = text.toUtf8();
        else if (p.last() == QLatin1String("address-data")) {
            // XML turns the vCard's CRLF into LF: give back what a GET would.
            QString card = m_text;
            card.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            card.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
            m_pending.addressData = card.toUtf8();
        }
    }
    if (endsWith(p, {"response", "propstat"}) && m_propstatStatus / 100 == 2) {
        DavEntry& e = m_entry;
        const DavEntry& n = m_pending;
        e.isCollection |= n.isCollection;
        e.isAddressBook |= n.isAddressBook;
        e.supportsSync |= n.supportsSync;
        if (!n.displayName.isEmpty())
            e.displayName = n.displayName;
        if (!n.ctag.isEmpty())
            e.ctag = n.ctag;
        if (!n.etag.isEmpty())
            e.etag = n.etag;
        if (!n.syncToken.isEmpty())
            e.syncToken = n.syncToken;
        if (!n.contentType.isEmpty())
            e.contentType = n.contentType;
        if (!n.principal.isEmpty())
            e.principal = n.principal;
        e.homeSets += n.homeSets;
        if (!n.addressData.isEmpty())
            e.addressData = n.addressData;
    } else if (endsWith(p, {"multistatus", "response"})) {
        if (m_entry.href.isEmpty())
            fail(QStringLiteral("response without href"));
        m_onEntry(m_entry);
        m_entry = DavEntry();
    }
    m_path.removeLast();
    m_text.clear();
    m_collectText = false;
}

namespace {

void writeProps(QXmlStreamWriter& w, const QStringList& davProps, const QStringList& cardDavProps,
                bool ctag) {
    w.writeStartElement(kDav, QStringLiteral("prop"));
    for (const QString& p : davProps)
        w.writeEmptyElement(kDav, p);
    for (const QString& p : cardDavProps)
        w.writeEmptyElement(kCardDav, p);
    if (ctag)
        w.writeEmptyElement(kCalServer, QStringLiteral("getctag"));
    w.writeEndElement();
}

} // namespace

QByteArray propfindBody(const QStringList& davProps, const QStringList& cardDavProps, bool ctag) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeNamespace(kDav, QStringLiteral("d"));
    w.writeNamespace(kCardDav, QStringLiteral("card"));
    if (ctag)
        w.writeNamespace(kCalServer, QStringLiteral("cs"));
    w.writeStartDocument();
    w.writeStartElement(kDav, QStringLiteral("propfind"));
    writeProps(w, davProps, cardDavProps, ctag);
    w.writeEndDocument();
    return out;
}

QByteArray multigetBody(const QStringList& paths) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeNamespace(kDav, QStringLiteral("d"));
    w.writeNamespace(kCardDav, QStringLiteral("card"));
    w.writeStartDocument();
    w.writeStartElement(kCardDav, QStringLiteral("addressbook-multiget"));
    writeProps(w, {QStringLiteral("getetag")}, {QStringLiteral("address-data")}, false);
    for (const QString& path : paths)
        w.writeTextElement(kDav, QStringLiteral("href"), path);
    w.writeEndDocument();
    return out;
}

QByteArray syncCollectionBody(const QByteArray& token) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeNamespace(kDav, QStringLiteral("d"));
    w.writeStartDocument();
    w.writeStartElement(kDav, QStringLiteral("sync-collection"));
    w.writeTextElement(kDav, QStringLiteral("sync-token"), QString::fromUtf8(token));
    w.writeTextElement(kDav, QStringLiteral("sync-level"), QStringLiteral("1"));
    writeProps(w, {QStringLiteral("getetag")}, {}, false);
    w.writeEndDocument();
    return out;
}

} // namespace Sync
