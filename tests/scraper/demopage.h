#pragma once

#include <QByteArray>

#include <cstddef>

// The demo host's dashboard with four items of each kind, padded to about size bytes.
// (Built here: the host's headers and ours both name an ItemKind, so they cannot meet.)
QByteArray demoPage(std::size_t size);
// The same text in EUC-KR, characters it lacks as numeric references.
QByteArray toEucKr(const QByteArray &utf8);
