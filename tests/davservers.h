#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace TestSupport {

/// A real CardDAV server on 127.0.0.1, a free port and a temporary folder, for as long as
/// this lives (the process is killed in the destructor).
class DavServer {
public:
    enum Kind {
        RadicaleHttps, ///< Radicale with an htpasswd user, over TLS with a certificate made here
        RadicaleHttp,  ///< the same over plain http
        Xandikos,      ///< Xandikos with its default address book, plain http, no users
        /// Radicale behind lighttpd, which asks for Digest and hands Radicale the login:
        /// neither server program offers Digest of its own.
        RadicaleDigest,
    };
    explicit DavServer(Kind kind);
    ~DavServer();
    DavServer(const DavServer&) = delete;
    DavServer& operator=(const DavServer&) = delete;

    /// Empty when the server runs; else why not (for QSKIP when a program is missing).
    QString problem() const { return m_problem; }
    Kind kind() const { return m_kind; }
    QUrl root() const;    ///< "https://127.0.0.1:PORT/"
    QString host() const; ///< "127.0.0.1:PORT"
    /// The folder of the address book's files (the book() URL's path under it); Xandikos
    /// serves what is committed there with git.
    QString bookFolder() const;
    QUrl book() const; ///< the address book's full URL
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    QByteArray fingerprint() const { return m_fingerprint; } ///< SHA-256 "AB:CD:.." (https)
    /// Runs curl against the server with the account and these arguments; its output.
    QByteArray curl(const QStringList& arguments, int* status = nullptr) const;
    /// Kills the server at once, as a crash or a pulled cable would.
    void kill();
    /// Starts it again after kill(), on the same port with the same cards; false when it
    /// does not answer.
    bool restart();
    qint64 processId() const { return m_process.processId(); }

private:
    bool prepare();
    bool prepareDigestFront(int radicalePort);
    bool waitForAnswer();

    Kind m_kind;
    QTemporaryDir m_dir;
    QProcess m_process;
    QProcess m_front; ///< lighttpd for RadicaleDigest
    int m_port = 0;
    int m_innerPort = 0; ///< Radicale's, behind the Digest front
    QString m_user;
    QString m_password;
    QByteArray m_fingerprint;
    QString m_problem;
};

/// A free TCP port on 127.0.0.1 (free when asked).
int freePort();

} // namespace TestSupport
