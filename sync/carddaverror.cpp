#include "carddaverror.h"

namespace Sync {

namespace {

QString describe(ECardDav::Kind kind, const QUrl& url, int status, const QByteArray& fingerprint,
                 qint64 limit) {
    const QString host = url.host();
    switch (kind) {
    case ECardDav::HostNotFound:
        return QStringLiteral("找不到服务器“%1”。请检查服务器地址是否写对，以及网络是否连通。")
            .arg(host);
    case ECardDav::Refused:
        return QStringLiteral("服务器“%1”拒绝了连接。请检查地址和端口，以及服务器是否在运行。")
            .arg(host);
    case ECardDav::WrongPassword:
        return QStringLiteral("服务器不接受这个用户名和密码。请检查后重新输入。");
    case ECardDav::NotCardDav:
        return QStringLiteral("在这个地址上没有找到 CardDAV 通讯录。请检查服务器地址，"
                              "或填写通讯录的完整地址。");
    case ECardDav::UntrustedCertificate:
        return QStringLiteral("服务器“%1”的证书不受本机信任，证书的 SHA-256 指纹是 %2。"
                              "请向服务器管理员核对这个指纹，确认无误后再选择信任它。")
            .arg(host, QString::fromLatin1(fingerprint));
    case ECardDav::TlsFailed:
        return QStringLiteral("无法与服务器“%1”建立加密连接。请检查地址开头的 https 与端口"
                              "是否正确。")
            .arg(host);
    case ECardDav::Timeout:
        return QStringLiteral("服务器“%1”长时间没有回应，已停止等待。请检查网络和服务器后再试。")
            .arg(host);
    case ECardDav::ConnectionLost:
        return QStringLiteral("与服务器“%1”的连接中断了。请检查网络和服务器后再试一次。").arg(host);
    case ECardDav::ServerError:
        if (status == 403)
            return QStringLiteral("服务器拒绝了这个操作（状态 403）。请检查这个用户是否有权使用"
                                  "这个通讯录。");
        if (status == 404)
            return QStringLiteral("服务器上没有这个地址（状态 404）。请检查通讯录的地址。");
        return QStringLiteral("服务器出错了（状态 %1）。请稍后再试；一直出错时请联系服务器管理员。")
            .arg(status);
    case ECardDav::Malformed:
        return QStringLiteral(
            "服务器的回应无法读懂。请确认这是 CardDAV 服务器，或联系服务器管理员。");
    case ECardDav::TooLarge:
        return QStringLiteral("服务器的回应太大（超过 %1 MB），已停止读取。请检查通讯录里是否有"
                              "异常大的名片。")
            .arg(limit / (1024 * 1024));
    case ECardDav::Insecure:
        return QStringLiteral("与“%1”的连接没有加密（http），密码和名片会以明文在网络上传送。"
                              "请改用 https；确实要这样连接时请先确认。")
            .arg(host);
    case ECardDav::RedirectRefused:
        return QStringLiteral("服务器要求转到另一个地址“%1”，没有跟随。请确认这个地址可信，"
                              "或直接填写它。")
            .arg(url.toString(QUrl::RemoveUserInfo));
    case ECardDav::TooManyRedirects:
        return QStringLiteral("服务器转向的次数太多，已停止。请检查服务器地址。");
    case ECardDav::Cancelled:
        return QStringLiteral("与服务器的通信已取消。");
    }
    return QString();
}

} // namespace

ECardDav::ECardDav(Kind kind, const QUrl& url, const QString& technical, int status,
                   const QByteArray& fingerprint, qint64 limit)
    : EError(describe(kind, url, status, fingerprint, limit) + QStringLiteral("\n(") +
             (technical.isEmpty() ? url.toString(QUrl::RemoveUserInfo) : technical) +
             QLatin1Char(')'))
    , m_kind(kind)
    , m_url(url)
    , m_status(status)
    , m_fingerprint(fingerprint) {}

} // namespace Sync
