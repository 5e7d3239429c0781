#pragma once

#include <QString>

/// The release tool's access to the engine's compressed file container and
/// ensemble patches. The generators belong to the engine; this class only
/// adapts their entry points to QString paths and says whether this build
/// has them.
class ReleaseCodec {
public:
    ReleaseCodec() = delete;

    /// True when the engine of this build provides the container.
    static bool available();
    /// Compresses input into a container at output; tryExecutables asks the
    /// engine for its executable-aware form where it recognises the file.
    static bool compressFile(const QString &input, const QString &output, bool tryExecutables);
    /// Rebuilds the file from a container, as the updater does at install.
    static bool decompressFile(const QString &input, const QString &output);
    /// Writes an ensemble patch from oldFile to newFile at patch.
    static bool generatePatch(const QString &oldFile, const QString &newFile, const QString &patch);
    /// Applies patch to oldFile into output, as the updater's patch step.
    static bool applyPatch(const QString &oldFile, const QString &patch, const QString &output);
};
