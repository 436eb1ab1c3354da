#include "password.h"

#include "core/error.h"

#include <QRegularExpression>

#include <sodium.h>

namespace {

// Three passes over 12 MiB: a recommended Argon2id setting that keeps the login quick and
// the program small (the library's interactive preset takes 64 MiB for every check).
const unsigned long long kOpsLimit = 3;
const size_t kMemLimit = 12u * 1024u * 1024u;

void initialise() {
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw EError(QStringLiteral("密码组件无法初始化，密码不能检查或保存。请重新安装本程序。\n"
                                    "(sodium_init failed)"));
}

// The whole Argon2id form, not just its prefix: an older database may hold a plain password
// that happens to start the same way.
bool isHash(const QString& stored) {
    static const QRegularExpression form(QStringLiteral(
        "^\\$argon2id\\$v=\\d+\\$m=\\d+,t=\\d+,p=\\d+\\$[A-Za-z0-9+/]+\\$[A-Za-z0-9+/]+$"));
    return form.match(stored).hasMatch();
}

} // namespace

QString hashPassword(const QString& password) {
    initialise();
    const QByteArray text = password.toUtf8();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, text.constData(), static_cast<unsigned long long>(text.size()),
                          kOpsLimit, kMemLimit) != 0)
        throw EError(QStringLiteral("内存不足，密码没有保存。请关闭其他程序后重试。\n"
                                    "(crypto_pwhash_str failed)"));
    return QString::fromLatin1(hash);
}

bool passwordMatches(const QString& stored, const QString& typed) {
    if (!isHash(stored))
        return stored == typed;
    initialise();
    const QByteArray hash = stored.toLatin1();
    const QByteArray text = typed.toUtf8();
    return crypto_pwhash_str_verify(hash.constData(), text.constData(),
                                    static_cast<unsigned long long>(text.size())) == 0;
}
