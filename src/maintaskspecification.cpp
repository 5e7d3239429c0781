#include "maintaskspecification.h"

#include "configuration.h"
#include "downloadtaskspecification.h"
#include "filedeletetaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "prepostinstalltaskspecification.h"
#include "updateselfunziptaskspecification.h"

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager *manager,
                                             Configuration *configuration, QObject *parent,
                                             double weight)
    : ComposedTaskSpecification(1, parent, weight),
      m_Manager(manager),
      m_Configuration(configuration) {}

void MainTaskSpecification::execute() {
    emit message(QStringLiteral("Starting update process for ") +
                 (m_Configuration->m_IsClientUpdate != 0 ? QStringLiteral("client")
                                                         : QStringLiteral("updater")));
    makeSubtasksAndStart();
}

void MainTaskSpecification::makeSubtasksAndStart() {
    addSubtask(new IniDownloadTaskSpecification(m_Manager, m_Configuration, this, 0.1));
    addSubtask(new MakeDownloadReplaceListTaskSpecification(m_Configuration, &m_Lists, this, 0.05));
    addSubtask(new DownloadFileListTaskSpecification(&m_Lists.downloadList, m_Manager,
                                                     m_Configuration, this, 0.4));
    addSubtask(new PrePostInstallListTaskSpecification(&m_Lists.preInstallList, m_Configuration,
                                                       this, 0.1));
    if (m_Configuration->m_IsClientUpdate == 1) {
        addSubtask(
            new FileReplaceListTaskSpecification(&m_Lists.replaceList, m_Configuration, this, 0.4));
        addSubtask(
            new FileDeleteListTaskSpecification(&m_Lists.deleteList, m_Configuration, this, 0.05));
    } else {
        addSubtask(
            new UpdateSelfUnzipTaskSpecification(&m_Lists.replaceList, m_Configuration, this, 0.4));
    }
    addSubtask(new PrePostInstallListTaskSpecification(&m_Lists.postInstallList, m_Configuration,
                                                       this, 0.1));
    m_State = Running;
    startSubtasks();
}

void MainTaskSpecification::reset() {
    clearSubtasks();
    m_Lists.clear();
    resetTaskState();
}
