#pragma once

#include <QString>

#include "composedtaskspecification.h"

class CheckSignatureTaskSpecification;
class Configuration;
class QNetworkAccessManager;

/// The first step of an update pass: makes sure the temporary directory
/// holds this pass's product ini, unpacked from its "._lzma2_" container,
/// and its ".sig" signature, and verifies the ini against the signature.
///
/// Files already present from an interrupted run are reused: an existing
/// ini is neither fetched nor unpacked again, an existing ".sig" not
/// fetched again. Subtasks run one after another: container download,
/// unpack, signature download, check. A signature that does not verify
/// ends the step (and so the update) Failed with "Could not verify the
/// product ini file. Aborting"; nothing is deleted.
class IniDownloadTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    /// The manager and the configuration are not owned.
    IniDownloadTaskSpecification(QNetworkAccessManager *manager, Configuration *configuration,
                                 QObject *parent, double weight);

    /// "vxm_client_macosx.ini" for the client pass (flag 1), "client_macosx.ini"
    /// for another non-zero flag, "update_macosx.ini" for the updater pass (0).
    static QString iniName(int isClientUpdate);
    /// The ini name + "._lzma2_".
    static QString compressedName(int isClientUpdate);
    /// The ini name + ".sig".
    static QString signatureName(int isClientUpdate);

public slots:
    void execute() override;
    /// Disposes of the subtasks so that the next execute() looks at the
    /// temporary directory afresh.
    void reset() override;

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task);

private:
    void makeSubtasksAndStart();
    /// Adds the transfer of `name` into the temporary directory (size unknown).
    void addDownload(const QString &name, double weight);
    QString tempPath(const QString &name) const;

    QNetworkAccessManager *m_Manager;
    Configuration *m_Configuration;
};
