#pragma once

#include "reader/readerprotocol.h"

// What the page reader does with a request: the page parsed as far as the dashboard's
// elements need (the whole page when asked), read, and the reading capped for its answer.
readerprotocol::Answer readPage(const readerprotocol::Request &request);

// Does now what the first readings would do lazily and could not do in the sandbox, where no
// file can be opened: builds every decoder's tables, opens the C library's converters and
// reads a built-in page once.
void prepareReading();
