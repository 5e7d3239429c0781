#pragma once

#include <QString>
#include <QWidget>

class Configuration;
class QCloseEvent;
class QShowEvent;
class UpdateEngine;
struct MainWindowUi;

/// The updater's only window: header, progress bar, details log and the
/// maker's line. It owns the update engine, starts the session once the
/// configuration is ready, shows errors in message boxes, refuses to close
/// during a session unless the user confirms the abort, and hands over at
/// the end: to the new updater after a first pass, to the client (after
/// repairing the tool applications' links) after a second pass.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    /// Creates the window and its default update engine.
    explicit MainWindow(Configuration *configuration);
    /// Adopts `engine` (made with `configuration`) as the window's engine
    /// instead of creating one; it becomes the window's child.
    MainWindow(Configuration *configuration, UpdateEngine *engine);
    ~MainWindow() override;

    /// The window while it exists; the pre/post-install commands connect
    /// their reboot request through it.
    static MainWindow *s_Instance;

    /// Composes the header from the configuration; called once before show.
    void updateHeader();
    /// First pass only: removes both force-update notice files.
    void delete_force_update_files();
    /// Creates or truncates the empty notice file QDir::tempPath()/name.
    void write_force_update_file(const QString &name);

public slots:
    void onRebootWithConfirmation();

private slots:
    void onFatalError(const QString &errorMessage);
    void onStartUpdate();
    void onStartNewUpdater();
    void onAppendText(const QString &text);
    void onUpdateFinished();
    void onUpdateCanceled();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void connectEngine();
    void buildWidgets();
    void connectConfiguration();
    void onEngineError(const QString &errorMessage);
    void showCritical(const QString &title, const QString &text);
    void onProgress(double doneFrac);
    void repairToolLinks();
    void startClientAndClose();
    static void makeSymlink(const QString &target, const QString &link);

    MainWindowUi *m_Ui;
    Configuration *m_Config;
    UpdateEngine *m_Engine;
    bool m_Finished = false;
    bool m_AbortRequested = false;
    bool m_Started = false;
    bool m_RebootPending = false;
    bool m_CanceledBoxOpen = false;
};
