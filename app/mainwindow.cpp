#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "app/logger.h"
#include "link/discovery.h"
#include "link/visa.h"
#include "tab/usbsticktab.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QSplashScreen>
#include <QTextDocument>
#include <QThread>
#include <QTime>

namespace {
// Splash texts sit right-aligned and vertically centred, padded away from
// the edge by trailing blanks.
constexpr int SplashAlignment = Qt::AlignRight | Qt::AlignVCenter;
constexpr unsigned long StartPauseMs = 1000;
constexpr unsigned long IdentifyPauseMs = 500;

// The splash draws anything that looks like markup as rich text; a text
// from an instrument must show as it is, blanks included.
QString splashText(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style=\"white-space:pre\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

// A tab label shows '&' itself instead of making a shortcut of the next letter.
QString tabLabel(const QString &serial)
{
    return QStringLiteral("SN:%1").arg(QString(serial).replace(QLatin1Char('&'), QStringLiteral("&&")));
}
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , aboutWindow(nullptr)
{
    ui->setupUi(this);
    // At least the form's width, and as wide as the text needs in the
    // desktop's font.
    QPushButton *search = ui->connected_devices_refresh_btn;
    search->setFixedWidth(qMax(search->minimumWidth(), search->sizeHint().width()));
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    splash = std::make_unique<QSplashScreen>(QPixmap(QStringLiteral(":/Pictures/USBStickSplash_Quorvex.png")));
    splash->show();
    QCoreApplication::processEvents();
    connect(this, SIGNAL(splashMessage(QString,int)), splash.get(), SLOT(showMessage(QString,int)));
    emit splashMessage(QStringLiteral("Initializing...") + QString(13, QLatin1Char(' ')), SplashAlignment);
    QThread::msleep(StartPauseMs);

    runLog = std::make_unique<logger>();
    connect(this, SIGNAL(logMessage(QString)), runLog.get(), SLOT(new_log(QString)));
    connect(this, &MainWindow::logMessage, this, &MainWindow::showLatestMessage);

    scanForDevices();
}

MainWindow::~MainWindow()
{
    // However the panel ends (an exit signal too), a sweep ends with its
    // stop line while the run log is still there.
    closeSweepWindows();
    delete ui;
    if (scanResourceManager != visa::NullSession)
        visa::close(scanResourceManager);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Windows left open (About, a state viewer) keep the panel running, but
    // no sweep goes on without the window that holds its tab.
    closeSweepWindows();
    QMainWindow::closeEvent(event);
}

void MainWindow::closeSweepWindows()
{
    for (UsbStickTab *tab : std::as_const(stickTabs))
        tab->closeSweepWindow();
}

void MainWindow::on_connected_devices_refresh_btn_clicked()
{
    if (scanning)
        return; // the running scan rebuilds the tabs anyway
    emit closing();
    scanForDevices();
}

void MainWindow::on_About_btn_clicked()
{
    aboutWindow.show();
}

void MainWindow::connectionLost()
{
    if (scanning)
        return; // the tab reports again on its next attempt, after this scan
    emit closing();
    scanForDevices();
}

void MainWindow::showLatestMessage(const QString &msg)
{
    // One line, stamped and escaped like the run log's lines.
    ui->status_lbl->setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(' ')
                            + logger::oneLine(msg));
}

void MainWindow::scanForDevices()
{
    scanning = true;
    // Every tab of the previous scan has closed on closing(); its resource
    // manager has no user left.
    if (scanResourceManager != visa::NullSession) {
        visa::close(scanResourceManager);
        scanResourceManager = visa::NullSession;
    }

    visa::Session rm = visa::NullSession;
    const bool managerOpen = visa::openDefaultRM(&rm) >= 0;

    stickTabs.clear();
    // Device tabs delete themselves; any other page (the "N/A" label) is ours.
    QList<QWidget *> otherPages;
    for (int i = 0; i < ui->tabWidget->count(); ++i) {
        if (!qobject_cast<UsbStickTab *>(ui->tabWidget->widget(i)))
            otherPages << ui->tabWidget->widget(i);
    }
    ui->tabWidget->clear();
    qDeleteAll(otherPages);

    const QStringList descriptors =
        managerOpen ? visa::findResources(rm, QStringLiteral("USB?*")) : QStringList();
    for (const QString &descriptor : descriptors) {
        const discovery::DescriptorFields fields = discovery::descriptorFields(descriptor);
        if (!fields.complete || !discovery::isSupportedProductId(fields.productId))
            continue;

        emit splashMessage(splashText(descriptor + QString(13, QLatin1Char(' '))), SplashAlignment);
        QThread::msleep(IdentifyPauseMs);

        const discovery::Identification id =
            discovery::parseIdentification(discovery::identify(rm, descriptor));
        if (!discovery::isAccepted(fields.productId, id))
            continue;

        auto *tab = new UsbStickTab(rm, descriptor, id.firmware, id.model, fields.serial, fields.productId);
        tab->setAttribute(Qt::WA_DeleteOnClose);
        stickTabs.append(tab);
        ui->tabWidget->addTab(tab, tabLabel(fields.serial));
        connect(ui->tabWidget, SIGNAL(currentChanged(int)), tab, SLOT(tabsChanged()));
        connect(this, SIGNAL(closing()), tab, SLOT(closeStateViewer()));
        connect(tab, SIGNAL(logMsg(QString)), this, SIGNAL(logMessage(QString)));
        connect(tab, SIGNAL(connectionLost()), this, SLOT(connectionLost()));
    }

    if (!stickTabs.isEmpty()) {
        // The operator may have picked a tab while the splash let events
        // through: only the current tab polls, whichever it is.
        for (UsbStickTab *tab : std::as_const(stickTabs))
            tab->tabsChanged();
        if (auto *current = qobject_cast<UsbStickTab *>(ui->tabWidget->currentWidget()))
            current->startRefresh();
        scanResourceManager = rm;
    } else {
        emit splashMessage(QStringLiteral("No devices were found") + QString(14, QLatin1Char(' ')),
                           SplashAlignment);
        auto *label = new QLabel(QStringLiteral("\nNo devices were found\n"));
        label->setAlignment(Qt::AlignHCenter);
        ui->tabWidget->addTab(label, QStringLiteral("N/A"));
        if (managerOpen)
            visa::close(rm);
    }
    splash->close();
    scanning = false;
}
