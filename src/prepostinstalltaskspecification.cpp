#include "prepostinstalltaskspecification.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QProcess>
#include <QWidget>

#include "configuration.h"

namespace {

/// The progress window, when one exists; found by its object name so that
/// the task tree does not depend on the window class.
QObject *progressWindow() {
    if (qobject_cast<QApplication *>(QCoreApplication::instance()) == nullptr) {
        return nullptr;
    }
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (widget->objectName() == QLatin1String("MainWindow") &&
            widget->metaObject()->indexOfSlot("onRebootWithConfirmation()") >= 0) {
            return widget;
        }
    }
    return nullptr;
}

}  // namespace

PrePostInstallListTaskSpecification::PrePostInstallListTaskSpecification(
    QList<InstallCommand> *commands, Configuration *configuration, QObject *parent, double weight)
    : ComposedTaskSpecification(1, parent, weight),
      m_Commands(commands),
      m_Configuration(configuration) {}

void PrePostInstallListTaskSpecification::execute() {
    if (m_Commands != nullptr && !m_Commands->isEmpty()) {
        emit message(QStringLiteral("Starting install condition"));
        for (InstallCommand &command : *m_Commands) {
            addSubtask(new PrePostInstallTaskSpecification(&command, m_Configuration, this, 0.1));
        }
    }
    m_State = Running;
    startSubtasks();
}

void PrePostInstallListTaskSpecification::reset() {
    clearSubtasks();
    resetTaskState();
}

PrePostInstallTaskSpecification::PrePostInstallTaskSpecification(InstallCommand *command,
                                                                 Configuration *configuration,
                                                                 QObject *parent, double weight)
    : ASyncTaskSpecification(parent, weight), m_Command(command), m_Configuration(configuration) {}

ASyncFunc *PrePostInstallTaskSpecification::createFunc() {
    auto *func = new PrePostInstallFunc(*m_Command, m_Configuration->m_TempDir);
    connect(func, &PrePostInstallFunc::reboot_with_confirmation, this,
            &PrePostInstallTaskSpecification::reboot_with_confirmation, Qt::QueuedConnection);
    if (QObject *window = progressWindow()) {
        connect(func, SIGNAL(reboot_with_confirmation()), window, SLOT(onRebootWithConfirmation()),
                Qt::QueuedConnection);
    }
    return func;
}

void PrePostInstallTaskSpecification::runDone(bool res) {
    if (res) {
        taskFinished();
    } else {
        taskFailed();
    }
}

PrePostInstallFunc::PrePostInstallFunc(const InstallCommand &command, const QString &tempDir)
    : m_Command(command), m_TempDir(tempDir) {}

bool PrePostInstallFunc::run() {
    QStringList args;
    args.reserve(m_Command.args.size());
    for (const QString &arg : qAsConst(m_Command.args)) {
        args << QStringLiteral("--") + arg;
    }
    const QString &name = m_Command.name;
    qDebug() << "Starting" << name << "args" << args;
    qDebug() << "temp dir:" << m_TempDir;
    emit message(QStringLiteral("Starting %1").arg(name));

    QProcess process;
    // Nobody reads the output; discarding it keeps a chatty program from
    // filling memory while it runs for a long time.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(m_TempDir + QDir::separator() + name, args, QIODevice::ReadOnly);
    qDebug() << "Starting" << name << "state" << process.state();
    if (!process.waitForStarted(kStartTimeoutMs)) {
        qDebug() << "Failed to start process, state =" << process.state()
                 << ", error =" << process.errorString();
        emit message(QStringLiteral("Failed to start %1: %2").arg(name, process.errorString()));
        process.kill();
        process.waitForFinished();
        return failed();
    }
    qDebug() << "Wait for started completed";
    if (!process.waitForFinished(-1)) {
        qDebug() << "Failed to run process, state =" << process.state()
                 << ", error =" << process.errorString();
        emit message(QStringLiteral("Failed to run %1: %2").arg(name, process.errorString()));
        return failed();
    }
    qDebug() << "Wait for finished completed";
    const int code = process.exitStatus() == QProcess::CrashExit ? -1 : process.exitCode();
    qDebug() << "Process exit code:" << code;
    return judgeExitCode(code);
}

bool PrePostInstallFunc::judgeExitCode(int code) {
    const QString &name = m_Command.name;
    if (code == 0) {
        emit message(QStringLiteral("%1 completed sucessfully").arg(name));
        return true;
    }
    // POSIX keeps only the low eight bits of an exit status, so a program
    // that exits with 1010 is seen as 242; both mean the restart request.
    if (code == kRebootExitCode || code == (kRebootExitCode & 0xFF)) {
        emit message(QStringLiteral("%1 completed sucessfully, reboot required").arg(name));
        emit reboot_with_confirmation();
        return true;
    }
    if (code == 1) {
        emit message(QStringLiteral("Failed to complete %1, exit code: %2").arg(name).arg(code));
    }
    return failed();
}
