#pragma once

#include <QList>

#include "asynctaskspecification.h"
#include "composedtaskspecification.h"
#include "updatefilelists.h"

class Configuration;

/// Runs the product's pre- or post-install commands one after another. A
/// required command that fails ends the list Failed and the remaining
/// commands never start. The list is read when the task executes.
class PrePostInstallListTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    PrePostInstallListTaskSpecification(QList<InstallCommand> *commands,
                                        Configuration *configuration, QObject *parent,
                                        double weight);

public slots:
    void execute() override;
    void reset() override;

private:
    QList<InstallCommand> *m_Commands;
    Configuration *m_Configuration;
};

/// One command, run on the thread pool by PrePostInstallFunc.
class PrePostInstallTaskSpecification : public ASyncTaskSpecification {
    Q_OBJECT

public:
    PrePostInstallTaskSpecification(InstallCommand *command, Configuration *configuration,
                                    QObject *parent, double weight);

signals:
    /// The command asked for a restart of the computer (exit code 1010);
    /// delivered on the main thread.
    void reboot_with_confirmation();

protected:
    ASyncFunc *createFunc() override;
    void runDone(bool res) override;

private:
    InstallCommand *m_Command;
    Configuration *m_Configuration;
};

/// Starts the command's program from the session's temporary directory with
/// "--" in front of every argument, waits for it without a time limit and
/// judges its exit code: 0 success, 1010 success with a restart request,
/// anything else (a crash counts as -1) failure, tolerated for an optional
/// command. The program's output is discarded.
class PrePostInstallFunc : public ASyncFunc {
    Q_OBJECT

public:
    /// Exit code by which a command asks for a restart of the computer.
    static constexpr int kRebootExitCode = 1010;
    /// How long the program may take to start.
    static constexpr int kStartTimeoutMs = 30000;

    /// Copies the command and the temporary directory: the worker never
    /// touches the main thread's objects while it runs.
    PrePostInstallFunc(const InstallCommand &command, const QString &tempDir);

    bool run() override;

signals:
    void reboot_with_confirmation();

private:
    /// The result of a failure: false only for a required command.
    bool failed() const { return !m_Command.required; }
    bool judgeExitCode(int code);

    InstallCommand m_Command;
    QString m_TempDir;
};
