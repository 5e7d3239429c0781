#include "mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "configuration.h"
#include "processtools.h"
#include "updateengine.h"
#include "urlclicklabel.h"

/// The window's widgets, in layout order.
struct MainWindowUi {
    QVBoxLayout *verticalLayout = nullptr;
    QHBoxLayout *horizontalLayout_2 = nullptr;
    QLabel *versionLabel = nullptr;
    UrlClickLabel *voxmereLabel = nullptr;
    UrlClickLabel *banner = nullptr;
    QProgressBar *totalProgressBar = nullptr;
    QTextEdit *outputTextEdit = nullptr;
    QHBoxLayout *horizontalLayout_3 = nullptr;
    QLabel *makerLabel = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QPushButton *detailsButton = nullptr;
};

MainWindow *MainWindow::s_Instance = nullptr;

namespace {

const char kMakerUrl[] = "https://www.voxmere.example/";
constexpr int kStartUpDelayMs = 1000;
constexpr int kProgressMax = 1000;
constexpr int kWindowWidth = 486;
constexpr int kWindowHeight = 298;
constexpr int kBannerWidth = 468;
constexpr int kBannerHeight = 60;
constexpr int kDetailsMaxHeight = 100;
constexpr int kExitConfigurationError = 1;
constexpr int kExitEngineError = 2;

const char *const kTools[] = {"update", "plugin_setup", "crash_sender", "QtWebEngineProcess"};
const char *const kQtModules[] = {
    "Core", "Gui",        "Widgets",       "Network",          "PrintSupport", "Quick",
    "Qml",  "WebChannel", "WebEngineCore", "WebEngineWidgets", "Positioning"};
const char *const kWebEngineResources[] = {"icudtl.dat", "qtwebengine_resources.pak",
                                           "qtwebengine_resources_100p.pak",
                                           "qtwebengine_resources_200p.pak"};

/// Bar value for a root progress: truncated thousandths, clamped to the bar,
/// since the weights of the pipeline steps add up to more than 1.
int barValue(double doneFrac) {
    if (!(doneFrac > 0.0)) {  // also NaN
        return 0;
    }
    if (doneFrac >= 1.0) {
        return kProgressMax;
    }
    return static_cast<int>(doneFrac * kProgressMax);
}

QString channelName(int channel) {
    switch (channel) {
        case 0:
            return MainWindow::tr("Stable");
        case 1:
            return MainWindow::tr("Beta");
        case 2:
            return MainWindow::tr("Alpha");
        default:
            return QString();
    }
}

}  // namespace

/// The images are compiled into the static updater library, whose resource
/// initialiser the linker would otherwise drop; must run outside a namespace.
static void initImageResources() {
    Q_INIT_RESOURCE(images);
}

MainWindow::MainWindow(Configuration *configuration) : MainWindow(configuration, nullptr) {}

MainWindow::MainWindow(Configuration *configuration, UpdateEngine *engine)
    : m_Ui(new MainWindowUi), m_Config(configuration), m_Engine(engine) {
    initImageResources();
    if (m_Engine == nullptr) {
        m_Engine = new UpdateEngine(configuration, this);
    } else {
        m_Engine->setParent(this);
    }
    s_Instance = this;
    connectEngine();
    buildWidgets();
    connectConfiguration();
}

MainWindow::~MainWindow() {
    s_Instance = nullptr;
    delete m_Ui;
}

void MainWindow::connectEngine() {
    connect(m_Engine, &UpdateEngine::error, this, &MainWindow::onEngineError);
    connect(m_Engine, &UpdateEngine::fatalError, this, &MainWindow::onFatalError);
    connect(m_Engine, &UpdateEngine::updateProgress, this, &MainWindow::onProgress);
    connect(m_Engine, &UpdateEngine::message, this, &MainWindow::onAppendText);
    connect(m_Engine, &UpdateEngine::updateFinished, this, &MainWindow::onUpdateFinished);
    connect(m_Engine, &UpdateEngine::updateCanceled, this, &MainWindow::onUpdateCanceled);
}

