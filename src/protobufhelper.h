#pragma once

// The updater's side of the version server answer: the per-channel map that
// travels from UpdateChecker to the configuration.

#include <QHash>
#include <QPair>
#include <QString>

/// Channel name -> (version number as decimal text, version text).
/// Registered as the meta type "UpdateVersions" at start-up because it
/// travels through signal connections.
using UpdateVersions = QHash<QString, QPair<QString, QString>>;

/// The entry of `channel` (0 "stable", 1 "beta", 2 "alpha"); two empty texts
/// for any other channel or when the map has no such entry.
QPair<QString, QString> versionForChannel(const UpdateVersions &versions, int channel);
