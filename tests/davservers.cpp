#include "davservers.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace TestSupport {

namespace {

bool writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Runs a helper program to its end; false (and why) when it is missing or fails.
bool runTool(const QString& program, const QStringList& arguments, QString* problem) {
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        *problem = program + QStringLiteral(" is not installed (scripts/install-deps.sh)");
        return false;
    }
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        *problem = program + QStringLiteral(" failed: ") +
                   QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

} // namespace

int freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

DavServer::DavServer(Kind kind)
    : m_kind(kind) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("server.log")));
    if (!prepare())
        return;
    if (!waitForAnswer()) {
        m_problem += QStringLiteral("the server did not answer: ");
        QFile log(m_dir.filePath(QStringLiteral("server.log")));
        if (log.open(QIODevice::ReadOnly))
            m_problem += QString::fromLocal8Bit(log.readAll().right(2000));
        return;
    }
    if (kind != Xandikos) {
        // Radicale makes no address book of its own: an extended MKCOL makes one.
        int status = 0;
        curl({QStringLiteral("-X"), QStringLiteral("MKCOL"), QStringLiteral("--data"),
              QStringLiteral("<?xml version=\"1.0\"?><mkcol xmlns=\"DAV:\" "
                             "xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><set><prop>"
                             "<resourcetype><collection/><C:addressbook/></resourcetype>"
                             "<displayname>通讯录</displayname></prop></set></mkcol>"),
              book().toString()},
             &status);
        if (status != 201)
            m_problem = QStringLiteral("MKCOL gave HTTP %1").arg(status);
    }
}

DavServer::~DavServer() {
    kill();
}

void DavServer::kill() {
    for (QProcess* process : {&m_front, &m_process}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(10000);
        }
    }
}

bool DavServer::restart() {
    // The programs and their arguments are the ones prepare() gave.
    m_process.start();
    if (m_kind == RadicaleDigest)
        m_front.start();
    return waitForAnswer();
}

bool DavServer::prepareDigestFront(int radicalePort) {
    const QString program = QStringLiteral("lighttpd");
    if (QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin")}).isEmpty() &&
        QStandardPaths::findExecutable(program).isEmpty()) {
        m_problem = QStringLiteral("lighttpd is not installed (scripts/install-deps.sh)");
        return false;
    }
    const QString dir = m_dir.path();
    const QByteArray realm = "CardDAV";
    const QByteArray secret =
        QCryptographicHash::hash(m_user.toUtf8() + ':' + realm + ':' + m_password.toUtf8(),
                                 QCryptographicHash::Md5)
            .toHex();
    const QString digests = dir + QStringLiteral("/digest");
    // Radicale gets the login it knows, once lighttpd has checked the Digest answer.
    const QByteArray basic = (m_user + QLatin1Char(':') + m_password).toUtf8().toBase64();
    const QByteArray config =
        "server.modules = (\"mod_auth\", \"mod_authn_file\", \"mod_setenv\", \"mod_proxy\")\n"
        "server.port = " +
        QByteArray::number(m_port) + "\nserver.bind = \"127.0.0.1\"\nserver.document-root = \"" +
        dir.toUtf8() + "\"\nserver.errorlog = \"" + dir.toUtf8() +
        "/front.log\"\nauth.backend = \"htdigest\"\nauth.backend.htdigest.userfile = \"" +
        digests.toUtf8() +
        "\"\nauth.require = ( \"/\" => ( \"method\" => \"digest\", \"realm\" => \"" + realm +
        "\", \"require\" => \"valid-user\" ) )\n"
        "setenv.set-request-header = ( \"Authorization\" => \"Basic " +
        basic + "\" )\nproxy.server = ( \"\" => ( ( \"host\" => \"127.0.0.1\", \"port\" => " +
        QByteArray::number(radicalePort) + " ) ) )\n";
    const QString file = dir + QStringLiteral("/front.conf");
    if (!writeFile(digests, m_user.toUtf8() + ':' + realm + ':' + secret + '\n') ||
        !writeFile(file, config)) {
        m_problem = QStringLiteral("cannot write ") + file;
        return false;
    }
    m_front.setProcessChannelMode(QProcess::MergedChannels);
    m_front.setStandardOutputFile(dir + QStringLiteral("/front.out"));
    const QString found = QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin")});
    m_front.start(found.isEmpty() ? program : found,
                  {QStringLiteral("-D"), QStringLiteral("-f"), file});
    return true;
}