void MainWindow::buildWidgets() {
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("MainWindow"));
    }
    resize(kWindowWidth, kWindowHeight);
    MainWindowUi &ui = *m_Ui;
    ui.verticalLayout = new QVBoxLayout(this);
    ui.verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    ui.verticalLayout->setSizeConstraint(QLayout::SetFixedSize);

    ui.horizontalLayout_2 = new QHBoxLayout();
    ui.horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    ui.versionLabel = new QLabel(this);
    ui.versionLabel->setObjectName(QStringLiteral("versionLabel"));
    ui.versionLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui.versionLabel->setTextFormat(Qt::RichText);
    ui.horizontalLayout_2->addWidget(ui.versionLabel);
    ui.voxmereLabel = new UrlClickLabel(this);
    ui.voxmereLabel->setObjectName(QStringLiteral("voxmereLabel"));
    ui.voxmereLabel->setCursor(Qt::PointingHandCursor);
    ui.voxmereLabel->setPixmap(QPixmap(QStringLiteral(":/voxmere_logo")));
    ui.voxmereLabel->setScaledContents(true);
    ui.horizontalLayout_2->addWidget(ui.voxmereLabel);
    ui.verticalLayout->addLayout(ui.horizontalLayout_2);

    ui.banner = new UrlClickLabel(this);
    ui.banner->setObjectName(QStringLiteral("banner"));
    ui.banner->setMinimumSize(kBannerWidth, kBannerHeight);
    ui.banner->setCursor(Qt::PointingHandCursor);
    ui.banner->setPixmap(QPixmap(QStringLiteral(":/voxmere_banner")));
    ui.banner->setScaledContents(true);
    ui.verticalLayout->addWidget(ui.banner);

    ui.totalProgressBar = new QProgressBar(this);
    ui.totalProgressBar->setObjectName(QStringLiteral("totalProgressBar"));
    ui.totalProgressBar->setMaximum(kProgressMax);
    ui.totalProgressBar->setValue(0);
    ui.totalProgressBar->setAlignment(Qt::AlignCenter);
    ui.verticalLayout->addWidget(ui.totalProgressBar);

    ui.outputTextEdit = new QTextEdit(this);
    ui.outputTextEdit->setObjectName(QStringLiteral("outputTextEdit"));
    ui.outputTextEdit->setMaximumSize(QWIDGETSIZE_MAX, kDetailsMaxHeight);
    ui.outputTextEdit->setTabChangesFocus(true);
    ui.outputTextEdit->setLineWrapMode(QTextEdit::NoWrap);
    ui.outputTextEdit->setReadOnly(true);
    ui.verticalLayout->addWidget(ui.outputTextEdit);

    ui.horizontalLayout_3 = new QHBoxLayout();
    ui.horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    ui.makerLabel = new QLabel(this);
    ui.makerLabel->setObjectName(QStringLiteral("makerLabel"));
    ui.makerLabel->setTextFormat(Qt::RichText);
    ui.makerLabel->setOpenExternalLinks(true);
    ui.makerLabel->setText(
        QStringLiteral("<small>") +
        tr("Voxmere Client Update by <a href=\"%1\">Voxmere</a>").arg(QLatin1String(kMakerUrl)) +
        QStringLiteral("</small>"));
    ui.horizontalLayout_3->addWidget(ui.makerLabel);
    ui.horizontalSpacer = new QSpacerItem(0, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    ui.horizontalLayout_3->addItem(ui.horizontalSpacer);
    ui.detailsButton = new QPushButton(this);
    ui.detailsButton->setObjectName(QStringLiteral("detailsButton"));
    ui.detailsButton->setCheckable(true);
    ui.horizontalLayout_3->addWidget(ui.detailsButton);
    ui.verticalLayout->addLayout(ui.horizontalLayout_3);
    setTabOrder(ui.outputTextEdit, ui.detailsButton);

    setWindowTitle(tr("Voxmere Client Update"));
    ui.detailsButton->setText(tr("Details"));
    connect(ui.detailsButton, &QPushButton::toggled, ui.outputTextEdit, &QTextEdit::setVisible);
    // Queued: runs after the toggle has made the text visible.
    connect(
        ui.detailsButton, &QPushButton::clicked, this,
        [this] {
            if (m_Ui->outputTextEdit->isVisible()) {
                QScrollBar *bar = m_Ui->outputTextEdit->verticalScrollBar();
                bar->setValue(bar->maximum());
            }
        },
        Qt::QueuedConnection);

    ui.voxmereLabel->setUrl(QLatin1String(kMakerUrl));
    ui.banner->setUrl(QLatin1String(kMakerUrl));
    ui.voxmereLabel->hide();
    ui.outputTextEdit->hide();
}

