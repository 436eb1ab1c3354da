// The sync account dialog.
#include "syncaccountdialog.h"

#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/progress.h"

#include <mutex>

SyncAccountDialog::SyncAccountDialog(QWidget* parent, const Sync::SyncAccount& account,
                                     const QString& password, const QString& keychainNote)
    : QDialog(parent)
    , m_account(account) {
    setupUi(this);
    EditServer->setText(account.server);
    EditUser->setText(account.user);
    EditPassword->setText(password);
    LabelKeychain->setText(keychainNote);
    // The stored book stands until a test lists the server's.
    if (account.isSet())
        ComboBook->addItem(account.book.toString(), account.book);
    connect(ButtonTest, &QPushButton::clicked, this,
            Platform::guarded([this] { ButtonTestClick(); }));
    connect(ButtonOK, &QPushButton::clicked, this, Platform::guarded([this] { ButtonOKClick(); }));
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Another server or user: what was agreed for the old one no longer holds.
    connect(EditServer, &QLineEdit::textEdited, this, [this] {
        m_account.fingerprint.clear();
        m_account.allowInsecure = false;
        ComboBook->clear();
    });
}

SyncAccountDialog::~SyncAccountDialog() = default;

Sync::SyncAccount SyncAccountDialog::account() const {
    Sync::SyncAccount a = m_account;
    a.server = EditServer->text().trimmed();
    a.user = EditUser->text().trimmed();
    a.book = ComboBook->currentData().toUrl();
    return a;
}

QString SyncAccountDialog::password() const {
    return EditPassword->text();
}

bool SyncAccountDialog::allowPlainHttp(const QUrl& url) {
    const QString text =
        QStringLiteral("服务器地址 %1 不加密（http）：密码和名片会以明文在网络上传输，"
                       "别人可能看到。\n只在自己家里可信的网络上才这样用。仍要连接吗？")
            .arg(url.toString());
    return Platform::messageBox(this, text, Platform::applicationTitle(),
                                Platform::MB_YESNO | Platform::MB_ICONWARNING) == Platform::IDYES;
}

Sync::Discovery SyncAccountDialog::discover() {
    const Sync::SyncAccount a = account();
    const QString pass = password();
    Sync::Discovery found;
    std::mutex mutex;
    Sync::CardDavClient* running = nullptr;
    bool cancelled = false;
    // The client lives on the worker with its own network manager: its local event loop
    // never runs the window's events.
    const bool done = Platform::runInBackground(
        this, QStringLiteral("正在连接服务器……"),
        [&](const std::function<void(int)>&) {
            Sync::CardDavClient client;
            client.setCredentials(a.user, pass);
            client.setTrustedFingerprint(a.fingerprint);
            client.setAllowInsecure(a.allowInsecure);
            client.setTimeout(15000);
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (cancelled)
                    return;
                running = &client;
            }
            try {
                found = client.discover(a.server);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                running = nullptr;
                throw;
            }
            std::lock_guard<std::mutex> lock(mutex);
            running = nullptr;
        },
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            cancelled = true;
            if (running)
                running->abort();
        });
    if (!done)
        throw Sync::ECardDav(Sync::ECardDav::Cancelled, QUrl(), QStringLiteral("cancelled"));
    return found;
}

void SyncAccountDialog::showBooks(const Sync::Discovery& found) {
    const QUrl chosen = ComboBook->currentData().toUrl();
    ComboBook->clear();
    for (const Sync::AddressBook& book : found.books) {
        const QString path = book.url.path();
        ComboBook->addItem(book.displayName.isEmpty()
                               ? path
                               : QStringLiteral("%1（%2）").arg(book.displayName, path),
                           book.url);
    }
    const int again = ComboBook->findData(chosen);
    if (again >= 0)
        ComboBook->setCurrentIndex(again);
    LabelResult->setText(
        found.books.size() == 1
            ? QStringLiteral("连接成功：服务器上有 1 个通讯录，将同步它。")
            : QStringLiteral("连接成功：服务器上有 %1 个通讯录，请选择要同步的一个。")
                  .arg(found.books.size()));
}

void SyncAccountDialog::ButtonTestClick() {
    const QString server = EditServer->text().trimmed();
    if (server.isEmpty()) {
        LabelResult->setText(QStringLiteral("请先填写服务器地址。"));
        EditServer->setFocus();
        return;
    }
    m_account.server = server;
    const QUrl typed = QUrl::fromUserInput(server);
    if (server.startsWith(QLatin1String("http:"), Qt::CaseInsensitive) &&
        Sync::CardDavClient::isInsecure(typed) && !m_account.allowInsecure) {
        if (!allowPlainHttp(typed)) {
            LabelResult->setText(QStringLiteral("没有连接：请改用 https 开头的地址。"));
            return;
        }
        m_account.allowInsecure = true;
    }
    LabelResult->setText(QStringLiteral("正在连接……"));
    // Each question the user agrees to lets the next attempt go further.
    for (;;) {
        try {
            showBooks(discover());
            return;
        } catch (const Sync::ECardDav& e) {
            if (e.kind() == Sync::ECardDav::UntrustedCertificate &&
                m_account.fingerprint != e.fingerprint()) {
                const QString question =
                    QStringLiteral(
                        "服务器 %1 的证书不受本机信任。它可能是服务器自己签发的，"
                        "也可能有人冒充这个服务器。\n证书的 SHA-256 指纹：\n%2\n"
                        "请与服务器上显示的指纹核对。一致时才选“是”，信任这个服务器的这张证书。")
                        .arg(e.url().host(), QString::fromLatin1(e.fingerprint()));
                if (Platform::messageBox(this, question, Platform::applicationTitle(),
                                         Platform::MB_YESNO | Platform::MB_ICONWARNING) ==
                    Platform::IDYES) {
                    m_account.fingerprint = e.fingerprint();
                    continue;
                }
            } else if (e.kind() == Sync::ECardDav::Insecure && !m_account.allowInsecure &&
                       allowPlainHttp(e.url())) {
                m_account.allowInsecure = true;
                continue;
            }
            ComboBook->clear();
            LabelResult->setText(e.kind() == Sync::ECardDav::Cancelled
                                     ? QStringLiteral("连接已取消。")
                                     : QStringLiteral("连接失败：%1").arg(e.message()));
            return;
        }
    }
}

void SyncAccountDialog::ButtonOKClick() {
    if (ComboBook->count() == 0)
        ButtonTestClick();
    if (ComboBook->count() == 0)
        return;
    accept();
}
