#pragma once

#include "fastfileoptaskspecification.h"

/// Creates a directory together with its missing parents, recording each
/// directory it creates as DIR_CREATE, parents before children, so that the
/// journal removes children first. An existing directory is success and
/// records nothing. A creation that fails part way leaves the parents it
/// made in place and recorded.
class DirCreateTaskSpecification : public FastFileOpTaskSpecification {
    Q_OBJECT

public:
    DirCreateTaskSpecification(const QString &path, RollbackDataList *rollback, QObject *parent,
                               double weight);

protected:
    bool doOp() override;

private:
    bool createDir(const QString &dir);
};