void MainWindow::connectConfiguration() {
    connect(m_Config, &Configuration::fatalError, this, [this](const QString &text) {
        showCritical(tr("Error"), text);
        QCoreApplication::exit(kExitConfigurationError);
    });
    connect(m_Config, &Configuration::ready, this, &MainWindow::onStartUpdate);
}

void MainWindow::showEvent(QShowEvent *event) {
    const int side = m_Ui->versionLabel->height();
    m_Ui->voxmereLabel->setMaximumWidth(side);
    m_Ui->voxmereLabel->setMaximumHeight(side);
    m_Ui->voxmereLabel->show();
    QWidget::showEvent(event);
}

void MainWindow::updateHeader() {
    QString html;
    if (!m_Config->m_VersionString.isEmpty()) {
        html += QStringLiteral("<div style=\"font-weight:bold;font-size:large\">") +
                tr("Update to Voxmere %1").arg(m_Config->m_VersionString) +
                QStringLiteral("</div>");
    }
    html += QStringLiteral("<div style=\"margin-top:0.2em\">") +
            tr("You are currently on <strong>%1 channel</strong>.")
                .arg(channelName(m_Config->m_Channel)) +
            QStringLiteral("</div>");
    html += QStringLiteral("<div style=\"margin-top:0.2em;font-style:italic\">") +
            (m_Config->m_IsClientUpdate != 0 ? tr("Step two: Updating Voxmere client")
                                             : tr("Step one: Updating updater")) +
            QStringLiteral("</div>");
    m_Ui->versionLabel->setText(html);
}

void MainWindow::onStartUpdate() {
    qDebug() << "onStartUpdate" << m_Finished << m_Started;
    if (m_Finished || m_Started) {
        return;
    }
    if (m_Engine->isSessionActive()) {
        qDebug() << "Session already active";
        return;
    }
    if (!m_Config->m_Ready) {
        qDebug() << "Aborting start update, configuration not yet ready";
        return;
    }
    // One attempt per process: a session that could not be prepared has
    // already been reported, and a later trigger (the start-up tick after
    // ready(), or the other way round) must not report it a second time.
    m_Started = true;
    if (!m_Engine->initialize()) {
        return;
    }
    qDebug() << "Update engine initialized";
    m_Engine->startUpdate();
}

void MainWindow::onAppendText(const QString &text) {
    // The log holds what the details showed, so that a failed update can be
    // explained from the log file alone.
    qDebug() << "Details:" << text;
    m_Ui->outputTextEdit->append(text);
}

void MainWindow::onEngineError(const QString &errorMessage) {
    onAppendText(errorMessage);
    showCritical(tr("Error"), errorMessage);
}

void MainWindow::onProgress(double doneFrac) {
    m_Ui->totalProgressBar->setValue(barValue(doneFrac));
}

void MainWindow::showCritical(const QString &title, const QString &text) {
    // The log tells what the user was shown.
    qDebug() << "Message box" << title << text;
    QMessageBox::critical(this, title, text, QMessageBox::Ok);
}

