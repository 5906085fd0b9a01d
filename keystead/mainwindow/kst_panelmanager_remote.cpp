// The main window's switch for the remote API: Tools > Remote API asks for
// the address to serve on (empty: off) and the status bar shows the address
// to open while it is on. Beyond loopback a random token is made and shown.

#include "kst_panelmanager.h"

#include "kst_data.h"
#include "kst_remoteaccess.h"
#include "rm_server.h"

#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

void KST_PanelManager::setRemoteAccess(KST_RemoteAccess *remote)
{
    m_remote = remote;
    if (!m_actionRemote) {
        m_actionRemote = new QAction(QStringLiteral("Remote &API..."), this);
        m_actionRemote->setObjectName(QStringLiteral("actionRemoteApi"));
        m_actionRemote->setStatusTip(
            QStringLiteral("Let programs and browsers read what every key shows and press keys."));
        connect(m_actionRemote, &QAction::triggered, this, &KST_PanelManager::actionRemoteApi);
        m_menuTools->addSeparator();
        m_menuTools->addAction(m_actionRemote);
        m_remoteLabel = new QLabel;
        m_remoteLabel->setObjectName(QStringLiteral("remoteLabel"));
        m_remoteLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        statusBar()->addPermanentWidget(m_remoteLabel);
    }
    if (m_remote)
        connect(m_remote, &KST_RemoteAccess::changed, this, &KST_PanelManager::updateRemoteLabel,
                Qt::UniqueConnection);
    updateRemoteLabel();
}

void KST_PanelManager::updateRemoteLabel()
{
    if (!m_remoteLabel)
        return;
    if (m_remote && m_remote->isOn())
        m_remoteLabel->setText(QStringLiteral("Remote API: %1%2")
                                   .arg(m_remote->url(),
                                        m_remote->hasToken() ? QStringLiteral(" (token)") : QString()));
    else
        m_remoteLabel->clear();
}

void KST_PanelManager::actionRemoteApi()
{
    if (!m_remote)
        return;
    const QString current = m_remote->isOn() ? m_remote->address() : QStringLiteral("127.0.0.1:8080");
    QString address;
    bool ok = false;
    if (m_addressHook) {
        ok = m_addressHook(current, &address);
    } else {
        address = QInputDialog::getText(
            this, QStringLiteral("Remote API"),
            QStringLiteral("Serve the remote API on ADDR:PORT (empty: off).\n"
                           "127.0.0.1 serves this machine only; any other address needs a token,\n"
                           "which is made at random and shown."),
            QLineEdit::Normal, current, &ok);
    }
    if (!ok)
        return;
    address = address.trimmed();
    if (address.isEmpty()) {
        m_remote->stop();
        return;
    }
    remote::Endpoint at;
    QString why;
    if (!remote::parseEndpoint(address, &at, &why)) {
        message(QMessageBox::Critical, QStringLiteral("Keystead"), why, QMessageBox::Ok);
        return;
    }
    QString made;
    const QString tokenArg = at.address.isLoopback() ? QString() : QStringLiteral("new");
    if (!m_remote->start(address, tokenArg, &why, &made)) {
        message(QMessageBox::Critical, QStringLiteral("Keystead"),
                QStringLiteral("The remote API cannot start: %1").arg(why), QMessageBox::Ok);
        return;
    }
    QString text = QStringLiteral("Open %1").arg(m_remote->url());
    if (m_remote->hasToken())
        text = QStringLiteral("Open %1?token=%2 in a browser (it then keeps the token).")
                   .arg(m_remote->url(), QString::fromLatin1(m_remote->token()));
    if (m_remote->hasToken())
        text += QStringLiteral("\n\nEvery request must carry the token\n%1\n(as \"Authorization: Bearer "
                               "TOKEN\"; kept in %2).")
                    .arg(QString::fromLatin1(m_remote->token()), made);
    message(QMessageBox::Information, QStringLiteral("Keystead"), text, QMessageBox::Ok);
}
