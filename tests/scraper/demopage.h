#pragma once

#include <QByteArray>

#include <cstddef>

// The demo host's dashboard with four items of each kind, padded to about size bytes.
// (Built here: the host's own headers and the store's cannot meet in one file.)
QByteArray demoPage(std::size_t size);
