#include "enginetestsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include "configuration.h"

void ScriptedTask::execute() {
    m_State = Running;
}

void ScriptedTask::cancel() {
    TaskSpecification::cancel();
    if (m_State == Running) {
        QTimer::singleShot(0, this, [this] { taskCanceled(); });
    }
}

void ScriptedTask::getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                       bool &downloading) {
    done = m_Done;
    total = m_Total;
    speed = m_Speed;
    downloading = m_Downloading;
}

void ScriptedTask::fail(const QString &errorText) {
    emit error(errorText);
    taskFailed();
}

TaskSpecification *TestEngine::createMainTask(QNetworkAccessManager *, Configuration *) {
    auto *task = new ScriptedTask(this);
    m_Tasks.append(task);
    return task;
}

ModalAnswerer::ModalAnswerer(QList<int> answers) : m_Answers(std::move(answers)) {
    connect(&m_Timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_Timer.start(20);
}

void ModalAnswerer::poll() {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) {
        return;
    }
    const int answer = m_Answers.isEmpty() ? QMessageBox::Ok : m_Answers.takeFirst();
    m_Seen.append(box->windowTitle() + QStringLiteral(": ") + box->text());
    QAbstractButton *button = box->button(static_cast<QMessageBox::StandardButton>(answer));
    if (button != nullptr) {
        button->click();
    } else {
        box->reject();
    }
}

TestBundle::TestBundle()
    : m_Contents(QDir::tempPath() + QStringLiteral("/Voxmere Client.app/Contents/")),
      m_Base(m_Contents + QStringLiteral("SharedSupport/")) {
    QDir().mkpath(m_Base);
    Configuration::overrideUpdaterBaseDir(m_Base);
}

TestBundle::~TestBundle() {
    Configuration::overrideUpdaterBaseDir(QString());
    QDir(QDir::tempPath() + QStringLiteral("/Voxmere Client.app")).removeRecursively();
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

bool clearTestTempDir() {
    const QString root = qEnvironmentVariable("VXM_TEST_ROOT");
    const QString temp = QDir::tempPath();
    if (root.isEmpty() || temp.isEmpty() || !temp.startsWith(QDir(root).canonicalPath())) {
        return false;
    }
    UpdateEngine::removeDirRecursively(temp);
    return true;
}

int runEventLoop(int limitMs) {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(-99); });
    watchdog.start(limitMs);
    return QApplication::exec();
}
