#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>
#include <QXmlStreamReader>

#include <functional>

namespace Sync {

/// One <response> of a WebDAV multistatus, with the properties its 2xx propstats carried.
struct DavEntry {
    QString href;   ///< as the server wrote it (percent-encoded)
    int status = 0; ///< the response's own status (sync-collection: 404 for a removed card)
    bool isCollection = false;
    bool isAddressBook = false;
    bool supportsSync = false; ///< supported-report-set lists sync-collection
    QString displayName;
    QByteArray ctag;
    QByteArray etag;
    QByteArray syncToken;
    QByteArray contentType;
    QString principal;    ///< current-user-principal's href
    QStringList homeSets; ///< addressbook-home-set's hrefs
    QByteArray addressData;
};

/// Reads a multistatus as it arrives, handing each response on as soon as it is whole, so
/// that no more than one card is held at a time. feed() and finish() throw ECardDav
/// (Malformed, or TooLarge when one card passes `cardLimit` bytes).
class MultistatusParser {
public:
    MultistatusParser(const QUrl& url, qint64 cardLimit, std::function<void(DavEntry&)> onEntry);
    void feed(const QByteArray& data);
    /// The document must be complete now.
    void finish();
    /// The multistatus' own sync-token (sync-collection REPORT).
    QByteArray syncToken() const { return m_syncToken; }

private:
    void read();
    void startElement();
    void endElement();
    [[noreturn]] void fail(const QString& why) const;

    QUrl m_url;
    qint64 m_cardLimit;
    std::function<void(DavEntry&)> m_onEntry;
    QXmlStreamReader m_reader;
    QStringList m_path; ///< local names from the root down
    QString m_text;
    bool m_collectText = false;
    bool m_sawRoot = false;
    DavEntry m_entry;
    DavEntry m_pending; ///< properties of the propstat being read, kept if its status is 2xx
    int m_propstatStatus = 0;
    QByteArray m_syncToken;
};

/// The status code of an HTTP status line ("HTTP/1.1 404 Not Found" gives 404; 0 if none).
int statusOfLine(const QString& line);

/// Request bodies.
QByteArray propfindBody(const QStringList& davProps, const QStringList& cardDavProps = {},
                        bool ctag = false);
QByteArray multigetBody(const QStringList& paths);
QByteArray syncCollectionBody(const QByteArray& token);

} // namespace Sync
