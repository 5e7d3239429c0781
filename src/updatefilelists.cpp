#include "updatefilelists.h"

QString ReplaceItem::targetPath(const QString &prefix) const {
    QString path = targetName.isEmpty() ? name : targetName;
    if (!prefix.isEmpty()) {
        path.insert(path.lastIndexOf(QLatin1Char('/')) + 1, prefix);
    }
    if (section == QLatin1String("common_client")) {
        path.prepend(QLatin1String("SharedSupport/"));
    }
    return path;
}

void UpdateFileLists::clear() {
    downloadList.clear();
    replaceList.clear();
    deleteList.clear();
    preInstallList.clear();
    postInstallList.clear();
}
