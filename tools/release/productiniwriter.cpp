#include "productiniwriter.h"

#include <QFile>
#include <QSettings>
#include <QVariant>

const QString ProductIniWriter::kDeleteSection = QStringLiteral("delete");
const QString ProductIniWriter::kPreInstallSection = QStringLiteral("preinstall");
const QString ProductIniWriter::kPostInstallSection = QStringLiteral("postinstall");
const QString ProductIniWriter::kPatchSuffix = QStringLiteral("_patch_");

namespace {

const QString kPartSeparator = QStringLiteral("::");

QString joinParts(std::initializer_list<QString> parts) {
    return QStringList(parts).join(kPartSeparator);
}

QString sizeText(quint64 size) {
    return QString::number(size);
}

bool setWhy(QString *why, const QString &text) {
    if (why != nullptr) {
        *why = text;
    }
    return false;
}

}  // namespace

bool ProductIniWriter::isPublishableName(const QString &name, QString *why) {
    if (name.isEmpty()) {
        return setWhy(why, QStringLiteral("empty name"));
    }
    if (name.trimmed() != name) {
        return setWhy(why, QStringLiteral("leading or trailing white space in '%1'").arg(name));
    }
    if (name.contains(QLatin1Char('\\'))) {
        return setWhy(why, QStringLiteral("backslash in '%1'").arg(name));
    }
    if (name.contains(kPartSeparator)) {
        return setWhy(why, QStringLiteral("'::' in '%1'").arg(name));
    }
    for (const QString &component : name.split(QLatin1Char('/'))) {
        if (component.isEmpty() || component == QLatin1String(".") ||
            component == QLatin1String("..")) {
            return setWhy(why, QStringLiteral("not a plain relative path: '%1'").arg(name));
        }
    }
    return true;
}

bool ProductIniWriter::addWholeFile(const QString &section, const QString &name,
                                    const FileDigest &download) {
    if (!checkFileLine(section, name)) {
        return false;
    }
    return append(section, name, {joinParts({download.hash, sizeText(download.size)})});
}

bool ProductIniWriter::addTransformedFile(const QString &section, const QString &name,
                                          const FileDigest &download, const FileDigest &result,
                                          const QString &target) {
    QString why;
    if (!isPublishableName(target, &why)) {
        return reject(QStringLiteral("target of '%1': %2").arg(name, why));
    }
    if (target == name) {
        return reject(QStringLiteral("download '%1' has the name of its target").arg(name));
    }
    if (!checkFileLine(section, name)) {
        return false;
    }
    return append(section, name,
                  {joinParts({download.hash, sizeText(download.size), result.hash,
                              sizeText(result.size), target})});
}

bool ProductIniWriter::addPatch(const QString &section, const QString &name,
                                const FileDigest &patch, const FileDigest &old,
                                const QString &target) {
    QString why;
    if (!isPublishableName(target, &why)) {
        return reject(QStringLiteral("target of '%1': %2").arg(name, why));
    }
    if (!checkFileSection(section, name)) {
        return false;
    }
    if (!name.endsWith(kPatchSuffix)) {
        return reject(QStringLiteral("patch '%1' does not end with %2").arg(name, kPatchSuffix));
    }
    return append(
        section, name,
        {joinParts({patch.hash, sizeText(patch.size), old.hash, sizeText(old.size), target})});
}

bool ProductIniWriter::addDelete(const QString &path, bool recursive) {
    QString why;
    if (!isPublishableName(path, &why)) {
        return reject(QStringLiteral("delete line: %1").arg(why));
    }
    return append(kDeleteSection, path, {recursive ? QStringLiteral("2") : QStringLiteral("1")});
}

bool ProductIniWriter::addCommand(Phase phase, const QString &name, const QStringList &args,
                                  bool optional) {
    QString why;
    if (!isPublishableName(name, &why)) {
        return reject(QStringLiteral("command: %1").arg(why));
    }
    for (const QString &arg : args) {
        if (arg.isEmpty() || arg.contains(kPartSeparator)) {
            return reject(
                QStringLiteral("command '%1': empty argument or '::' in '%2'").arg(name, arg));
        }
    }
    if (optional && args.isEmpty()) {
        return reject(
            QStringLiteral("command '%1': an optional command needs at least one argument")
                .arg(name));
    }
    QStringList elements{QStringLiteral("mac")};
    if (!args.isEmpty()) {
        elements.append(args.join(kPartSeparator));
    }
    if (optional) {
        elements.append(QStringLiteral("optional"));
    }
    return append(phase == Phase::PreInstall ? kPreInstallSection : kPostInstallSection, name,
                  elements, true);
}

bool ProductIniWriter::write(const QString &path, QString *error) const {
    if (!m_Error.isEmpty()) {
        *error = m_Error;
        return false;
    }
    // QSettings merges with an existing file; the ini must hold only our lines.
    if (QFile::exists(path) && !QFile::remove(path)) {
        *error = QStringLiteral("cannot replace %1").arg(path);
        return false;
    }
    QSettings ini(path, QSettings::IniFormat);
    for (const Line &line : m_Lines) {
        ini.beginGroup(line.section);
        if (line.isList && line.value.size() > 1) {
            ini.setValue(line.key, line.value);
        } else {
            ini.setValue(line.key, line.value.value(0));
        }
        ini.endGroup();
    }
    ini.sync();
    if (ini.status() != QSettings::NoError || !QFile::exists(path)) {
        QFile::remove(path);
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

bool ProductIniWriter::checkFileSection(const QString &section, const QString &name) {
    if (section == kDeleteSection || section == kPreInstallSection ||
        section == kPostInstallSection || section == QLatin1String("General") ||
        section.isEmpty() || section.contains(QLatin1Char('/')) ||
        section.contains(QLatin1Char('\\'))) {
        return reject(QStringLiteral("'%1' cannot be a file section").arg(section));
    }
    QString why;
    if (!isPublishableName(name, &why)) {
        return reject(QStringLiteral("section %1: %2").arg(section, why));
    }
    return true;
}

bool ProductIniWriter::checkFileLine(const QString &section, const QString &name) {
    if (!checkFileSection(section, name)) {
        return false;
    }
    if (name.endsWith(kPatchSuffix)) {
        return reject(QStringLiteral("file line '%1' would be read as a patch line").arg(name));
    }
    return true;
}

bool ProductIniWriter::reject(const QString &reason) {
    if (m_Error.isEmpty()) {
        m_Error = reason;
    }
    return false;
}

bool ProductIniWriter::append(const QString &section, const QString &key, const QStringList &value,
                              bool isList) {
    // A second value for a key would silently replace the first in the file.
    const QString id = section + QLatin1Char('\n') + key;
    if (m_Keys.contains(id)) {
        return reject(QStringLiteral("section %1: '%2' listed twice").arg(section, key));
    }
    m_Keys.insert(id);
    m_Lines.append(Line{section, key, value, isList});
    return true;
}