bool DavServer::prepare() {
    if (!m_dir.isValid()) {
        m_problem = QStringLiteral("no temporary folder");
        return false;
    }
    m_port = freePort();
    const QString dir = m_dir.path();
    if (m_kind == Xandikos) {
        const QString program = QStringLiteral("xandikos");
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            m_problem = QStringLiteral("xandikos is not installed (scripts/install-deps.sh)");
            return false;
        }
        m_process.start(program, {QStringLiteral("--defaults"), QStringLiteral("-d"),
                                  dir + QStringLiteral("/data"), QStringLiteral("-l"),
                                  QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                  QString::number(m_port)});
        return true;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("radicale")).isEmpty()) {
        m_problem = QStringLiteral("radicale is not installed (scripts/install-deps.sh)");
        return false;
    }
    m_user = QStringLiteral("alice");
    m_password = QStringLiteral("密码 secret");
    // Plain htpasswd: Debian's Radicale checks bcrypt only with python3-passlib.
    const QString users = dir + QStringLiteral("/users");
    if (!runTool(QStringLiteral("htpasswd"),
                 {QStringLiteral("-c"), QStringLiteral("-b"), QStringLiteral("-p"), users, m_user,
                  m_password},
                 &m_problem))
        return false;
    // Behind the Digest front Radicale listens on a port of its own.
    m_innerPort = m_kind == RadicaleDigest ? freePort() : m_port;
    const int radicalePort = m_innerPort;
    QByteArray config = "[server]\nhosts = 127.0.0.1:" + QByteArray::number(radicalePort) + "\n";
    if (m_kind == RadicaleHttps) {
        const QString key = dir + QStringLiteral("/key.pem");
        const QString certificate = dir + QStringLiteral("/cert.pem");
        if (!runTool(QStringLiteral("openssl"),
                     {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                      QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                      QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                      QStringLiteral("-addext"),
                      QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"),
                      QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate},
                     &m_problem))
            return false;
        const auto certificates = QSslCertificate::fromPath(certificate);
        if (certificates.isEmpty()) {
            m_problem = QStringLiteral("openssl made no certificate");
            return false;
        }
        m_fingerprint =
            certificates.first().digest(QCryptographicHash::Sha256).toHex(':').toUpper();
        config +=
            "ssl = True\ncertificate = " + certificate.toUtf8() + "\nkey = " + key.toUtf8() + "\n";
    }
    config += "[auth]\ntype = htpasswd\nhtpasswd_filename = " + users.toUtf8() +
              "\nhtpasswd_encryption = plain\n"
              "[storage]\nfilesystem_folder = " +
              dir.toUtf8() + "/collections\n[rights]\ntype = owner_only\n";
    const QString file = dir + QStringLiteral("/config");
    if (!writeFile(file, config)) {
        m_problem = QStringLiteral("cannot write ") + file;
        return false;
    }
    m_process.start(QStringLiteral("radicale"), {QStringLiteral("-C"), file});
    return m_kind != RadicaleDigest || prepareDigestFront(radicalePort);
}

bool DavServer::waitForAnswer() {
    QElapsedTimer clock;
    clock.start();
    // The server behind the Digest front answers too before anything is asked.
    QList<int> ports{m_port};
    if (m_kind == RadicaleDigest)
        ports << m_innerPort;
    while (clock.elapsed() < 20000 && !ports.isEmpty()) {
        if (m_process.state() == QProcess::NotRunning ||
            (m_kind == RadicaleDigest && m_front.state() == QProcess::NotRunning))
            return false;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(ports.first()));
        if (socket.waitForConnected(500))
            ports.removeFirst();
        else
            QThread::msleep(100);
    }
    return ports.isEmpty();
}

QUrl DavServer::root() const {
    return QUrl((m_kind == RadicaleHttps ? QStringLiteral("https://") : QStringLiteral("http://")) +
                host() + QLatin1Char('/'));
}

QString DavServer::host() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QUrl DavServer::book() const {
    return root().resolved(QUrl(m_kind == Xandikos ? QStringLiteral("/user/contacts/addressbook/")
                                                   : QStringLiteral("/alice/contacts/")));
}

QString DavServer::bookFolder() const {
    if (m_kind == Xandikos)
        return m_dir.path() + QStringLiteral("/data") + book().path(QUrl::FullyDecoded);
    return m_dir.path() + QStringLiteral("/collections/collection-root") +
           book().path(QUrl::FullyDecoded);
}

QByteArray DavServer::curl(const QStringList& arguments, int* status) const {
    QStringList all{QStringLiteral("-s"), QStringLiteral("-k"), QStringLiteral("-w"),
                    QStringLiteral("\n%{http_code}")};
    if (!m_user.isEmpty())
        all << QStringLiteral("-u") << m_user + QLatin1Char(':') + m_password;
    if (m_kind == RadicaleDigest)
        all << QStringLiteral("--digest");
    QProcess process;
    process.start(QStringLiteral("curl"), all + arguments);
    process.waitForFinished(60000);
    QByteArray out = process.readAllStandardOutput();
    const int cut = int(out.lastIndexOf('\n'));
    if (status)
        *status = out.mid(cut + 1).toInt();
    return out.left(cut);
}

} // namespace TestSupport