void MainWindow::onFatalError(const QString &errorMessage) {
    showCritical(tr("Error"), errorMessage);
    QCoreApplication::exit(kExitEngineError);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (!m_Engine->isSessionActive()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_AbortRequested) {
        return;
    }
    const auto answer = QMessageBox::question(
        this, tr("Question"),
        tr("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        m_AbortRequested = true;
        m_Engine->cancelUpdate();
    }
}

void MainWindow::onUpdateCanceled() {
    if (m_AbortRequested) {
        QCoreApplication::exit(0);
        return;
    }
    m_Finished = false;
    m_Engine->resetAfterCancel();
    onAppendText(tr("Update cancelled"));
    m_Ui->totalProgressBar->setValue(0);
    if (m_CanceledBoxOpen) {
        return;
    }
    m_CanceledBoxOpen = true;
    showCritical(tr("Update"), tr("Update cancelled. Push \"Details\" to check reasons."));
    m_CanceledBoxOpen = false;
}

void MainWindow::onUpdateFinished() {
    qDebug() << "onUpdateFinished";
    m_Finished = true;
    if (m_RebootPending) {
        return;
    }
    if (m_Config->m_IsClientUpdate == 0) {
        QTimer::singleShot(kStartUpDelayMs, this, &MainWindow::onStartNewUpdater);
        return;
    }
    repairToolLinks();
    QTimer::singleShot(kStartUpDelayMs, this, &MainWindow::startClientAndClose);
}

void MainWindow::repairToolLinks() {
    const QString shared = m_Config->m_InstallDir + QStringLiteral("SharedSupport/");
    const QString frameworks = QStringLiteral("../../../../Frameworks/");
    for (const char *tool : kTools) {
        const QString dir =
            shared + QLatin1String(tool) + QStringLiteral(".app/Contents/Frameworks");
        for (const char *module : kQtModules) {
            const QString library =
                QStringLiteral("libQt5") + QLatin1String(module) + QStringLiteral(".dylib");
            const QString link = dir + QLatin1Char('/') + library;
            if (QFileInfo::exists(link) || QFileInfo(link).isSymLink()) {
                continue;
            }
            QDir().mkdir(dir);
            QFile::link(frameworks + library, link);
            qDebug() << "Creating tools framework symlink:" << frameworks + library << link;
        }
    }
    makeSymlink(frameworks + QStringLiteral("libquazip.dylib"),
                shared + QStringLiteral("crash_sender.app/Contents/Frameworks/libquazip.dylib"));
    const QString webEngine = shared + QStringLiteral("QtWebEngineProcess.app/Contents/MacOS/");
    for (const char *resource : kWebEngineResources) {
        makeSymlink(QStringLiteral("../../../../Data/resources/") + QLatin1String(resource),
                    webEngine + QLatin1String(resource));
    }
    makeSymlink(QStringLiteral("../../../../qtwebengine_locales"),
                webEngine + QStringLiteral("qtwebengine_locales"));
}

void MainWindow::makeSymlink(const QString &target, const QString &link) {
    if (QFile::link(target, link)) {
        return;
    }
    if (!QFile::remove(link)) {
        return;
    }
    if (!QFile::link(target, link)) {
        qDebug() << "Failed to create symlink" << target << "->" << link;
    }
}

void MainWindow::startClientAndClose() {
    if (m_Config->m_IsClientUpdate == 1) {
        ProcessTools::startVxmClient(m_Config->m_InstallDir);
    }
    close();
}

void MainWindow::onStartNewUpdater() {
    qDebug() << "onStartNewUpdater";
    const QStringList arguments = {
        QStringLiteral("--clientupdate"), Configuration::defaultClientType(1),
        QString::number(m_Config->m_VersionNumber),
        m_Config->m_VersionString.isEmpty() ? QStringLiteral("#") : m_Config->m_VersionString};
    ProcessTools::startClientUpdater(m_Config->m_TempDir, arguments);
    close();
}

void MainWindow::onRebootWithConfirmation() {
    qDebug() << "onRebootWithConfirmation";
    m_RebootPending = true;
    const auto answer = QMessageBox::question(
        this, tr("Confirm reboot"),
        tr("<p>A computer restart is required to proceed with the client update. If you do not "
           "reboot now, the Voxmere update will be cancelled.</p><p>Do you want to reboot "
           "now?</p>"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        write_force_update_file(QStringLiteral("vxm_force_update"));
        QApplication::beep();
    } else {
        write_force_update_file(QStringLiteral("vxm_force_update_check"));
    }
    QCoreApplication::exit(0);
}

void MainWindow::write_force_update_file(const QString &name) {
    QFile file(QDir::tempPath() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        onAppendText(tr("Failed to store force update notice"));
        qDebug() << "Failed to store force update notice";
        return;
    }
    file.close();
}

void MainWindow::delete_force_update_files() {
    qDebug() << "delete_force_update_files" << m_Config->m_IsClientUpdate;
    if (m_Config->m_IsClientUpdate != 0) {
        return;
    }
    QFile::remove(QDir::tempPath() + QStringLiteral("/vxm_force_update"));
    QFile::remove(QDir::tempPath() + QStringLiteral("/vxm_force_update_check"));
}
